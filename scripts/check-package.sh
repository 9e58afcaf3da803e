#!/usr/bin/env bash
# Checks a Debian package of the utility without installing it: unpacked with dpkg-deb -x beside
# the package, its files are validated with the desktop's own tools, lintian judges the package,
# and the unpacked programs are run. Exits 1 when any check fails.
#   scripts/check-package.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "${1:?usage: scripts/check-package.sh PACKAGE.deb}")
cd "$(dirname "$0")/.."
root=$(dirname "$deb")/unpacked
rm -rf "$root"
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"

version=$(dpkg-deb -f "$deb" Version)
share=$root/usr/share
failed=0
checks=0
log=$(dirname "$deb")/check.log
: >"$log"

# check WHAT COMMAND...: runs COMMAND; its output goes to the log, and to the screen on failure.
check() {
    local what=$1 output
    shift
    checks=$((checks + 1))
    if output=$("$@" 2>&1); then
        printf '%s\n%s\n' "ok: $what" "$output" >>"$log"
    else
        failed=$((failed + 1))
        printf '%s\n%s\n' "FAILED: $what" "$output" | tee -a "$log" >&2
    fi
}

has_files() {
    local missing=0 f
    for f in "$@"; do
        [ -f "$root/$f" ] || { echo "missing: /$f"; missing=1; }
    done
    return $missing
}

icon_sizes=(16 22 24 32 48 64 128 256)
icon_files=()
for size in "${icon_sizes[@]}"; do
    icon_files+=("usr/share/icons/hicolor/${size}x$size/apps/orvelle-utility.png")
done
check "the programs, menu entry, icons, metainfo, manuals, completion and documents" has_files \
    usr/bin/orvelle-utility usr/bin/vx4ctl usr/bin/vx4sim usr/bin/vx4pack \
    usr/share/applications/orvelle-utility.desktop \
    usr/share/icons/hicolor/scalable/apps/orvelle-utility.svg \
    "${icon_files[@]}" \
    usr/share/metainfo/example.ostrand_mfg.OrvelleUtility.metainfo.xml \
    usr/share/man/man1/{orvelle-utility,vx4ctl,vx4sim,vx4pack}.1.gz \
    usr/share/bash-completion/completions/vx4ctl \
    usr/share/doc/orvelle-utility/copyright usr/share/doc/orvelle-utility/changelog.gz \
    usr/share/orvelle-utility/user-guide/index.html

png_sizes() {
    local size
    for size in "${icon_sizes[@]}"; do
        file "$share/icons/hicolor/${size}x$size/apps/orvelle-utility.png" |
            grep -q "PNG image data, $size x $size," || { echo "not ${size}x$size"; return 1; }
    done
}
check "every PNG icon has the size of its folder" png_sizes

desktop=$share/applications/orvelle-utility.desktop
check "desktop-file-validate" desktop-file-validate "$desktop"

icon_resolves() {
    local icon
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    ls "$share"/icons/hicolor/*/apps/"$icon".{png,svg} 2>/dev/null | grep . ||
        { echo "no icon named \"$icon\" under $share/icons/hicolor"; return 1; }
}
check "the desktop entry's Icon names an installed icon" icon_resolves

window_class() {
    # X11 gives the window the program's file name as its instance name, Wayland the desktop
    # file name the program sets; both must name this entry.
    grep -qx 'StartupWMClass=orvelle-utility' "$desktop" && grep -qx 'Exec=orvelle-utility' "$desktop"
}
check "the desktop entry's window class and command are the program's name" window_class

metainfo=$share/metainfo/example.ostrand_mfg.OrvelleUtility.metainfo.xml
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
check "the metainfo's release is the package's version" \
    grep -q "<release version=\"$version\"" "$metainfo"

man_page() {
    local out
    out=$(MANWIDTH=80 man -l --warnings=all "$1" 2>&1 >/dev/null) || return 1
    [ -z "$out" ] || { echo "$out"; return 1; }
    MANWIDTH=80 man -l "$1" 2>/dev/null | grep -q '^NAME'
}
for program in orvelle-utility vx4ctl vx4sim vx4pack; do
    check "man -l $program.1" man_page "$share/man/man1/$program.1.gz"
done

check "lintian" lintian --fail-on error,warning "$deb"

no_maintainer_scripts() {
    local scripts
    scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
    [ -z "$scripts" ] || { echo "maintainer scripts: $scripts"; return 1; }
}
check "no maintainer scripts" no_maintainer_scripts

# The unpacked programs run: their version is the package's.
export QT_QPA_PLATFORM=offscreen
for program in orvelle-utility vx4ctl vx4sim vx4pack; do
    check "$program --version" grep -qx "$program $version" \
        <(LD_LIBRARY_PATH="" "$root/usr/bin/$program" --version 2>&1)
done

# What the programs take, their manual pages and vx4ctl's completion must agree.
options_documented() {
    local help=$1 page=$2 option missing=0
    for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u); do
        [ "$option" = --help-all ] && continue
        zcat "$page" | grep -q -- "$(sed 's/-/\\\\-/g' <<<"$option")" ||
            { echo "$option is not in $(basename "$page")"; missing=1; }
    done
    return $missing
}
for program in orvelle-utility vx4ctl vx4sim vx4pack; do
    check "every option of $program --help is in its manual page" options_documented \
        "$("$root/usr/bin/$program" --help 2>&1)" "$share/man/man1/$program.1.gz"
done
completion_knows() {
    local option missing=0
    for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$1" | sort -u); do
        grep -q -- "$option\b" "$share/bash-completion/completions/vx4ctl" ||
            { echo "$option is not completed"; missing=1; }
    done
    return $missing
}
check "the completion offers every option of vx4ctl --help" completion_knows \
    "$("$root/usr/bin/vx4ctl" --help 2>&1)"

# The package's description and the window's "Permission denied" box give the same advice.
same_advice() {
    dpkg-deb -f "$deb" Description | grep -q 'usermod -aG dialout' &&
        grep -qa 'usermod -aG dialout' "$root/usr/bin/orvelle-utility"
}
check "the package and the window both name the dialout group" same_advice

guide_pictures() {
    local guide=$share/orvelle-utility/user-guide picture missing=0
    for picture in $(grep -oE '<img src="[^"]+"' "$guide/index.html" | sed -E 's/<img src="//; s/"$//'); do
        [ -f "$guide/$picture" ] || { echo "missing picture: $picture"; missing=1; }
    done
    return $missing
}
check "the user guide's pictures are installed beside it" guide_pictures

echo "Package check of $(basename "$deb"): $((checks - failed)) of $checks checks passed ($(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB)."
[ $failed -eq 0 ]
