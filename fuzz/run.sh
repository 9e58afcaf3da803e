#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, FUZZ=ON) and runs each in turn for SECONDS,
# starting from a scratch copy of its seed corpus in fuzz/corpus/ and its inputs in fuzz/regressions/.
#   fuzz/run.sh SECONDS [TARGET...]     targets: fuzz_receivepath fuzz_intelhex fuzz_package
# A crash, sanitizer report, leak, input slower than 10 s or allocation over 64 MB is a finding:
# the input lands in build-fuzz/findings/TARGET/, the log in build-fuzz/logs/, and the exit code is 1.
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: fuzz/run.sh SECONDS [TARGET...]"
seconds=${1:?$usage}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_receivepath fuzz_intelhex fuzz_package)

out=build-fuzz
# A smaller quarantine than AddressSanitizer's 256 MB keeps long runs modest on a shared machine.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}
mkdir -p "$out/logs"
echo "Building ${targets[*]} in $out/ ..."
if ! { CC=clang CXX=clang++ cmake -S . -B "$out" -DFUZZ=ON &&
    cmake --build "$out" -j2 --target "${targets[@]}"; } >"$out/logs/build.log" 2>&1; then
    tail -n 30 "$out/logs/build.log" >&2
    echo "fuzz/run.sh: build failed, see $out/logs/build.log" >&2
    exit 2
fi

found=0
report=()
for target in "${targets[@]}"; do
    corpus=$out/corpus/$target
    findings=$out/findings/$target
    log=$out/logs/$target.log
    rm -rf "$corpus" "$findings"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$target"/* "$corpus"/
    # The inputs behind earlier fixes start the search too.
    [ -d fuzz/regressions/"$target" ] && cp fuzz/regressions/"$target"/* "$corpus"/

    echo "Running $target for $seconds s ..."
    start=$(date +%s)
    result=clean
    if ! "$out/bin/$target" "$corpus" -max_total_time="$seconds" -malloc_limit_mb=64 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1; then
        result=FINDING
        found=1
    fi
    elapsed=$(($(date +%s) - start))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status")
    corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$status")
    report+=("$(printf '%-18s %6s s %12s runs  cov %5s  ft %6s  corpus %5s  %s' "$target" \
        "$elapsed" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result")")
    if [ "$result" = FINDING ]; then
        grep -E 'ERROR|SUMMARY|FUZZ CHECK FAILED|Test unit written' "$log" | head -n 10 >&2 || true
        echo "  log: $log" >&2
    fi
done

echo
printf '%s\n' "${report[@]}"
exit $found
