#!/usr/bin/env bash
# Takes docs/screenshot-main.png: the real utility, connected to vx4sim, on a virtual X display.
# Needs Xvfb, xdotool and ImageMagick (apt-get install xvfb xdotool imagemagick) and a build in
# build/. Nothing outside a temporary folder is touched: the utility gets its own settings home.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tmp=$(mktemp -d)
display=:97
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

port=/tmp/vx4sim-port
build/bin/vx4sim --link "$port" --serial 2417 --firmware 1.3 --cal-date "2024-03-05 14:20" \
    --ad-offset 212 --pressure 1487 --wobble 2 </dev/null >"$tmp/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L "$port" ] && break; sleep 0.1; done

mkdir -p "$tmp/config/Ostrand"
printf '[serialsetup]\nserialport=%s\n[MainWindow]\nposition=@Point(0 0)\n' "$port" \
    >"$tmp/config/Ostrand/VX Lite Tarrow.conf"
XDG_CONFIG_HOME="$tmp/config" HOME="$tmp" VX4_EXTRA_PORTS="$port" QT_QPA_PLATFORM=xcb \
    build/bin/orvelle-utility >"$tmp/utility.log" 2>&1 &
pids+=($!)

window=$(xdotool search --sync --onlyvisible --name "Firmware & Calibration Utility" | head -1)
sleep 1
# The Open button: last row of the window, right of the port list.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH - 65)) $((HEIGHT - 56)) click 1
sleep 3
xdotool mousemove 790 590
sleep 0.5
import -window "$window" "$root/docs/screenshot-main.png"
echo "Wrote docs/screenshot-main.png (${WIDTH}x${HEIGHT})"
