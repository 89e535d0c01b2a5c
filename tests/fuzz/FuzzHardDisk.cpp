// Fuzz target: a hard-disk image file from the input, its partition table
// read and every +3DOS partition opened, listed, checked, extracted and
// written to, with the layout's figures checked against the partition.

#include "CDiskImage.h"
#include "CatalogueView.h"
#include "FuzzHarness.h"
#include "HardDisk.h"
#include "support/HostTools.h"

#include <cstring>

namespace {

struct Setup {
    fuzz::Sandbox sandbox;
    LibDskOwner owner;
    std::string image;
    Setup() { image = (sandbox.inputs / "disk.hdf").string(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    HardDisk disk;
    const std::string refusal = ReadHardDisk(
        [&](std::uint64_t at, std::uint8_t* buffer, std::size_t count) {
            if (at > size || size - at < count)
                return false;
            std::memcpy(buffer, data + at, count);
            return true;
        },
        size, disk);
    if (!refusal.empty())
        return 0;
    WriteFile(setup.image, std::vector<unsigned char>(data, data + size));
    for (const HardDiskPartition& partition : disk.partitions) {
        GeometryFigures figures;
        DiskLayout layout;
        std::string why;
        if (partition.type != kPlus3DosPartition || !PartitionLayout(partition, figures, layout, why))
            continue;
        fuzz::Check(std::uint64_t{layout.reservedTracks} * figures.sectorsPerTrack * 512 +
                            std::uint64_t{layout.totalBlocks} * layout.blockSize <=
                        partition.byteCount,
                    "the volume runs past its partition");
        fuzz::Check(layout.DirectoryEntries() <= kMaxDirEntries && layout.totalBlocks <= kMapBlocks,
                    "the volume's figures pass the buffers");
        if (!disk.Holds(partition) || partition.name.find(':') != std::string::npos)
            continue;
        CDiskImage image(&setup.owner);
        if (!image.LoadImage(setup.image + ":" + partition.name))
            continue;
        Catalogue rows;
        image.ReadCatalogue(rows);
        image.CheckFileSystem();
        for (std::size_t i = 0; i < CatalogueLength(rows) && i < 4; ++i)
            image.ExtractFile(setup.sandbox.scratch.string(), rows[i]);
        setup.sandbox.CheckAndClear();
        const std::vector<std::uint8_t> bytes(3000, 0x5A);
        CDiskImage::ImportTarget target;
        std::memcpy(target.file.name.data(), "FUZZ    ", kNameLen);
        std::memcpy(target.file.type.data(), "BIN", kTypeLen);
        target.replace = true;
        if (image.ImportData(target, bytes)) {
            Catalogue after;
            fuzz::Check(image.ReadCatalogue(after) != 0, "a stored file's image cannot be listed");
        }
        image.CloseImage();
    }
    return 0;
}
