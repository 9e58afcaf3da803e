#!/usr/bin/env bash
# The test share of the code: non-blank, non-comment lines of .cpp/.h under tests/ against the
# program's folders. Benchmarks and fuzz targets are tools and count on neither side, except the
# fuzz entries' checks (each failure call and the condition before it), which decide a test's outcome.
#   scripts/linecount.sh            one line: tests, program and the share
#   scripts/linecount.sh --detail   the same per folder
set -euo pipefail
cd "$(dirname "$0")/.."

program_dirs=(protocol device firmware calibration history app common sim tools)
test_paths=(tests)

count() {
    local files
    files=$(git ls-files -- "$@" 2>/dev/null | grep -E '\.(cpp|h)$' || true)
    [ -n "$files" ] || { echo 0; return; }
    # shellcheck disable=SC2086
    cat $files | grep -c -v -E '^\s*(//.*)?$' || true
}

fuzz_checks() {
    git ls-files -- fuzz | grep -E '\.cpp$' | xargs -r grep -h -B1 -E '\bfail\(' | grep -c -v -E '^(--|\s*(//.*)?)$' || true
}

if [ "${1:-}" = "--detail" ]; then
    for d in "${program_dirs[@]}" "${test_paths[@]}"; do
        printf '%-24s %6d\n' "$d" "$(count "$d")"
    done
    printf '%-24s %6d\n' "fuzz checks" "$(fuzz_checks)"
fi
tests=$(($(count "${test_paths[@]}") + $(fuzz_checks)))
program=$(count "${program_dirs[@]}")
share=$(awk -v t="$tests" -v p="$program" 'BEGIN { printf "%.1f", p ? 100 * t / p : 0 }')
echo "Test share: ${tests} lines of tests for ${program} lines of program code (${share} %)."
