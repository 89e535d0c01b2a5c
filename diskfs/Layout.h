#pragma once
// The file-system layout of a disk, derived in one place from the geometry
// and the boot sector: what LoadImage and CreateImage both use.

#include "DiskStructs.h"

#include <cstdint>
#include <string>
#include <vector>

struct DiskFormat;

struct GeometryFigures {
    std::uint16_t cylinders = 0;
    std::uint8_t heads = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t sectorSize = 0;
    // The id of the boot sector: the first sector of cylinder 0, head 0.
    std::uint16_t firstSectorId = 0;
    // The ids cylinder 0, head 0 holds, when the container lists them.
    std::vector<std::uint8_t> firstTrackIds;
};

// How logical tracks run over the two sides. Alternate: cylinder 0 side 0,
// cylinder 0 side 1, cylinder 1 side 0, ... Successive (+3DOS, and LibDsk's
// "OutBack" for such a boot sector): side 0 from cylinder 0 outwards, then
// side 1 coming back from the last cylinder. FirstSide: a one-sided format
// in a two-sided image, side 1 not the file system's.
enum class SideOrder { Alternate, Successive, FirstSide };

struct DiskLayout {
    // The boot sector's first 16 bytes, with the default set's fields put in
    // where the disk carries no valid specification.
    DiskSpec spec;
    std::uint16_t blockSize = 0;
    std::uint16_t sectorsPerBlock = 0;
    std::uint8_t directoryBlocks = 0;
    std::uint16_t totalBlocks = 0;
    std::uint8_t reservedTracks = 0;
    SideOrder sides = SideOrder::Alternate;
    // 16 one-byte block numbers per entry below 256 blocks, else 8 words.
    unsigned slotsPerEntry = 16;
    // CP/M's EXM: an entry holds extentMask + 1 logical 16K extents.
    unsigned extentMask = 0;
    // Blocks 0 .. usableBlocks - 1 lie wholly on the disk (and in the map).
    std::uint32_t usableBlocks = 0;
    // The known format whose figures these are (named, or told by the first
    // sector id); null when they come from a disk specification or the
    // +3's defaults.
    const DiskFormat* format = nullptr;

    std::uint32_t DirectoryEntries() const {
        return std::uint32_t{directoryBlocks} * blockSize / kDirEntrySize;
    }
};

// False when the format cannot be mapped safely (the disk is then refused as
// "Unsupported disk format", with `refusal` saying why where it can): block
// sizes the sectors cannot make up, a directory of over 1024 entries, a boot
// sector with no disk specification that holds another system's boot
// record, or a known format the image does not fit. A `named` format is
// read whatever the boot sector says.
bool DeriveLayout(const GeometryFigures& geometry, const std::uint8_t* bootSector,
                  DiskLayout& layout, const DiskFormat* named = nullptr,
                  std::string* refusal = nullptr);

// What other system's disk a boot sector says it is ("an MS-DOS/MSX-DOS
// (FAT) disk, not a CP/M one"), or "" when it holds no record of one.
std::string OtherSystemsBootRecord(const std::uint8_t* bootSector);
