// info: the geometry and file-system figures of one image.

#include "Commands.h"
#include "Json.h"
#include "Session.h"

#include "PartitionStore.h"

#include <cstdio>
#include <memory>

namespace {

// A hard-disk image: its partitions, for the user to name one.
int RunHardDiskInfo(CCliOwner& owner, const std::string& image, bool json) {
    HardDisk disk;
    std::string cause;
    if (!ReadHardDiskImage(image, disk, cause)) {
        (void)owner;
        std::fprintf(
            stderr, "%s\n",
            Printable("ERROR: " + image + ": Unable to load disk image: " + cause).c_str());
        return kExitFailed;
    }
    auto position = [](unsigned cylinder, unsigned head) {
        return std::to_string(cylinder) + ":" + std::to_string(head);
    };
    if (json) {
        JsonObject partitions = JsonObject::array();
        for (const HardDiskPartition& p : disk.partitions)
            partitions.push_back({{"name", p.name},
                                  {"type", PartitionTypeName(p.type)},
                                  {"type_code", p.type},
                                  {"bytes", p.byteCount},
                                  {"first", position(p.startCylinder, p.startHead)},
                                  {"last", position(p.endCylinder, p.endHead)},
                                  {"in_image", disk.Holds(p)}});
        PrintJsonLine({{"image", image},
                       {"container", HardDiskContainerText(disk)},
                       {"cylinders", disk.cylinders},
                       {"heads", disk.heads},
                       {"sectors_per_track", disk.sectorsPerTrack},
                       {"sector_size", disk.sectorBytes},
                       {"partitions", std::move(partitions)}});
        return kExitOk;
    }
    std::printf("Image name : %s\nContainer : %s\nGeometry : %u cylinders, %u heads, %u sectors "
                "of %u bytes\nPartitions (name one as %s:NAME):\n",
                image.c_str(), HardDiskContainerText(disk).c_str(), disk.cylinders, disk.heads,
                disk.sectorsPerTrack, disk.sectorBytes, image.c_str());
    std::printf("  %-16s  %-18s  %9s  %s\n", "Name", "Type", "Size", "Cylinder:head");
    for (const HardDiskPartition& p : disk.partitions)
        std::printf("  %-16s  %-18s  %8lluK  %s-%s%s\n", Printable(p.name).c_str(),
                    PartitionTypeName(p.type).c_str(),
                    static_cast<unsigned long long>(p.byteCount / 1024),
                    position(p.startCylinder, p.startHead).c_str(),
                    position(p.endCylinder, p.endHead).c_str(),
                    disk.Holds(p) ? "" : " (past the end of the image)");
    return kExitOk;
}

} // namespace

int RunInfo(CCliOwner& owner, const std::string& image, bool json) {
    if (IsHardDiskFile(image))
        return RunHardDiskInfo(owner, image, json);
    CDiskImage& disk = owner.Image();
    const bool loaded = disk.LoadImage(image) != 0;
    owner.SayNotices();
    // A directory that could not be read still leaves a geometry to report.
    if (disk.IsMapped()) {
        if (!json) {
            disk.ShowGeometry();
            owner.SayNotices();
            if (disk.Map().firstSectorId == 1) {
                const BootMachine machine = MachineBootedBy(disk.BootSector());
                std::printf("Bootable on : %s\n",
                            machine == BootMachine::None ? "none" : BootMachineName(machine));
            }
            if (const auto protection = disk.ReadProtection())
                std::printf("Protection : %s\n", ProtectionText(*protection).c_str());
            if (const auto label = disk.Volume().Label()) {
                std::string kept;
                for (const char* word : label->KeptStamps())
                    kept += (kept.empty() ? "" : ", ") + std::string(word);
                std::printf("Label : %s (stamps: %s)\n", Printable(label->name).c_str(),
                            kept.empty() ? "none" : kept.c_str());
            }
        } else {
            PrintJsonLine(InfoJson(image, disk));
        }
    } else if (const auto protection = disk.ReadProtection()) {
        // No file system to report, but what protects the disk is known.
        if (json) {
            JsonObject error = ImageErrorJson(image, owner);
            error["protection"] = ProtectionJson(protection);
            PrintJsonLine(error);
        } else {
            std::printf("Protection : %s\n", ProtectionText(*protection).c_str());
        }
    }
    disk.CloseImage();
    return loaded ? kExitOk : kExitFailed;
}

Verb InfoVerb() {
    return {"info", "Show the geometry and file-system parameters",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto image = std::make_shared<std::string>();
                auto json = std::make_shared<bool>(false);
                cmd.add_option("IMAGE", *image, "Image file")->required();
                cmd.add_flag("--json", *json, "The figures as one JSON object");
                cmd.footer("Examples:\n  tarnlight-cli info game.dsk\n"
                           "  tarnlight-cli info plus3e.hdf          # its partitions\n"
                           "  tarnlight-cli info plus3e.hdf:FILES    # one +3DOS partition");
                return [image, json](CCliOwner& owner) { return RunInfo(owner, *image, *json); };
            }};
}
