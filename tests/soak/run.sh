#!/usr/bin/env bash
# Fault soak of the engine against the simulated sender: ./tests/soak/run.sh [SECONDS] [SEED]
# Prints a summary and the invariants broken; exits non-zero when there are any.
set -euo pipefail
cd "$(dirname "$0")/../.."
./scripts/install-deps.sh build tests
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target tst_soak
export VX4_SOAK_SECONDS=${1:-600}
[ -n "${2:-}" ] && export VX4_SOAK_SEED=$2
# Qt Test ends a test function after 5 minutes; a loaded machine may run the soak up to 4 times
# its length before it has seen enough.
export QTEST_FUNCTION_TIMEOUT=$(((4 * VX4_SOAK_SECONDS + 300) * 1000))
exec build/bin/tst_soak
