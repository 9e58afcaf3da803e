#!/usr/bin/env bash
# Makes the user guide that Help -> User Guide opens: the README's sections for people who use
# the programs, as HTML (cmark-gfm), with the pictures they show.
#   packaging/user-guide.sh README.md OUTDIR      writes OUTDIR/index.html and its pictures
# Left out are the sections for people who build the project; the installed programs are on
# the PATH, so "build/bin/" is dropped from their names.
set -euo pipefail
readme=$1
out=$2
builders='Try it|Installing|Tests|Speed and robustness|Layout|Licence'

# The title and the introduction (all before the first section), then every section not named in
# $builders.
text=$(awk -v skip="^(${builders})$" '
    /^## / { started = 1; keep = substr($0, 4) !~ skip }
    !started || keep { print }
' "$readme")
text=$(sed 's#build/bin/##g' <<<"$text")

rm -rf "$out"
mkdir -p "$out"
title=$(sed -n 's/^# //p' <<<"$text" | head -n 1)
{
    printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
    printf '<title>%s</title>\n' "$title"
    printf '<style>body{max-width:52em;margin:2em auto;padding:0 1em;font-family:sans-serif;'
    printf 'line-height:1.45}img{max-width:100%%}code,pre{background:#f3f4f6}'
    printf 'pre{padding:.6em;overflow-x:auto}table{border-collapse:collapse}'
    printf 'td,th{border:1px solid #ccc;padding:.2em .5em}</style>\n</head>\n<body>\n'
    cmark-gfm --extension table --extension autolink <<<"$text"
    printf '</body>\n</html>\n'
} >"$out/index.html"

# The pictures, at the same relative paths as in the README.
base=$(dirname "$readme")
grep -oE '\]\([^)]+\.png\)' <<<"$text" | sed -E 's/^\]\(//; s/\)$//' | sort -u | while read -r picture; do
    mkdir -p "$out/$(dirname "$picture")"
    cp "$base/$picture" "$out/$picture"
done
