#!/usr/bin/env bash
# The test share of the code: non-blank, non-comment lines of .cpp/.h of the tests against those
# of the program's folders.
#   tests:    everything under tests/ (the helpers in tests/support/ too), and fuzz/fuzzchecks.*:
#             the checks every fuzz input must pass, compiled into tst_fuzzinputs as well as into
#             the fuzz targets, so they decide test outcomes; they count whole, as test helpers do.
#   neither:  the rest of fuzz/ (fuzzentries.* turn the fuzzer's bytes into calls of the checks,
#             fuzztarget.cpp is libFuzzer's entry, makeseeds.cpp writes seeds), bench/, and files
#             that are not C++ (scripts such as scripts/check-package.sh, CMake, packaging/).
#   scripts/linecount.sh            one line: tests, program and the share
#   scripts/linecount.sh --detail   the same per folder
set -euo pipefail
cd "$(dirname "$0")/.."

program_dirs=(protocol device firmware calibration history app common sim tools)
test_paths=(tests fuzz/fuzzchecks.cpp fuzz/fuzzchecks.h)

count() {
    local files
    files=$(git ls-files -- "$@" 2>/dev/null | grep -E '\.(cpp|h)$' || true)
    [ -n "$files" ] || { echo 0; return; }
    # shellcheck disable=SC2086
    cat $files | grep -c -v -E '^\s*(//.*)?$' || true
}

if [ "${1:-}" = "--detail" ]; then
    for d in "${program_dirs[@]}" "${test_paths[@]}"; do
        printf '%-24s %6d\n' "$d" "$(count "$d")"
    done
fi
tests=$(count "${test_paths[@]}")
program=$(count "${program_dirs[@]}")
share=$(awk -v t="$tests" -v p="$program" 'BEGIN { printf "%.1f", p ? 100 * t / p : 0 }')
echo "Test share: ${tests} lines of tests for ${program} lines of program code (${share} %)."
