#!/usr/bin/env bash
# Runs every benchmark and prints one table of the figures against their goals.
#   bench/run.sh            full runs (a few minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh build tests
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
bin=build/bin
export QT_QPA_PLATFORM=offscreen
tmp=$(mktemp -d)
export XDG_CONFIG_HOME=$tmp/config HOME=$tmp/home
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
trap 'rm -rf "$tmp"' EXIT

run() { echo "== $*" >&2; "$@" 2>/dev/null | tee -a "$tmp/out" >&2; }
run $bin/bench_receivepath 20000
run $bin/bench_hexparse
run $bin/bench_download 1024
run $bin/bench_startup 15
run $bin/bench_idle 20
run $bin/bench_streaming_memory
run $bin/bench_certificate 10
run $bin/bench_vx4ctl 15
run $bin/bench_history 15

echo
echo "| figure | goal | result |"
echo "|---|---|---|"
# "--" ends the options: a pattern such as "-> certificate" is not read as one.
pick() { grep -h -E -- "$1" "$tmp/out" | head -1 | sed -E "$2"; }
pick "us per frame" 's/.* ([0-9.]+) us per frame.*/| receive path CPU per frame, logging to a file | <= 20 us | \1 us |/'
pick "parse \\+ words" 's/.*median of [0-9]+: ([0-9.]+ ms).*/| HEX parse + words + rows of 1 MB | < 200 ms | \1 |/'
pick "median download ratio" 's/.*runs: ([0-9.]+);.*/| download of 1024 rows at 115200 baud, verified, time over a bare peer'"'"'s for the same exchanges | <= 1.05 | \1 |/'
pick "re-flash ratio" 's/.*re-flash ratio ([0-9.]+).*/| re-flash of the same image, time over the first flash | <= 0.40 | \1 |/'
pick "new-version ratio" 's/.*new-version ratio ([0-9.]+).*/| first flash of a new version, time over the first flash of an unknown one | <= 0.72 | \1 |/'
pick "echo ratio" 's/.*echo ratio ([0-9.]+).*/| rows full of 0x3C bytes through an echoing line, time over the same without echo | <= 1.2 | \1 |/'
grep -h "^peak memory" "$tmp/out" | sed -E 's/^peak memory, (.*): ([0-9.]+ MB of text), ([a-z]+), ([0-9.]+ MB) in .*\(bound ([0-9.]+ MB).*/| peak memory, \1 (\2, \3) | <= \5 | \4 |/'
pick "exec to shown" 's/.*median ([0-9.]+ ms).*/| start-up to the shown main window, offscreen | < 300 ms | \1 |/'
grep -h -E "idle connected" "$tmp/out" | sed -E 's/idle connected, ([a-z]+) mode.*= ([0-9.]+ %).*/| idle CPU while connected, \1 mode | < 1 % | \2 |/'
pick "-> certificate" 's/.*median +([0-9.]+) ms.*/| last verification answer to the shown certificate | < 1 s | \1 ms |/'
pick "-> PDF written" 's/.*median +([0-9.]+) ms.*/| last verification answer to the written PDF | < 1 s | \1 ms |/'
pick "vx4ctl status" 's/.*median ([0-9.]+ ms).*/| vx4ctl status, start to exit, 9600 baud | < 300 ms | \1 |/'
pick "four senders at once" 's/.*ratio ([0-9.]+).*/| vx4ctl flash to four senders at once over one, 9600 baud | <= 1.1 | \1 |/'
pick "first open in the process" 's/.*: ([0-9.]+ ms).*/| History window with 10,000 stored runs, menu to painted, first open | < 300 ms | \1 |/'
pick "menu to painted, later opens" 's/.*median +([0-9.]+) ms.*/| History window with 10,000 stored runs, menu to painted, later opens | < 300 ms | \1 ms |/'
pick "history opened for it" 's/.*median +([0-9.]+) ms.*max +([0-9.]+) ms.*/| a run stored into 10,000 (SQLite), median and slowest | < 50 ms | \1 ms, \2 ms |/'
echo "memory over an hour of streaming (see above): flat with the debug window closed; with it open it grows with the window's own text"
