#pragma once
// The disk formats known by name: their figures, which of them a disk's
// first sector id tells, and whether a named one fits an image.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct GeometryFigures;

struct DiskFormat {
    const char* name;  // as given to --format: "d20"
    const char* title; // as shown: "ROMDOS D20"
    std::uint16_t firstSectorId;
    // Two sides are taken in turn: track 2n on side 0, 2n + 1 on side 1. A
    // one-sided format in a two-sided image is read from side 0 alone.
    std::uint8_t sides;
    std::uint16_t tracksPerSide;
    std::uint16_t sectorsPerTrack;
    std::uint16_t sectorSize;
    std::uint16_t blockSize;
    std::uint16_t directoryEntries;
    std::uint8_t reservedTracks;
    // The disk specification's type byte (0 +3, 1 CPC system, 2 CPC data,
    // 3 PCW); 0xFF for the formats it has no type for.
    std::uint8_t specType;
    // A disk whose first sector has this format's id is of this format.
    // The others share their ids with +3 and PCW disks, whose boot sector
    // tells their format: they are read so only when named.
    bool toldById;
    // Read by the figures of a disk specification (or the +3's defaults)
    // when not named: only listed here, for `formats` and `new`.
    bool bySpecification;

    std::uint8_t DirectoryBlocks() const {
        return static_cast<std::uint8_t>(directoryEntries * 32u / blockSize);
    }
    std::uint32_t Tracks() const { return std::uint32_t{tracksPerSide} * sides; }
    // The bytes the file system can hold: the blocks after the reserved
    // tracks, less the directory's.
    std::uint32_t Capacity() const;
};

std::span<const DiskFormat> KnownFormats();
// The format of that name or alias, in any case; null when none is.
const DiskFormat* FormatNamed(std::string_view name);
// The format a disk whose first sector has this id is of; null when the id
// tells none (the +3 and PCW ids, and any unknown one).
const DiskFormat* FormatToldById(std::uint16_t firstSectorId);
// The ids of the format's tracks as the CPC writes them: "&11-&1A".
std::string SectorIdsText(const DiskFormat& format);
// The first figure in which the image differs from the format ("ROMDOS D1
// has 80 tracks per side; the image holds 40"); "" when it fits. A format
// told by the id is held to its sides and sector size only: a short dump,
// or a first track that lost a sector, is read as far as it goes.
std::string FormatMisfit(const DiskFormat& format, const GeometryFigures& image, bool named);
