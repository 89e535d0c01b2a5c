#include "Layout.h"

#include "DiskLibraryTable.h"
#include "Formats.h"

#include <algorithm>
#include <cstring>

std::string OtherSystemsBootRecord(const std::uint8_t* boot) {
    // The FAT boot record of MS-DOS and MSX-DOS: an x86 jump (MSX-DOS
    // writes EB FE 90), then at byte 11 the BIOS parameter block: bytes per
    // sector, sectors per cluster, reserved sectors, number of FATs, and at
    // byte 21 the media byte.
    const unsigned bytesPerSector = boot[11] | boot[12] << 8;
    const unsigned sectorsPerCluster = boot[13];
    const unsigned reservedSectors = boot[14] | boot[15] << 8;
    auto powerOfTwo = [](unsigned n) { return n != 0 && (n & (n - 1)) == 0; };
    const bool jump = boot[0] == 0xEB || boot[0] == 0xE9;
    const bool parameters = bytesPerSector >= 128 && bytesPerSector <= 4096 &&
                            powerOfTwo(bytesPerSector) && powerOfTwo(sectorsPerCluster) &&
                            reservedSectors >= 1 && (boot[16] == 1 || boot[16] == 2) &&
                            (boot[21] == 0xF0 || boot[21] >= 0xF8);
    return jump && parameters ? "an MS-DOS/MSX-DOS (FAT) disk, not a CP/M one" : "";
}

bool DeriveLayout(const GeometryFigures& g, const std::uint8_t* boot, DiskLayout& layout,
                  const DiskFormat* named, std::string* refusal) {
    DiskLayout d;
    std::memcpy(d.spec.bytes.data(), boot, d.spec.bytes.size());
    DiskSpec& spec = d.spec;
    if (g.heads == 0 || g.sectorsPerTrack == 0 || g.sectorSize == 0)
        return false;
    // A named format, or the one the first sector id tells (CPC formats
    // carry no disk specification: the id tells them apart, as the CPC's
    // own DOSes do).
    const DiskFormat* known = named != nullptr ? named : FormatToldById(g.firstSectorId);
    if (known != nullptr) {
        if (std::string misfit = FormatMisfit(*known, g, named != nullptr); !misfit.empty()) {
            if (refusal != nullptr)
                *refusal = std::move(misfit);
            return false;
        }
    }
    const auto tracksPerSide = static_cast<std::uint8_t>(g.cylinders / g.heads);
    const bool firstSideOnly = known != nullptr && known->sides == 1 && g.heads > 1;
    const std::uint32_t tracksHeld = std::uint32_t{g.cylinders} * (firstSideOnly ? 1u : g.heads);
    // A known format has its own tracks whatever the container holds beyond
    // them (AMSDOS's DSM): extra tracks are not the file system's.
    const std::uint32_t tracks =
        known != nullptr ? std::min<std::uint32_t>(tracksHeld, known->Tracks()) : tracksHeld;
    const std::uint16_t sectorsPerTrack =
        known != nullptr ? known->sectorsPerTrack : g.sectorsPerTrack;
    const std::uint32_t sectorsOnDisk = tracks * sectorsPerTrack;
    // The default sets are made for 512-byte sectors: on other sectors their
    // sectors per block do not make up the block, and the disk is refused.
    auto defaults = [&](std::uint16_t blockSize, std::uint8_t dirBlocks, std::uint8_t type,
                        std::uint8_t sides, std::uint8_t reserved) {
        d.blockSize = blockSize;
        d.sectorsPerBlock = static_cast<std::uint16_t>(blockSize / 512);
        d.directoryBlocks = dirBlocks;
        spec.bytes[DiskSpec::Type] = type;
        spec.bytes[DiskSpec::Sides] = sides;
        spec.bytes[DiskSpec::TracksPerSide] = tracksPerSide;
        spec.bytes[DiskSpec::ReservedTracks] = reserved;
    };

    if (known != nullptr) {
        d.format = known;
        d.blockSize = known->blockSize;
        d.sectorsPerBlock = static_cast<std::uint16_t>(known->blockSize / g.sectorSize);
        d.directoryBlocks = known->DirectoryBlocks();
        // The figures as a disk specification would give them.
        spec.bytes[DiskSpec::Type] = known->specType;
        spec.bytes[DiskSpec::Sides] = static_cast<std::uint8_t>(
            (known->sides == 2 ? 1 : 0) | (known->tracksPerSide >= 80 ? 0x80 : 0));
        spec.bytes[DiskSpec::TracksPerSide] = static_cast<std::uint8_t>(known->tracksPerSide);
        spec.bytes[DiskSpec::SectorsPerTrack] = static_cast<std::uint8_t>(known->sectorsPerTrack);
        spec.bytes[DiskSpec::SectorSizeCode] =
            static_cast<std::uint8_t>(SizeCode(known->sectorSize));
        spec.bytes[DiskSpec::ReservedTracks] = known->reservedTracks;
        spec.bytes[DiskSpec::BlockShift] = static_cast<std::uint8_t>(SizeCode(known->blockSize));
        spec.bytes[DiskSpec::DirectoryBlocks] = d.directoryBlocks;
        d.totalBlocks = static_cast<std::uint16_t>(sectorsOnDisk / std::max<unsigned>(d.sectorsPerBlock, 1));
        if (firstSideOnly)
            d.sides = SideOrder::FirstSide;
    } else if (spec.bytes[DiskSpec::TracksPerSide] >= 40 &&
               spec.bytes[DiskSpec::TracksPerSide] <= 80) {
        const std::uint8_t shift = spec.bytes[DiskSpec::BlockShift];
        if (shift >= 8)
            return false;
        d.blockSize = static_cast<std::uint16_t>(128u << shift);
        d.sectorsPerBlock = static_cast<std::uint16_t>(d.blockSize / g.sectorSize);
        d.directoryBlocks = spec.bytes[DiskSpec::DirectoryBlocks];
        d.totalBlocks = d.sectorsPerBlock == 0
                            ? 0
                            : static_cast<std::uint16_t>(sectorsOnDisk / d.sectorsPerBlock);
        // Bits 0-1 of the sidedness byte; bit 7 marks double-track disks.
        if ((spec.bytes[DiskSpec::Sides] & 0x03) == 2 && g.heads == 2)
            d.sides = SideOrder::Successive;
    } else if (!OtherSystemsBootRecord(boot).empty()) {
        // The default sets serve blank boot sectors and ones of no other
        // system: another system's disk is never taken for an empty one.
        return false;
    } else if (g.heads == 1) {
        // A single-sided disk is a +3/PCW 180K one whatever its track count:
        // the 720K set's directory would lie over its data.
        defaults(1024, 2, 0, 0x00, 1);
        d.totalBlocks = 180;
    } else {
        defaults(2048, 4, 3, 0x81, 1);
        d.totalBlocks = 360;
    }
    d.reservedTracks = spec.bytes[DiskSpec::ReservedTracks];

    if (d.sectorsPerBlock == 0 || std::uint32_t{d.sectorsPerBlock} * g.sectorSize != d.blockSize ||
        d.DirectoryEntries() > kMaxDirEntries)
        return false;

    const std::uint32_t dataSectors =
        tracks > d.reservedTracks ? (tracks - d.reservedTracks) * sectorsPerTrack : 0;
    // The blocks of the data area (CP/M's DSM + 1); "total blocks" also
    // counts the reserved tracks and, for the default sets, is a constant.
    const std::uint32_t dataBlocks =
        std::min<std::uint32_t>(dataSectors / d.sectorsPerBlock, d.totalBlocks);
    // As CP/M derives them, from the data blocks: one-byte block numbers
    // below 256 of them, and the logical extents an entry holds.
    d.slotsPerEntry = dataBlocks < 256 ? 16u : 8u;
    const std::uint32_t perEntry = std::uint32_t{d.blockSize} * d.slotsPerEntry;
    d.extentMask = perEntry >= 16384 ? perEntry / 16384 - 1 : 0;
    d.usableBlocks = std::min<std::uint32_t>(dataBlocks, kMapBlocks);
    layout = d;
    return true;
}
