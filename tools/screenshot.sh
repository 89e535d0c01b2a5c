#!/usr/bin/env bash
# Pictures of the window under Xvfb with a window manager (openbox), so that
# captions show as a user sees them: tools/screenshot.sh [FOLDER]
#   screenshot.png       the window on the demo image (made by tools/run.sh, or here)
#   viewer-listing.png   a +3 BASIC program in its viewer, with the file's facts
#   viewer-screen.png    a SCREEN$ in its viewer
#   properties.png       Properties... of a file: its user number and attributes
#   read-only.png        an image whose directory cannot be read whole, as opened
#   delete-failure.png   Delete of three files of that image: one box listing each
#   load-error.png       a file that is no disk image: the message, the file and why
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-doc}
mkdir -p "$out"
for tool in Xvfb openbox xdotool import; do
    command -v "$tool" >/dev/null || {
        if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
        "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y xvfb openbox xdotool imagemagick
        break
    }
done
[ -f build/demo/demo.dsk ] || TARNLIGHT_NO_WINDOW=1 tools/run.sh >/dev/null
cli=build/tarnlight-cli
work=$(mktemp -d)

export DISPLAY=:$((90 + RANDOM % 9))
Xvfb "$DISPLAY" -screen 0 1000x700x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
trap 'kill $app 2>/dev/null || true; kill $wm $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

shoot() { # NAME
    import -window root "$out/$1"
    convert "$out/$1" -trim +repage "$out/$1"
    echo "Screenshot: $out/$1"
}

build/tarnlight build/demo/demo.dsk &
app=$!
sleep 3
shoot screenshot.png
kill $app
wait $app 2>/dev/null || true

# A file that is no disk image: the message and, below it, the file and why.
head -c 5000 /dev/urandom > "$work/notes.dsk"
build/tarnlight "$work/notes.dsk" &
app=$!
sleep 3
shoot load-error.png
xdotool key Return
sleep 1
kill $app
wait $app 2>/dev/null || true

# Twenty files, then the first directory sector's size code made 256 bytes:
# the first files cannot be read, the image opens for reading only.
"$cli" new "$work/old-disk.dsk"
for i in $(seq 1 20); do
    head -c $((i * 300)) /dev/urandom > "$work/FILE$(printf %02d "$i").BIN"
done
"$cli" put "$work/old-disk.dsk" "$work"/FILE*.BIN
printf '\001' | dd of="$work/old-disk.dsk" bs=1 seek=$((0x100 + 0x1300 + 0x18 + 3)) conv=notrunc 2>/dev/null
build/tarnlight "$work/old-disk.dsk" &
app=$!
sleep 3
xdotool key Return # "Unable to read directory"
sleep 1
shoot read-only.png
xdotool key Return
sleep 1
window=$(xdotool getactivewindow)
# The first three rows, then Delete (positions inside the fixed-size window).
xdotool mousemove --window "$window" 64 65 click 1
xdotool mousemove --window "$window" 64 91 keydown shift click 1 keyup shift
xdotool mousemove --window "$window" 440 88 click 1
sleep 1
shoot delete-failure.png
kill $app
wait $app 2>/dev/null || true

# The viewer and the Properties dialog, on a disk with a BASIC program and
# a SCREEN$ (a checkerboard of 16-pixel squares in bands of colour).
cat > "$work/loader.txt" <<'BASIC'
10 REM Tarnlight demo loader
20 BORDER 0: PAPER 0: INK 7: CLS
30 PRINT AT 10,6; BRIGHT 1;"LOADING THE GAME"
40 LOAD "SCREEN"SCREEN$
50 LOAD "GAME"CODE 32768
60 RANDOMIZE USR 32768
BASIC
python3 - "$work/screen.bin" <<'PYTHON'
import sys
def line_of(i):  # the screen line a bitmap byte is on
    return ((i >> 8) & 7) | ((i >> 2) & 0x38) | ((i >> 5) & 0xC0)
bitmap = bytes(0xFF if ((i & 31) // 2 + line_of(i) // 16) % 2 == 0 else 0 for i in range(6144))
attributes = bytes(0x40 | (row // 3 % 8) << 3 | (col // 4 % 8) for row in range(24) for col in range(32))
open(sys.argv[1], "wb").write(bitmap + attributes)
PYTHON
"$cli" new "$work/viewer.dsk"
"$cli" put --plus3 basic:10 --tokenize --as DISK "$work/viewer.dsk" "$work/loader.txt"
"$cli" put --plus3 code:16384 --as SCREEN "$work/viewer.dsk" "$work/screen.bin"
build/tarnlight "$work/viewer.dsk" &
app=$!
sleep 3
window=$(xdotool getactivewindow)
shoot_active() { # NAME
    import -window "$(xdotool getactivewindow)" "$out/$1"
    echo "Screenshot: $out/$1"
}
xdotool mousemove --window "$window" 64 65 click --repeat 2 1
sleep 2
shoot_active viewer-listing.png
xdotool key alt+F4
sleep 1
xdotool mousemove --window "$window" 64 78 click --repeat 2 1
sleep 2
shoot_active viewer-screen.png
xdotool key alt+F4
sleep 1
xdotool mousemove --window "$window" 64 65 click 3
sleep 1
xdotool key p
sleep 2
shoot_active properties.png
xdotool key Escape
