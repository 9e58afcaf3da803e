#!/usr/bin/env bash
# Fault soak of the engine against the simulated sender: ./tests/soak/run.sh [SECONDS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
./scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target vx4soak
args=(--seconds "$seconds")
[ -n "${2:-}" ] && args+=(--seed "$2")
exec build/bin/vx4soak "${args[@]}"
