#!/usr/bin/env bash
# Installs the Debian packages a kind of run needs, and only those that are missing: a machine that
# has them all is left alone, without apt-get and without root.
#   scripts/install-deps.sh                    what ./test.sh needs (build, tests, package)
#   scripts/install-deps.sh build gui          what ./run.sh needs
#   scripts/install-deps.sh --list GROUP...    print the packages of the groups, install nothing
# Every name below is a real package, never a virtual one (libqt6serialport6-dev is only provided
# by qt6-serialport-dev): dpkg never reports a virtual name as installed, so one would send every
# run to apt-get again. A name that is still missing after the install is reported as an error.
set -euo pipefail

declare -A groups=(
    # Compiler, Qt and what the build makes: the user guide's HTML comes from cmark-gfm.
    [build]="build-essential cmake qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev
             libgl-dev libqt6sql6-sqlite cmark-gfm"
    # The suite: the PostgreSQL rows, reading PDFs back, objcopy's HEX files, the fuzz smoke and
    # the format check.
    [tests]="libqt6sql6-psql postgresql poppler-utils binutils clang libclang-rt-14-dev clang-format"
    # Building the Debian package and checking it (scripts/package.sh, scripts/check-package.sh).
    [package]="dpkg-dev file lintian desktop-file-utils appstream man-db"
    # The window on a Wayland desktop.
    [gui]="qt6-wayland"
    # The README's pictures, taken on a virtual display (scripts/screenshots.sh).
    [screenshots]="xvfb xauth"
)

list=0
if [ "${1:-}" = "--list" ]; then
    list=1
    shift
fi
[ $# -gt 0 ] || set -- build tests package

packages=()
for group in "$@"; do
    [ -n "${groups[$group]:-}" ] || { echo "install-deps.sh: no group \"$group\"" >&2; exit 2; }
    # shellcheck disable=SC2206 # the group is a list of words
    packages+=(${groups[$group]})
done
if [ "$list" = 1 ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

# The packages of "$@" that dpkg does not report as installed, in one query.
not_installed() {
    local have
    have=$(dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null | awk '/ install ok installed$/ { print $1 }' || true)
    for p in "$@"; do
        grep -qx -- "$p" <<<"$have" || echo "$p"
    done
}

mapfile -t missing < <(not_installed "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

mapfile -t still < <(not_installed "${missing[@]}")
if [ ${#still[@]} -gt 0 ]; then
    echo "install-deps.sh: not installed after apt-get: ${still[*]} (a virtual package name?)" >&2
    exit 1
fi
