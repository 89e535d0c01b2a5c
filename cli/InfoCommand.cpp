// info: the geometry and file-system figures of one image.

#include "Commands.h"
#include "Json.h"
#include "Session.h"

#include <cstdio>
#include <memory>

int RunInfo(CCliOwner& owner, const std::string& image, bool json) {
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
                cmd.footer("Example:\n  tarnlight-cli info game.dsk");
                return [image, json](CCliOwner& owner) { return RunInfo(owner, *image, *json); };
            }};
}
