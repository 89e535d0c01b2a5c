// Fuzz target: an in-memory disk whose geometry and sectors come from the
// input, run through every operation of the file system with invariants
// checked after each.
//
// Input: cylinders, heads, sectors per track, first sector id, sector size
// code (128 << n), the index of a sector read to fail, of a sector write to
// fail (0 = none), then the sector contents in cylinder, head, sector order
// (the rest of the disk reads 0xE5).

#include "CDiskImage.h"
#include "CatalogueView.h"
#include "FuzzHarness.h"
#include "support/HostTools.h"
#include "support/MemDisk.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

using fuzz::Check;

struct Setup {
    fuzz::Sandbox sandbox;
    std::string hostFile;
    std::string bootFile;
    Setup() {
        hostFile = (sandbox.inputs / "FUZZ.BIN").string();
        bootFile = (sandbox.inputs / "boot.bin").string();
        WriteFile(hostFile, PatternBytes(2500, 1));
        WriteFile(bootFile, PatternBytes(512, 2));
    }
};

// The directory sectors as they are on the disk (empty when unmapped).
std::vector<std::uint8_t> DirectoryOnDisk(MemDisk& disk, const CDiskImage& image) {
    std::vector<std::uint8_t> bytes;
    if (!image.IsMapped())
        return bytes;
    // Addressed as the image addresses them (its side order included).
    const unsigned sectors = image.Layout().directoryBlocks * image.Layout().sectorsPerBlock;
    for (unsigned k = 0; k < sectors; ++k) {
        const auto track = static_cast<std::uint16_t>(k / image.Map().sectorsPerTrack);
        const std::uint8_t* sector =
            disk.Sector(static_cast<unsigned>(image.Map().CylinderOfTrack(track, image.Layout())),
                        static_cast<unsigned>(image.Map().HeadOfTrack(track, image.Layout())),
                        image.Map().dataFirstSectorId + k % image.Map().sectorsPerTrack);
        if (sector == nullptr)
            bytes.push_back(0xFF);
        else
            bytes.insert(bytes.end(), sector, sector + image.Map().sectorSize);
    }
    return bytes;
}

std::uint16_t Block(const CDiskImage& image, const DirEntry& e, unsigned slot) {
    return !image.Volume().WideBlockNumbers() ? e.blocks[slot]
                                     : static_cast<std::uint16_t>(e.blocks[2 * slot] |
                                                                  e.blocks[2 * slot + 1] << 8);
}

// Every block of the imported file lies on the disk and belongs to it alone.
void CheckImportedBlocks(const CDiskImage& image) {
    const auto* entries = reinterpret_cast<const DirEntry*>(image.Volume().DirectoryBuffer());
    const unsigned slots = image.Volume().WideBlockNumbers() ? 8 : 16;
    std::map<unsigned, int> owners;
    for (std::size_t i = 0; i < kMaxDirEntries; ++i) {
        if (entries[i].user > kMaxLiveUser)
            continue;
        for (unsigned s = 0; s < slots; ++s)
            if (const auto b = Block(image, entries[i], s); b != 0)
                ++owners[b];
    }
    for (std::size_t i = 0; i < kMaxDirEntries; ++i) {
        const DirEntry& e = entries[i];
        if (e.user > kMaxLiveUser || std::memcmp(e.name, "FUZZ    ", 8) != 0 ||
            std::memcmp(e.type, "BIN", 3) != 0)
            continue;
        for (unsigned s = 0; s < slots; ++s) {
            const auto b = Block(image, e, s);
            if (b == 0)
                continue;
            Check(b < image.Layout().totalBlocks && b < kMapBlocks && image.Volume().BlockOnDisk(b),
                  "import used a block past the disk");
            Check(b >= image.Layout().directoryBlocks, "import used a directory block");
            Check(owners[b] == 1, "import used a block another entry names");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    if (size < 7)
        return 0;
    const unsigned cylinders = data[0] % 84;
    const unsigned heads = data[1] % 4;
    const unsigned sectors = data[2] % 20;
    const unsigned first = data[3];
    const unsigned sectorSize = 128u << (data[4] % 4);
    MemDisk disk(std::max(cylinders, 1u), std::max(heads, 1u), std::max(sectors, 1u), first,
                 sectorSize);
    disk.geometry.dg_cylinders = cylinders;
    disk.geometry.dg_heads = heads;
    disk.geometry.dg_sectors = sectors;
    auto contents = disk.Contents();
    std::memcpy(contents.data(), data + 7, std::min(contents.size(), size - 7));
    disk.Restore(contents);
    disk.failReadAt = data[5];
    disk.failWriteAt = data[6];
    disk.Register("fuzz.dsk");

    TestOwner owner;
    {
        CDiskImage image(&owner);
        image.LoadImage("fuzz.dsk");
        Catalogue rows;
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        image.ShowGeometry();
        Check(CatalogueLength(rows) <= kMaxDirEntries, "catalogue longer than the directory");

        const std::string scratch = setup.sandbox.scratch.string();
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
            const auto style =
                i % 2 ? CDiskImage::HostNames::Trimmed : CDiskImage::HostNames::Padded;
            image.ExtractFile(scratch, rows[i], style);
        }
        setup.sandbox.CheckAndClear();

        auto before = DirectoryOnDisk(disk, image);
        if (image.ImportFile(setup.hostFile))
            CheckImportedBlocks(image);
        else
            Check(DirectoryOnDisk(disk, image) == before, "failed import changed the directory");

        if (CatalogueLength(rows) > 0) {
            before = DirectoryOnDisk(disk, image);
            if (!image.EraseFile(rows[0]))
                Check(DirectoryOnDisk(disk, image) == before, "failed deletion changed the directory");
        }
        image.WriteBootSector(setup.bootFile);
        image.WriteBootSector(setup.bootFile, CDiskImage::BootWrite::ChangeFormat);
        image.ReadBootSector((setup.sandbox.scratch / "boot.out").string());
        setup.sandbox.CheckAndClear();
    }
    MemDisk::UnregisterAll();
    return 0;
}
