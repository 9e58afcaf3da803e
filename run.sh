#!/usr/bin/env bash
# Builds the utility and starts it together with a simulated sender, so it can be tried without
# hardware: the port build/vx4sim-port is preselected (through VX4_PORT); press Open.
#   ./run.sh                   the utility
#   ./run.sh -ShowSetSerial    switches are passed on (see README.md)
# The simulator's output goes to build/vx4sim.log. To talk to a real sender, run
# build/bin/orvelle-utility directly.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

./scripts/install-deps.sh build gui
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target orvelle-utility vx4sim-program

port="$root/build/vx4sim-port"
log="$root/build/vx4sim.log"
rm -f "$port"
build/bin/vx4sim --link "$port" </dev/null >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT

for _ in $(seq 100); do
    [ -L "$port" ] && break
    if ! kill -0 "$sim" 2>/dev/null; then
        echo "The simulated sender did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.05
done
echo "Simulated sender on $port (log: $log)"

# The simulator's port is offered and preselected through the environment; the user's settings
# (and the port they remember) are left alone.
VX4_PORT="$port" VX4_EXTRA_PORTS="$port${VX4_EXTRA_PORTS:+:$VX4_EXTRA_PORTS}" \
    build/bin/orvelle-utility "$@"
