// The figures of each format.
//
// +3/PCW and CPC: the formats of the machines' own DOSes (the +3's and the
// PCW's defaults for a boot sector without a disk specification; AMSDOS's
// system and data formats).
//
// CPC ROM formats for 3.5" and 5.25" second drives, told by their first
// sector id as the ROMs themselves tell them. Sources: the RAMDOS manual
// (sides, tracks, directory entries, capacity of D1-D80), ParaDOS's format
// table as quoted on cpcwiki's ROMDOS page (first sector, block shift, DSM
// of every ROMDOS and ParaDOS format) and the ParaDOS manual's table
// (sectors per track, ids). Every capacity the sources give works out with
// no reserved track and the directory at the start of block 0.
//   D40: the RAMDOS manual says 40 tracks on two sides; one later table says
//   80 tracks on one side. D80 (S-DOS) is that single-sided 80-track
//   format with another id, so D40 is taken as the manual gives it.
//   Vortex: cpcwiki gives 80 tracks, two sides, ids 1-9, two reserved
//   tracks and 704K free; the block size is not given: 4K blocks and one
//   directory block are the only ones that give 704K (2K blocks give 710K
//   less a directory of a whole number of blocks, never 704K).
// ROMDOS D1 and Vortex share ids 1-9 with +3 and PCW disks, so they are
// read only when named.

#include "Formats.h"

#include "Layout.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

// name, title, first id, sides, tracks per side, sectors, sector size,
// block size, directory entries, reserved tracks, type byte, told by id,
// by specification.
constexpr std::array kFormats{
    DiskFormat{"plus3", "+3/PCW 180K", 0x01, 1, 40, 9, 512, 1024, 64, 1, 0, false, true},
    DiskFormat{"pcw720", "PCW/+3 720K", 0x01, 2, 80, 9, 512, 2048, 256, 1, 3, false, true},
    DiskFormat{"cpcsys", "CPC system", 0x41, 1, 40, 9, 512, 1024, 64, 2, 1, true, false},
    DiskFormat{"cpcdata", "CPC data", 0xC1, 1, 40, 9, 512, 1024, 64, 0, 2, true, false},
    DiskFormat{"d1", "ROMDOS D1", 0x01, 2, 80, 9, 512, 2048, 128, 0, 0xFF, false, false},
    DiskFormat{"d2", "ROMDOS D2", 0x21, 2, 80, 9, 512, 2048, 256, 0, 0xFF, true, false},
    DiskFormat{"d10", "ROMDOS D10", 0x11, 2, 80, 10, 512, 2048, 128, 0, 0xFF, true, false},
    DiskFormat{"d20", "ROMDOS D20", 0x31, 2, 80, 10, 512, 2048, 256, 0, 0xFF, true, false},
    DiskFormat{"d40", "ROMDOS D40", 0x51, 2, 40, 10, 512, 2048, 128, 0, 0xFF, true, false},
    DiskFormat{"d80", "ROMDOS D80 (S-DOS)", 0x71, 1, 80, 10, 512, 2048, 128, 0, 0xFF, true, false},
    DiskFormat{"parados80", "ParaDOS 80", 0x91, 1, 80, 10, 512, 2048, 128, 0, 0xFF, true, false},
    DiskFormat{"parados40d", "ParaDOS 40D", 0xA1, 2, 40, 10, 512, 2048, 128, 0, 0xFF, true, false},
    DiskFormat{"parados41", "ParaDOS 41", 0x81, 1, 41, 10, 512, 1024, 64, 0, 0xFF, true, false},
    DiskFormat{"vortex", "Vortex", 0x01, 2, 80, 9, 512, 4096, 128, 2, 0xFF, false, false},
};

struct Alias {
    const char* alias;
    const char* name;
};
constexpr Alias kAliases[]{{"pcw180", "plus3"}, {"sdos", "d80"}, {"s-dos", "d80"}};

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Hex(unsigned id) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "&";
    text += digits[(id >> 4) & 0xF];
    text += digits[id & 0xF];
    return text;
}

} // namespace

std::uint32_t DiskFormat::Capacity() const {
    const std::uint32_t sectors =
        (Tracks() - std::min<std::uint32_t>(reservedTracks, Tracks())) * sectorsPerTrack;
    const std::uint32_t blocks = sectors * sectorSize / blockSize;
    return (blocks - std::min<std::uint32_t>(DirectoryBlocks(), blocks)) * blockSize;
}

std::string SectorIdsText(const DiskFormat& format) {
    return Hex(format.firstSectorId) + "-" +
           Hex(format.firstSectorId + format.sectorsPerTrack - 1u);
}

std::span<const DiskFormat> KnownFormats() {
    return kFormats;
}

const DiskFormat* FormatNamed(std::string_view name) {
    for (const Alias& alias : kAliases)
        if (SameName(name, alias.alias))
            name = alias.name;
    for (const DiskFormat& format : kFormats)
        if (SameName(name, format.name))
            return &format;
    return nullptr;
}

const DiskFormat* FormatToldById(std::uint16_t firstSectorId) {
    for (const DiskFormat& format : kFormats)
        if (format.toldById && format.firstSectorId == firstSectorId)
            return &format;
    return nullptr;
}

std::string FormatMisfit(const DiskFormat& format, const GeometryFigures& image, bool named) {
    const std::string title = format.title;
    auto plural = [](unsigned n, const char* word) {
        return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
    };
    if (image.heads < format.sides)
        return title + " has " + plural(format.sides, "side") + "; the image holds " +
               plural(image.heads, "side");
    if (image.sectorSize != format.sectorSize)
        return title + " has sectors of " + std::to_string(format.sectorSize) +
               " bytes; the image's are " + std::to_string(image.sectorSize);
    if (!named)
        return {};
    if (image.cylinders < format.tracksPerSide)
        return title + " has " + plural(format.tracksPerSide, "track") +
               " per side; the image holds " + std::to_string(image.cylinders);
    // The ids of the first track, when the container lists them; else what
    // the disk library found there.
    const auto& ids = image.firstTrackIds;
    for (unsigned k = 0; k < format.sectorsPerTrack; ++k) {
        const unsigned id = format.firstSectorId + k;
        const bool present = ids.empty() ? id >= image.firstSectorId &&
                                               id < image.firstSectorId + image.sectorsPerTrack
                                         : std::find(ids.begin(), ids.end(), id) != ids.end();
        if (!present)
            return title + " has sectors " + SectorIdsText(format) +
                   "; the image's first track has no sector " + Hex(id);
    }
    return {};
}
