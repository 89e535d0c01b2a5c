// Fuzz target: the input is any file (meant: a CPCEMU standard or extended
// DSK container, or a raw sector dump) opened through the real LibDsk's
// binding, then run through every operation of the file system.

#include "CDiskImage.h"
#include "CatalogueView.h"
#include "DskContainer.h"
#include "FuzzHarness.h"
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
    setup.owner.messages.clear();
    return 0;
}
