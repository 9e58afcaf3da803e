#!/usr/bin/env bash
# Builds the Debian package orvelle-utility_VERSION_ARCH.deb into OUTDIR: the programs are built
# afresh in build-package/ (no tests, no benchmarks) with Debian's build flags, hardening
# included, then packed by CPack (packaging/cpack.cmake): stripped, dependencies from
# dpkg-shlibdeps, no maintainer scripts.
#   scripts/package.sh OUTDIR                       build and pack
#   scripts/package.sh --build-dir DIR OUTDIR       pack the programs of a build tree made already
#                                                   (./test.sh checks the packaging this way)
# Install it with "sudo apt install ./OUTDIR/orvelle-utility_*.deb"; scripts/check-package.sh
# checks it without installing it.
set -euo pipefail
usage="usage: scripts/package.sh [--build-dir DIR] OUTDIR"
build=""
if [ "${1:-}" = "--build-dir" ]; then
    [ $# -eq 3 ] || { echo "$usage" >&2; exit 2; }
    build=$(cd "$2" && pwd)
    shift 2
fi
[ $# -eq 1 ] || { echo "$usage" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."

if [ -z "$build" ]; then
    build=$PWD/build-package
    # What a Debian package build would use; CMake does not read CPPFLAGS, so it joins the others.
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
    launcher=()
    command -v ccache >/dev/null &&
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DTESTS=OFF -DBENCHMARKS=OFF \
        -DWERROR="${WERROR:-OFF}" -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)"
fi

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$PWD/cpack" >cpack.log) || {
    cat "$build/cpack.log" >&2
    exit 1
}
rm -f "$out"/orvelle-utility_*.deb
mv "$build"/cpack/orvelle-utility_*.deb "$out"/
deb=$(ls "$out"/orvelle-utility_*.deb)
echo "Package: $deb ($(du -k "$deb" | cut -f1) KiB; installed size $(dpkg-deb -f "$deb" Installed-Size) KiB)"
