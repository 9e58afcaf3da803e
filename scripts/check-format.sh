#!/usr/bin/env bash
# Checks every tracked .cpp and .h file against .clang-format.
#   scripts/check-format.sh         lists the files that are off; exits 1 when there is any
#   scripts/check-format.sh --fix   formats those files in place
set -euo pipefail
cd "$(dirname "$0")/.."

fix=false
case "${1:-}" in
"") ;;
--fix) fix=true ;;
*)
    echo "usage: scripts/check-format.sh [--fix]" >&2
    exit 2
    ;;
esac

command -v clang-format >/dev/null || {
    echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
    exit 2
}

off=()
while IFS= read -r -d '' file; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || off+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')

if [ ${#off[@]} -eq 0 ]; then
    echo "check-format: every file is formatted"
    exit 0
fi
if $fix; then
    clang-format -i "${off[@]}"
    printf 'formatted: %s\n' "${off[@]}"
    exit 0
fi
printf 'not formatted: %s\n' "${off[@]}"
echo "check-format: ${#off[@]} file(s) differ from .clang-format; scripts/check-format.sh --fix formats them" >&2
exit 1
