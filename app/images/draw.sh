#!/usr/bin/env bash
# Draws the program's icon (beside this script) and the calibration logos (in calibration/images)
# with ImageMagick; its output is committed, so a build needs no ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

font=DejaVu-Sans-Bold
navy='#1f3a5f'
steel='#c9d3dd'
accent='#e0802b'

# Icon: a gauge dial with a needle near full scale, drawn at 256 px and reduced for the ICO.
convert -size 256x256 xc:none \
    -fill "$navy" -draw 'circle 128,128 128,8' \
    -fill "$steel" -draw 'circle 128,128 128,26' \
    -stroke "$navy" -strokewidth 6 -fill none -draw 'circle 128,128 128,50' \
    -stroke none -fill "$steel" -draw 'polygon 128,128 195,195 128,223 61,195' \
    -stroke "$accent" -strokewidth 10 -draw 'line 128,128 190,80' \
    -stroke none -fill "$navy" -draw 'circle 128,128 128,112' \
    -font "$font" -pointsize 40 -fill "$navy" -gravity south -annotate +0+34 'VX' \
    icon-256.png
convert icon-256.png -define icon:auto-resize=256,64,48,32,16 'VX5 Tarrow.ico'

# Vertical wizard watermark, 150 x 288: the maker's name down a navy band above a dial.
convert -size 150x288 "xc:$navy" \
    -stroke "$steel" -strokewidth 5 -fill none -draw 'circle 75,75 75,25' \
    -stroke none -fill "$navy" -draw 'polygon 75,75 130,107 75,140 20,107' \
    -stroke "$accent" -strokewidth 6 -draw 'line 75,75 112,48' \
    -stroke none -fill "$steel" -draw 'circle 75,75 75,66' \
    \( -size 150x60 xc:none -font "$font" -pointsize 25 -fill white -gravity center \
       -annotate +0+0 'ORVELLE' \) -gravity north -geometry +0+150 -composite \
    -font "$font" -pointsize 13 -fill "$steel" -gravity north -annotate +0+205 'PRESSURE' \
    -annotate +0+225 'SENDERS' \
    -stroke "$accent" -strokewidth 3 -draw 'line 30,262 120,262' \
    PNG32:../../calibration/images/Orvelle_logo-vertical-150x288.png

# Certificate logo: the maker's word mark with a rule beneath.
convert -size 420x120 xc:white \
    -fill "$navy" -draw 'roundrectangle 10,14 106,106 14,14' \
    -fill white -font "$font" -pointsize 64 -gravity northwest -annotate +32+18 'O' \
    -fill "$navy" -pointsize 48 -annotate +124+16 'OSTRAND' \
    -fill "$accent" -draw 'rectangle 124,78 404,84' \
    -fill "$navy" -font DejaVu-Sans -pointsize 15 -annotate +126+90 'MANUFACTURING, INC.' \
    PNG32:../../calibration/images/ostrand.png
rm -f icon-256.png
