#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora under tests/fuzz/seeds/ from images
# that tarnlight-cli, dskform and cpmcp write:
#   image/      geometry header + the first cylinders' sectors (FuzzImage)
#   container/  DSK and EDSK containers cut to their first cylinders, and a whole
#               raw dump (FuzzContainer)
#   harddisk/   small +3e hard-disk images: a 32K +3DOS partition holding two
#               files, in an RS-IDE v1.1, a halved v1.0 and an 8-bit raw image
#               (FuzzHardDisk)
# Usage: tools/make-fuzz-seeds.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build}/tarnlight-cli
seeds=tests/fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$seeds/image" "$seeds/container" "$seeds/harddisk"
mkdir -p "$seeds/image" "$seeds/container" "$seeds/harddisk"

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
# Hard disks of 1 head and 4 sectors a track; the partition on 32K from
# cylinder 1 (1K blocks, 32 entries); its directory and files byte by byte.
for kind in v11 v10-halved raw-8bit; do
    KIND=$kind perl -e '
        my $kind = $ENV{KIND};
        my $bytes = $kind eq "v11" ? 512 : 256;
        sub entry { my ($name, $type, $sc, $ec, $extra) = @_;
            pack("A16 C v C v C V x5", $name, $type, $sc, 0, $ec, 0, 0) . pack("a32", $extra) }
        my $track = 4 * $bytes;
        my $last = 32768 / $track;
        my $disk = entry("PLUSIDEDOS", 1, 0, 0, pack("v C C v v", $last + 5, 1, 4, 4, 2))
            . entry("FILES", 3, 1, $last, pack("v C C C v v C C v v C C", $track / 128, 3, 7, 0, 31, 31, 0x80, 0, 0, 0, 2, 3));
        $disk .= "\0" x ($track - length $disk);
        my $dir = pack("C A8 A3 C4 C16", 0, "GAME", "BIN", 0, 0, 0, 24, 1, 2, 3)
            . pack("C A8 A3 C4 C16", 3, "README", "", 0, 0, 0, 1, 4);
        $dir .= "\xe5" x (1024 - length $dir);
        $disk .= $dir . ("A" x 3072) . "hello\r\n" . ("\x1a" x 121) . ("\0" x (32768 - 1024 - 3200));
        $disk .= "\0" x (4 * $track);
        if ($kind eq "raw-8bit") { print join("", map { $_ . "\0" } split(//, $disk)); }
        elsif ($kind eq "v11") { print pack("a7 C C v", "RS-IDE\x1a", 0x11, 0, 0x216), "\0" x (0x216 - 11), $disk; }
        else { print pack("a7 C C v", "RS-IDE\x1a", 0x10, 1, 0x80), "\0" x (0x80 - 11), $disk; }
    ' > "$seeds/harddisk/$kind.hdf"
done
ls -l "$seeds/image" "$seeds/container" "$seeds/harddisk"
