#pragma once
// Builds +3DOS structures byte by byte on a MemDisk, and a fixture that opens
// such a disk through CDiskImage.

#include "CDiskImage.h"
#include "CatalogueView.h"
#include "MemDisk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

inline DirEntry MakeEntry(std::uint8_t user, const std::string& name, const std::string& type,
                          std::uint8_t rc, std::initializer_list<std::uint16_t> blocks = {},
                          bool wide = false, std::uint8_t ex = 0) {
    DirEntry e{};
    e.user = user;
    std::memset(e.name, ' ', kNameLen);
    std::memset(e.type, ' ', kTypeLen);
    std::memcpy(e.name, name.data(), std::min(name.size(), kNameLen));
    std::memcpy(e.type, type.data(), std::min(type.size(), kTypeLen));
    e.ex = ex;
    e.rc = rc;
    unsigned slot = 0;
    for (std::uint16_t b : blocks) {
        if (wide) {
            e.blocks[2 * slot] = static_cast<std::uint8_t>(b & 0xFF);
            e.blocks[2 * slot + 1] = static_cast<std::uint8_t>(b >> 8);
        } else {
            e.blocks[slot] = static_cast<std::uint8_t>(b);
        }
        ++slot;
    }
    return e;
}

// The catalogue row that names a file: user, and name and type with the
// attribute bits cleared.
inline FileEntry Row(std::uint8_t user, const std::uint8_t* name, const std::uint8_t* type) {
    FileEntry row;
    row.user = user;
    for (std::size_t i = 0; i < kNameLen; ++i)
        row.name[i] = name[i] & 0x7F;
    for (std::size_t i = 0; i < kTypeLen; ++i)
        row.type[i] = type[i] & 0x7F;
    return row;
}
inline FileEntry Row(std::uint8_t user, const char* name, const char* type) {
    return Row(user, reinterpret_cast<const std::uint8_t*>(name),
               reinterpret_cast<const std::uint8_t*>(type));
}
inline FileEntry Row(const DirEntry& entry) { return Row(entry.user, entry.name, entry.type); }
// The sector map and layout of a +3 180K disk without a disk specification
// (40 cylinders, one head, nine 512-byte sectors from id 1): the volume's
// and the sector map's tests run on it without an image.
inline bool Plus3Figures(CSectorMap& map, DiskLayout& layout) {
    map.cylinders = 40;
    map.heads = 1;
    map.sectorsPerTrack = 9;
    map.sectorSize = 512;
    map.firstSectorId = map.dataFirstSectorId = 1;
    const std::vector<std::uint8_t> blank(512, 0xE5);
    return DeriveLayout({40, 1, 9, 512, 1, {}}, blank.data(), layout);
}
// The text of the last notice the image told (its last message box).
inline std::string LastText(const CDiskImage& image) {
    return image.Notices().empty() ? "" : image.Notices().back().text;
}
// The same file as the core names it.
inline FileId Id(std::uint8_t user, const char* name, const char* type) {
    return FileId::Of(Row(user, name, type));
}

// Writes directory entry `index` of a disk whose data area starts after
// `reserved` tracks.
inline void PutEntry(MemDisk& disk, unsigned reserved, unsigned index, const DirEntry& entry) {
    const unsigned perSector = disk.SectorSize() / 32;
    std::uint8_t* sector = disk.Logical(reserved, index / perSector);
    std::memcpy(sector + (index % perSector) * 32, &entry, sizeof entry);
}

inline DirEntry GetEntry(MemDisk& disk, unsigned reserved, unsigned index) {
    const unsigned perSector = disk.SectorSize() / 32;
    DirEntry entry;
    std::memcpy(&entry, disk.Logical(reserved, index / perSector) + (index % perSector) * 32,
                sizeof entry);
    return entry;
}

inline void SetSpec(MemDisk& disk, std::initializer_list<std::uint8_t> bytes) {
    std::uint8_t* boot = disk.Sector(0, 0, disk.geometry.dg_secbase);
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        boot[i++] = b;
}

// The +3 180K specification: 40 tracks, 1 reserved, 1K blocks, 2 directory blocks.
constexpr std::initializer_list<std::uint8_t> kPlus3Spec = {0, 0, 40, 9, 2, 1, 3, 2, 0x2A, 0x52};
// The +3 720K specification with 2K blocks, 4 directory blocks and 2 reserved tracks.
constexpr std::initializer_list<std::uint8_t> kPlus3720Spec = {3, 0x81, 80, 9, 2, 2, 4, 4, 0x2A,
                                                               0x52};

class ImageFixture : public ::testing::Test {
protected:
    explicit ImageFixture(unsigned cylinders = 40, unsigned heads = 1, unsigned sectors = 9,
                          unsigned first = 1, unsigned size = 512)
        : disk(cylinders, heads, sectors, first, size) {
        disk.Register(kPath);
    }
    ~ImageFixture() override { MemDisk::UnregisterAll(); }

    int Load() { return image.LoadImage(kPath); }
    // Reads the catalogue as the window does and returns the shown names.
    std::vector<std::string> List() {
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        std::vector<std::string> names;
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
            names.push_back(ShownFileName(rows[i]));
        return names;
    }
    void Put(unsigned index, const DirEntry& entry) {
        PutEntry(disk, image.IsOpen() ? image.Layout().spec.bytes[DiskSpec::ReservedTracks] : 1,
                 index, entry);
    }

    static constexpr const char* kPath = "mem.dsk";
    MemDisk disk;
    TestOwner owner;
    CDiskImage image{&owner};
    Catalogue rows;
};
