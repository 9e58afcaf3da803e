#!/usr/bin/env bash
# Rewrites the seed corpora in fuzz/corpus/: frames from fuzz_makeseeds, Intel HEX from objcopy,
# packages from vx4pack. Needs build-fuzz/ (fuzz/run.sh makes it) and objcopy.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build-fuzz/bin
cmake --build build-fuzz -j2 --target fuzz_makeseeds vx4pack >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

corpus=fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus/fuzz_receivepath" "$corpus/fuzz_intelhex" "$corpus/fuzz_package"

"$bin/fuzz_makeseeds" "$corpus/fuzz_receivepath"

# A binary of `size` bytes that differ from their neighbours, the same on every run.
binary() {
    local size=$1 out=$2 i escapes=""
    for ((i = 0; i < size; i++)); do
        escapes+=$(printf '\\x%02x' $(((i * 37 + 11) & 255)))
    done
    printf '%b' "$escapes" >"$out"
}

hex="$corpus/fuzz_intelhex"
binary 96 "$work/image.bin"
binary 33 "$work/odd.bin"
objcopy -I binary -O ihex "$work/image.bin" "$hex/objcopy-lf.hex"
sed 's/$/\r/' "$hex/objcopy-lf.hex" >"$hex/objcopy-crlf.hex"
# Data on both sides of a 64 KiB boundary (segment address records) and above 1 MiB (extended
# linear address records).
objcopy -I binary -O ihex --change-addresses 0xfff0 "$work/image.bin" "$hex/segment-address.hex"
objcopy -I binary -O ihex --change-addresses 0x1ffff0 "$work/image.bin" "$hex/linear-address.hex"
objcopy -I binary -O ihex --set-start 0x200 "$work/image.bin" "$hex/start-address.hex"
objcopy -I binary -O ihex "$work/odd.bin" "$hex/refused-odd-image.hex"
sed '1s/..$/00/' "$hex/objcopy-lf.hex" >"$hex/refused-checksum.hex"

pkg="$corpus/fuzz_package"
pack() {
    "$bin/vx4pack" --date 2014-03-05T09:07:00 "$@"
}
pack --version 1.7 --description "Seed image" -o "$pkg/small.vx4f" "$hex/objcopy-crlf.hex"
pack --version 2.5 --description "Zero drift fixed – Ölprüfung" -o "$pkg/linear-address.vx4f" \
    "$hex/linear-address.hex"
pack --version 0.6 --no-check -o "$pkg/odd-image.vx4f" "$hex/refused-odd-image.hex"
head -c 120 "$pkg/small.vx4f" >"$pkg/refused-cut.vx4f"
cp "$pkg/small.vx4f" "$pkg/refused-altered.vx4f"
printf 'X' | dd of="$pkg/refused-altered.vx4f" bs=1 seek=40 conv=notrunc status=none

echo "Seeds: $(find "$corpus" -type f | wc -l) files, $(find "$corpus" -type f -exec cat {} + | wc -c) bytes"
