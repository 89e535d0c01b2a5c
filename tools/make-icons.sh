#!/usr/bin/env bash
# Renders res/tarnlight.svg into the PNG sizes of the hicolor icon theme
# (res/icons/tarnlight-SIZE.png), which the window and the package use.
set -euo pipefail
cd "$(dirname "$0")/../res"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" tarnlight.svg -o "icons/tarnlight-$size.png"
done
ls -l icons
