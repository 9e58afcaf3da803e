#!/usr/bin/env bash
# Plants realistic one-line faults in the program, one at a time, and runs the suite against each:
# a fault the suite lets through is a place the tests do not look. Slow (a build and a suite run per
# fault, though only the test programs a fault's build relinks run against it), so it is run by
# hand, not in CI.
#   scripts/mutate.sh                  every fault of scripts/mutations.txt against this checkout
#   scripts/mutate.sh --tree DIR       against another source tree (e.g. an older checkout)
#   scripts/mutate.sh --only a,b       only the named faults
#   scripts/mutate.sh --list           print the faults and where each applies, build nothing
# The table goes to standard output and to build-mutate/result.md.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$here
only=""
list=0
while [ $# -gt 0 ]; do
    case "$1" in
    --tree) tree=$(cd "$2" && pwd); shift 2 ;;
    --only) only=$2; shift 2 ;;
    --list) list=1; shift ;;
    *) echo "usage: $0 [--tree DIR] [--only ID,...] [--list]" >&2; exit 2 ;;
    esac
done

mutations=$here/scripts/mutations.txt
tool=$here/scripts/mutation.py
work=$here/build-mutate
src=$work/src
mkdir -p "$work"

# A copy of the tree, so a fault never lands in the checkout even if this script is interrupted;
# its files get the time of the copy, so the build never keeps objects of an older copy.
rm -rf "$src"
mkdir -p "$src"
(cd "$tree" && tar --exclude=./.git --exclude='./build*' -cf - .) | (cd "$src" && tar -xmf -)

if [ "$list" = 1 ]; then
    python3 "$tool" list "$mutations" "$src" "$only"
    exit 0
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Each test program runs through a launcher that ends it at its first failing row: a fault that
# fails every row of a program after a long wait is known by its first. Python is named by its
# interpreter's own path, not a wrapper that looks on the PATH: one test runs without a PATH.
cmake -S "$src" -B "$work/build" -DBENCHMARKS=OFF "${launcher[@]}" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(python3 -c 'import sys; print(sys.executable)');$here/scripts/stop-at-first-failure" >/dev/null
build() { cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1; }
# No --timeout here: every test carries its own (add_vx4_test: 60 s, 180 s for integration and
# 240 s for GUI programs), which ctest puts before any default, so a fault that makes a test
# hang ends there.
# Against a fault, only the test programs its build relinked run (scripts/mutation.py reached):
# any other is byte for byte the program that passed the baseline.
selection=""
ctest_in() { (cd "$work/build" && ctest -j"$(nproc)" ${selection:+-R "$selection"} "$@"); }
# The suite's verdict on the tree as built: 0 when it passes (the fault survived); 1 when a test
# fails and fails again on its own (killed); 2 when, in two rounds, a test failed in the suite
# but passed alone (flaky: a loaded machine can make a timing test miss once, so that is no
# kill, and the fault is not shown to survive either).
suite() {
    local attempt
    for attempt in 1 2; do
        ctest_in --stop-on-failure >"$work/ctest.log" 2>&1 && return 0
        ctest_in --rerun-failed >"$work/rerun.log" 2>&1 || return 1
        echo "  (a test failed in the suite and passed alone: running the suite again)" >&2
    done
    return 2
}
first_failure() {
    local first
    first=$(grep -m1 -oE '[0-9]+ - [A-Za-z0-9_]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Child aborted|[A-Za-z ]+)\)' "$work/ctest.log" \
            | sed -E 's/^[0-9]+ - //' || true)
    [ -n "$first" ] || first=$(grep -m1 -E 'Failed|Timeout' "$work/ctest.log" | sed -E 's/ +/ /g' || true)
    echo "$first"
}

echo "Baseline: building and running the unchanged suite..." >&2
build || { echo "The unchanged tree does not build; see $work/build.log" >&2; exit 1; }
verdict=0
suite || verdict=$?
[ $verdict -eq 0 ] || {
    echo "The unchanged suite fails (or is flaky: $(first_failure)); see $work/ctest.log" >&2
    exit 1
}

result=$work/result.md
{
    echo "| fault | file | result | first failing test |"
    echo "|---|---|---|---|"
} | tee "$result"
killed=0
survived=0
flaky=0
for id in $(python3 "$tool" ids "$mutations" "$only"); do
    file=$(python3 "$tool" apply "$mutations" "$src" "$id") || {
        echo "| $id | - | not found in this tree | |" | tee -a "$result"
        continue
    }
    first=""
    touch "$work/stamp"
    sleep 1
    if ! build; then
        outcome="does not build"
    else
        verdict=0
        selection=$(python3 "$tool" reached "$work/build" "$work/stamp")
        if [ -n "$selection" ]; then
            suite || verdict=$?
        else
            first="no test program was relinked"
        fi
        case $verdict in
        0)
            outcome="**survived**"
            survived=$((survived + 1))
            ;;
        1)
            outcome="killed"
            first=$(first_failure)
            killed=$((killed + 1))
            ;;
        *)
            outcome="**flaky**"
            first="$(first_failure), passed alone"
            flaky=$((flaky + 1))
            ;;
        esac
    fi
    python3 "$tool" restore "$src" "$file"
    # Built back now, so the next fault's build relinks only what that fault touches.
    build || true
    echo "| $id | $file | $outcome | $first |" | tee -a "$result"
done
echo | tee -a "$result"
echo "Killed $killed, survived $survived, flaky $flaky (failed in the suite but passed alone, twice)." | tee -a "$result"
