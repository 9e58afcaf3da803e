#!/usr/bin/env bash
# Takes the README's screenshots (docs/images/) from the real windows under Xvfb, against a simulated
# sender, with a throw-away home, settings and calibration history.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/install-deps.sh build tests screenshots
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target vx4screenshots

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p docs/images "$scratch/home" "$scratch/config" "$scratch/data"
(cd "$scratch/home" &&
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
        VX4_TEST_TMP="$scratch" xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$root/build/bin/vx4screenshots" "$root/docs/images")
