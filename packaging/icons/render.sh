#!/usr/bin/env bash
# Renders the icon's PNG sizes from orvelle-utility.svg with rsvg-convert (Debian package
# librsvg2-bin). Its output is committed, so a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" orvelle-utility.svg -o "orvelle-utility-$size.png"
done
