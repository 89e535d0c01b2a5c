#pragma once
// What each sector of a disk holds: the boot sector, the reserved tracks,
// the directory, each file's blocks, free space, and the sectors that are
// none of the file system's; with what the container records of each
// (weak copies, error status) and whether it can be read. Built by
// CDiskImage::ReadDiskMap; the front ends draw it.

#include "CpmVolume.h"
#include "FileId.h"
#include "Protection.h"
#include "SectorMap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class SectorUse : std::uint8_t {
    Boot,      // the boot sector (disk specification)
    Reserved,  // the rest of the reserved tracks
    Directory, // the directory's blocks
    File,      // a block one file names
    Shared,    // a block named by two files (or by a file and the directory)
    Free,      // a block no file names
    Unused,    // a sector of the data area in no whole block
    Other,     // not the file system's: a track or sector of a format of its own
};
const char* SectorUseName(SectorUse use);

struct MapSector {
    std::uint16_t id = 0;
    std::uint32_t size = 0;
    SectorUse use = SectorUse::Other;
    // File and Shared: the files naming the block (indexes into
    // DiskMap::files, in directory order).
    std::vector<std::uint16_t> files;
    // Sectors of the data area: their block.
    std::uint32_t block = 0;
    bool unreadable = false;  // a read of it failed
    bool missing = false;     // one of the layout's that the track does not hold
    bool weak = false;        // the container keeps several copies of its data
    bool errorStatus = false; // the container records a controller error for it
    bool deleted = false;     // a deleted-data mark
};

struct MapTrack {
    std::uint16_t cylinder = 0;
    std::uint8_t head = 0;
    bool formatted = true;
    // Its sectors are not those the layout reads (other ids or sizes).
    bool ownFormat = false;
    // "9 sectors of 512 bytes, ids 193-201"
    std::string description;
    std::vector<MapSector> sectors; // in the order the track holds them
};

struct MapFile {
    FileId file;
    // The blocks its entries name, in extent order, and their sectors.
    std::vector<std::uint32_t> blocks;
    std::vector<SectorAddress> sectors;
    // Runs of consecutive blocks, in the file's order.
    std::vector<BlockRun> fragments;
};

struct DiskMap {
    std::vector<MapTrack> tracks; // cylinder by cylinder, each cylinder's heads in turn
    std::vector<MapFile> files;   // in directory order
    std::vector<std::uint32_t> sharedBlocks;
    // The copy protection its tracks show, if any.
    std::optional<ProtectionFinding> protection;
    // The figures the map was drawn with.
    std::uint16_t blockSize = 0;
    std::uint8_t reservedTracks = 0;
    std::uint8_t directoryBlocks = 0;
    std::uint32_t usableBlocks = 0;
};
