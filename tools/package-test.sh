#!/usr/bin/env bash
# Builds the Debian packages from the source package in debian/ and checks
# them as a packager and a user would meet them: lintian (pedantic) with no
# error or warning, hardening-check on both programs, the one version number,
# then installs them with apt, creates and lists an image with the installed
# tarnlight-cli, starts the window offscreen for a moment, asks the desktop
# which file type a .dsk file is, validates the desktop entry and the
# AppStream metainfo, finds the manual pages, icon and completion, and
# removes the packages again, checking that nothing is left.
# Needs root (or sudo) for apt. Usage: tools/package-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
tools/install-deps.sh

work=$(mktemp -d)
cleanup() {
    rm -rf "$work"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y tarnlight tarnlight-cli \
        >/dev/null 2>&1 || true
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# Built from a copy of the tracked files, so that the tree's own build
# folders stay out of the source package and the .debs land in $work.
echo "== dpkg-buildpackage"
mkdir "$work/src"
git ls-files -z | xargs -0 cp --parents -t "$work/src"
(cd "$work/src" && dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1) ||
    { tail -40 "$work/build.log"; fail "dpkg-buildpackage"; }
cli_deb=$(ls "$work"/tarnlight-cli_*.deb)
ui_deb=$(ls "$work"/tarnlight_*.deb)

echo "== lintian --pedantic"
lintian --pedantic --tag-display-limit 0 "$work"/*.changes | tee "$work/lintian.txt" || true
if grep -E '^[EW]: ' "$work/lintian.txt"; then fail "lintian errors or warnings"; fi

version=$(cd "$work/src" && dpkg-parsechangelog -S Version)
metainfo=res/desktop/io.github.tarnlight.Tarnlight.metainfo.xml
grep -q "project(Tarnlight VERSION $version " CMakeLists.txt || fail "CMake version is not $version"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo release is not $version"
appstreamcli validate --no-net "$metainfo" || fail "AppStream metainfo"

echo "== Installing tarnlight-cli alone: no Qt"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$cli_deb" >/dev/null
if dpkg-query -W -f '${Depends}\n' tarnlight-cli | grep -qi qt; then fail "tarnlight-cli depends on Qt"; fi
for lib in $(ldd /usr/bin/tarnlight-cli | awk '{print $1}'); do
    case $lib in *Qt*) fail "tarnlight-cli links $lib" ;; esac
done
[ "$(/usr/bin/tarnlight-cli --version)" = "tarnlight-cli $version" ] || fail "--version is not $version"
echo "== Installing tarnlight"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$ui_deb" >/dev/null
# Debian 12's dpkg-buildflags adds no -fcf-protection (CET), which
# hardening-check looks for; every other check must pass.
hardening-check --nocfprotection /usr/bin/tarnlight-cli /usr/bin/tarnlight || fail "hardening-check"

/usr/bin/tarnlight-cli new "$work/blank.dsk"
/usr/bin/tarnlight-cli put "$work/blank.dsk" README.md >/dev/null
/usr/bin/tarnlight-cli ls "$work/blank.dsk" | grep -q "README    MD" || fail "ls of an image"
# The window runs until it is stopped; a crash at start would end it sooner.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/tarnlight "$work/blank.dsk" || status=$?
[ "$status" -eq 124 ] || fail "the window ended with status $status"
dskform -type edsk -format pcw180 "$work/extended.dsk" >/dev/null 2>&1
cp "$work/blank.dsk" "$work/by-magic"  # no extension: known by its first bytes
for file in blank.dsk extended.dsk by-magic; do
    type=$(xdg-mime query filetype "$work/$file")
    echo "$file: $type"
    [ "$type" = application/x-cpcemu-disk-image ] || fail "file type of $file is $type"
done
desktop-file-validate /usr/share/applications/tarnlight.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/io.github.tarnlight.Tarnlight.metainfo.xml ||
    fail "installed metainfo"
if grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "note: this system's dpkg leaves out manual pages; not checked"
else
    man -w tarnlight >/dev/null && man -w tarnlight-cli >/dev/null || fail "manual pages"
fi
[ -f /usr/share/bash-completion/completions/tarnlight-cli ] || fail "bash completion"
[ -f /usr/share/icons/hicolor/scalable/apps/tarnlight.svg ] || fail "icon"
[ -f /usr/share/icons/hicolor/48x48/apps/tarnlight.png ] || fail "icon"

echo "== Removing the packages"
files=$(dpkg -L tarnlight tarnlight-cli | sort -u)
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y tarnlight tarnlight-cli >/dev/null
for path in $files; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "$path left behind"
done
echo "Packages built, checked, installed, used and removed cleanly."
