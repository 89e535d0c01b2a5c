#pragma once
// On-disk and catalogue records of the +3DOS (CP/M 2.2 compatible) file system.
//
// Disk specification: the first 16 bytes of the boot sector (cylinder 0,
// head 0, first sector id of the geometry).
//   0  disk type: 0 PCW/+3 SS, 1 CPC system, 2 CPC data, 3 PCW DS
//   1  bits 0-6 sidedness (0 single, 1 alternate, 2 successive); bit 7 double track
//   2  tracks per side; the disk specification counts as valid when 40..80
//   3  sectors per track          4  log2(sector size) - 7
//   5  reserved tracks            6  block shift, log2(block size / 128)
//   7  directory blocks           8  read/write gap    9  format gap
//   10-14 reserved                15 checksum fiddle byte (see BootSum.h)
//
// Directory entries: see CpmEntry.h, where they are decoded.

#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::size_t kDirEntrySize = 32;
constexpr std::size_t kMaxDirEntries = 1024;
constexpr std::size_t kDirBufferSize = kDirEntrySize * kMaxDirEntries;
// Blocks the allocation map follows: a floppy's few hundred, and a +3DOS
// partition's of up to 16 MB in 2K blocks.
constexpr std::size_t kMapBlocks = 8192;
constexpr std::size_t kBootSectorSize = 512;
constexpr std::size_t kNameLen = 8;
constexpr std::size_t kTypeLen = 3;
constexpr std::uint8_t kFreeUser = 0xE5;
// Users 0-15 own files (+3DOS and AMSDOS have no others). CP/M Plus keeps a
// file's password in a record of status user + 16 with the file's name:
// part of the file, never a file of its own.
constexpr std::uint8_t kMaxLiveUser = 15;
constexpr std::uint8_t kPasswordUserOffset = 16;
constexpr std::uint8_t kMaxPasswordUser = 31;

// The bytes of the disk specification that define the format.
constexpr std::size_t kSpecFormatBytes = 10;

struct DiskSpec {
    enum Byte : std::size_t {
        Type = 0,
        Sides = 1,
        TracksPerSide = 2,
        SectorsPerTrack = 3,
        SectorSizeCode = 4,
        ReservedTracks = 5,
        BlockShift = 6,
        DirectoryBlocks = 7,
    };
    std::array<std::uint8_t, 16> bytes{};
};

// The raw record, for building directories byte by byte (tests, fuzzing).
struct DirEntry {
    std::uint8_t user;
    std::uint8_t name[kNameLen];
    std::uint8_t type[kTypeLen];
    std::uint8_t ex;
    std::uint8_t s1;
    std::uint8_t s2;
    std::uint8_t rc;
    std::uint8_t blocks[16];
};
static_assert(sizeof(DirEntry) == kDirEntrySize);

// One catalogue row: one file (user number, name and type with the
// attribute bits cleared), its attributes and its size in bytes.
struct FileEntry {
    std::uint8_t user = 0;
    std::uint8_t name[kNameLen] = {};
    std::uint8_t type[kTypeLen] = {};
    std::uint32_t size = 0;
    bool readOnly = false;
    bool system = false;
    bool archive = false;
};

// One row more than the directory can hold, so that even a directory of 1024
// distinct files is followed by the terminating row.
constexpr std::size_t kCatalogueRows = kMaxDirEntries + 1;

// The catalogue rows and how many of them the last listing filled. The count,
// not the first row whose name starts with NUL, ends the list: a damaged
// entry whose name starts with NUL must not hide the files after it.
struct Catalogue : std::array<FileEntry, kCatalogueRows> {
    std::size_t count = 0;
};
