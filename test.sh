#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs every test.
#   ./test.sh               the whole suite
#   ./test.sh --sanitize    the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
# The normal run then packs the programs as the Debian package (build/package/) and checks it
# without installing it, and ends with a short smoke of each fuzz target (fuzz/run.sh, build-fuzz/).
# WERROR=ON ./test.sh turns compiler warnings into errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")"

build_dir=build
cmake_args=(-DWERROR="${WERROR:-OFF}")
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-asan
    cmake_args+=(-DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    shift
fi

./scripts/install-deps.sh build tests package
cmake -S . -B "$build_dir" "${cmake_args[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
(cd "$build_dir" && ctest --output-on-failure -j"$(nproc)" "$@")

[ "$build_dir" = build ] || exit 0
scripts/package.sh --build-dir build build/package
scripts/check-package.sh build/package/orvelle-utility_*.deb
fuzzer_lib="$(clang++ -print-resource-dir 2>/dev/null || true)/lib/linux/libclang_rt.fuzzer-$(uname -m).a"
if command -v clang++ >/dev/null && [ -f "$fuzzer_lib" ]; then
    fuzz/run.sh 5
else
    echo "Note: clang++ with libFuzzer is not installed, so the fuzz smoke was skipped."
fi
scripts/linecount.sh
