#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: installs
# it with apt, lists an image with the installed tarnlight-cli, asks the
# desktop which file type a .dsk file is, validates the desktop entry, finds
# the manual pages, icon and completion, then removes the package again.
# Needs root (or sudo) for apt. Usage: tools/package-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi

tools/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || tools/build.sh "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
(cd "$build" && rm -f tarnlight_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$PWD/$build"/tarnlight_*.deb)
echo "== Installing $(basename "$deb")"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >/dev/null

work=$(mktemp -d)
cleanup() {
    rm -rf "$work"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y tarnlight >/dev/null 2>&1 || true
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

/usr/bin/tarnlight-cli --version
/usr/bin/tarnlight-cli new "$work/blank.dsk"
/usr/bin/tarnlight-cli put "$work/blank.dsk" README.md >/dev/null
/usr/bin/tarnlight-cli ls "$work/blank.dsk" | grep -q "README    md" || fail "ls of an image"
dskform -type edsk -format pcw180 "$work/extended.dsk" >/dev/null 2>&1
cp "$work/blank.dsk" "$work/by-magic"  # no extension: known by its first bytes
for file in blank.dsk extended.dsk by-magic; do
    type=$(xdg-mime query filetype "$work/$file")
    echo "$file: $type"
    [ "$type" = application/x-cpcemu-disk-image ] || fail "file type of $file is $type"
done
desktop-file-validate /usr/share/applications/tarnlight.desktop || fail "desktop entry"
[ "$(xdg-mime query default application/x-cpcemu-disk-image)" = tarnlight.desktop ] ||
    echo "note: no desktop default recorded for the type (no desktop session here)"
if grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "note: this system's dpkg leaves out manual pages; not checked"
else
    man -w tarnlight >/dev/null && man -w tarnlight-cli >/dev/null || fail "manual pages"
fi
[ -f /usr/share/bash-completion/completions/tarnlight-cli ] || fail "bash completion"
[ -f /usr/share/icons/hicolor/scalable/apps/tarnlight.svg ] || fail "icon"
[ -f /usr/share/icons/hicolor/48x48/apps/tarnlight.png ] || fail "icon"

echo "== Removing the package"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y tarnlight >/dev/null
for path in /usr/bin/tarnlight /usr/bin/tarnlight-cli /usr/share/applications/tarnlight.desktop \
    /usr/share/mime/packages/tarnlight.xml; do
    [ ! -e "$path" ] || fail "$path left behind"
done
echo "Package installed, used and removed cleanly."
