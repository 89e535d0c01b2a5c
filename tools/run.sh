#!/usr/bin/env bash
# Installs what Tarnlight needs, builds it, makes a demo image with its own
# tool and opens the window on it (or lists it where there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh build >/dev/null

cli=build/tarnlight-cli
demo=build/demo
mkdir -p "$demo"
cp README.md "$demo/README.md"
cp CMakeLists.txt "$demo/CMakeLists.txt"
head -c 20000 /dev/urandom > "$demo/GAME.BIN"
printf '10 PRINT "HELLO FROM TARNLIGHT"\r\n20 GOTO 10\r\n' > "$demo/HELLO.BAS"
"$cli" new --force "$demo/demo.dsk"
"$cli" put "$demo/demo.dsk" "$demo/README.md" "$demo/CMakeLists.txt" "$demo/GAME.BIN" "$demo/HELLO.BAS"
echo "Demo image: $demo/demo.dsk"
"$cli" ls "$demo/demo.dsk"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${TARNLIGHT_NO_WINDOW:-}" ]; then
    exec build/tarnlight "$demo/demo.dsk"
fi
echo "(No display: the window opens with build/tarnlight $demo/demo.dsk on a desktop.)"
