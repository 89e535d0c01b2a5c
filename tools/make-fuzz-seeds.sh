#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora under tests/fuzz/seeds/ from images
# that tarnlight-cli, dskform and cpmcp write:
#   image/      geometry header + the first cylinders' sectors (FuzzImage)
#   container/  DSK and EDSK containers cut to their first cylinders, and a whole
#               raw dump (FuzzContainer)
# Usage: tools/make-fuzz-seeds.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build}/tarnlight-cli
seeds=tests/fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$seeds/image" "$seeds/container"
mkdir -p "$seeds/image" "$seeds/container"

head -c 3000 /dev/zero | tr '\0' 'A' > "$work/GAME.BIN"
head -c 17000 /dev/zero | tr '\0' 'B' > "$work/BIG.DAT"
printf 'hello\r\n' > "$work/README"

# name format diskdef cylinders heads sectors first-id
while read -r name format diskdef cyls heads secs first; do
    img="$work/$name.dsk"
    dskform -type dsk -format "$format" "$img" >/dev/null 2>&1
    cpmcp -T dsk -f "$diskdef" "$img" "$work/GAME.BIN" 0:GAME.BIN
    cpmcp -T dsk -f "$diskdef" "$img" "$work/BIG.DAT" 3:BIG.DAT
    cpmcp -T dsk -f "$diskdef" "$img" "$work/README" 0:README
    dsktrans -otype raw -last 2 "$img" "$work/$name.raw" >/dev/null 2>&1
    for fail in "0 0" "9 0" "0 2"; do
        set -- $fail
        header=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x\\x02\\x%02x\\x%02x' \
            "$cyls" "$heads" "$secs" "$first" "$1" "$2")
        { printf "$header"; cat "$work/$name.raw"; } > "$seeds/image/$name-fail$1-$2"
    done
    dsktrans -otype dsk -last 2 "$img" "$seeds/container/$name-dsk.dsk" >/dev/null 2>&1
    dsktrans -otype edsk -last 2 "$img" "$seeds/container/$name-edsk.dsk" >/dev/null 2>&1
    # Raw dumps are taken only whole (a cut one is no disk image).
    [ "$name" = pcw180 ] && dsktrans -otype raw "$img" "$seeds/container/$name.raw" >/dev/null 2>&1
done <<'LIST'
pcw180 pcw180 pcw 40 1 9 1
pcw720 pcw720 cf2dd 80 2 9 1
cpcdata cpcdata cpcdata 40 1 9 193
cpcsys cpcsys cpcsys 40 1 9 65
LIST

# An image made by tarnlight-cli itself, with a +3 disk specification.
own="$work/own.dsk"
"$cli" new --force "$own"
printf '\x00\x00\x28\x09\x02\x01\x03\x02\x2a\x52' > "$work/spec.bin"
"$cli" boot-write --force "$own" "$work/spec.bin"
"$cli" put "$own" "$work/GAME.BIN" "$work/BIG.DAT" "$work/README"
dsktrans -otype raw -last 2 "$own" "$work/own.raw" >/dev/null 2>&1
{ printf '\x28\x01\x09\x01\x02\x00\x00'; cat "$work/own.raw"; } > "$seeds/image/own-plus3"
dsktrans -otype dsk -last 2 "$own" "$seeds/container/own-dsk.dsk" >/dev/null 2>&1
ls -l "$seeds/image" "$seeds/container"
