// Fuzz target: the input is any file (meant: a CPCEMU standard or extended
// DSK container, or a raw sector dump) opened through the real LibDsk's
// binding, then run through every operation of the file system; and the
// same bytes read as the disk a child process hands back.

#include "CDiskImage.h"
#include "CatalogueView.h"
#include "DskContainer.h"
#include "FuzzHarness.h"
#include "SectorImage.h"
#include "support/HostTools.h"

namespace {

struct Setup {
    fuzz::Sandbox sandbox;
    LibDskOwner owner;
    std::string image;
    std::string hostFile;
    std::string bootFile;
    Setup() {
        fuzz::Check(owner.Loaded(), "LibDsk could not be loaded");
        image = (sandbox.inputs / "image.dsk").string();
        hostFile = (sandbox.inputs / "FUZZ.BIN").string();
        bootFile = (sandbox.inputs / "boot.bin").string();
        WriteFile(hostFile, PatternBytes(2500, 1));
        WriteFile(bootFile, PatternBytes(512, 2));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    // Everything reaches the identification; only CPCEMU containers and raw
    // sector dumps get past it to LibDsk.
    WriteFile(setup.image, std::vector<unsigned char>(data, data + size));
    {
        CDiskImage image(&setup.owner);
        image.LoadImage(setup.image);
        Catalogue rows;
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        image.ShowGeometry();
        DiskMap map;
        image.ReadDiskMap(map); // reads every track header and every sector
        const std::string scratch = setup.sandbox.scratch.string();
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
            image.ExtractFile(scratch, rows[i]);
        setup.sandbox.CheckAndClear();
        image.ImportFile(setup.hostFile);
        if (CatalogueLength(rows) > 0)
            image.EraseFile(rows[0]);
        image.WriteBootSector(setup.bootFile);
        image.WriteBootSector(setup.bootFile, CDiskImage::BootWrite::ChangeFormat);
        image.ReadBootSector((setup.sandbox.scratch / "boot.out").string());
        setup.sandbox.CheckAndClear();
    }

    // The input as what a child process hands back (an extended container)
    // or a CPCEMU file being converted: read as untrusted bytes, and what
    // is written from it reads back the same.
    const std::vector<std::uint8_t> bytes(data, data + size);
    if (const auto disk = ReadCpcemuImage(bytes)) {
        const auto extended = ExtendedImageBytes(*disk);
        if (!extended.empty()) {
            const auto again = ReadCpcemuImage(extended);
            fuzz::Check(again && FirstDifference(*disk, *again, true).empty(),
                        "an extended container that does not read back");
        }
        if (StandardImageProblem(*disk).empty()) {
            const auto standard = StandardImageBytes(*disk);
            const auto again = standard.empty() ? std::nullopt : ReadCpcemuImage(standard);
            fuzz::Check(standard.empty() || (again && FirstDifference(*disk, *again, true).empty()),
                        "a standard container that does not read back");
        }
    }
    return 0;
}
