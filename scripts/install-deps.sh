#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
set -euo pipefail

packages=(
    build-essential cmake
    qt6-base-dev libqt6serialport6-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
    libqt6sql6-sqlite libqt6sql6-psql postgresql
    poppler-utils binutils
    clang libclang-rt-14-dev
    clang-format
)
[ "${1:-}" = "--gui" ] && packages+=(qt6-wayland)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
