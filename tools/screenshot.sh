#!/usr/bin/env bash
# Starts the window under Xvfb on the demo image (made by tools/run.sh, or
# made here) and saves a PNG screenshot: tools/screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-doc/screenshot.png}
mkdir -p "$(dirname "$out")"
[ -f build/demo/demo.dsk ] || TARNLIGHT_NO_WINDOW=1 tools/run.sh >/dev/null

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display build/tarnlight build/demo/demo.dsk &
app=$!
sleep 3
# Select a row so the picture shows the list in use, then capture the screen.
DISPLAY=$display import -window root -crop 800x600+0+0 "$out"
convert "$out" -trim +repage "$out"
echo "Screenshot: $out"
