// boot-read and boot-write: the boot sector to and from a 512-byte file.

#include "Commands.h"
#include "HostFile.h"
#include "Session.h"

#include <cstdio>

#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

int RunBootRead(CCliOwner& owner, const std::string& image, const std::string& file) {
    if (!OpenImage(owner, image) && !owner.Image().IsMapped())
        return kExitFailed;
    return Attempt(owner, file, [&](CDiskImage& disk) { return disk.ReadBootSector(file); })
               ? kExitOk
               : kExitFailed;
}

int RunBootWrite(CCliOwner& owner, const std::string& image, const std::string& file, bool force,
                 BootMachine bootable) {
    // A boot sector is 512 bytes; another length is most likely the wrong file.
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!ec && size != 512 && !force) {
        Report(file, "boot-sector files are 512 bytes (use --force to write another length)");
        return kExitFailed;
    }
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    const auto mode =
        force ? CDiskImage::BootWrite::ChangeFormat : CDiskImage::BootWrite::KeepFormat;
    const bool written = Attempt(
        owner, file, [&](CDiskImage& disk) { return disk.WriteBootSector(file, mode, bootable); });
    return FinishChanges(owner, written ? kExitOk : kExitFailed);
}

Verb BootReadVerb() {
    return {"boot-read", "Save the boot sector of an image to a 512-byte file",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto files = std::make_shared<std::pair<std::string, std::string>>();
                cmd.add_option("IMAGE", files->first, "Image file")->required();
                cmd.add_option("FILE", files->second, "Host file to write")->required();
                cmd.footer("Example:\n  tarnlight-cli boot-read game.dsk boot.bin");
                return [files](CCliOwner& owner) {
                    return RunBootRead(owner, files->first, files->second);
                };
            }};
}

Verb BootWriteVerb() {
    return {"boot-write", "Write a 512-byte file into the boot sector of an image",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                struct Options {
                    std::string image, file, bootable;
                    bool force = false;
                };
                auto boot = std::make_shared<Options>();
                cmd.add_option("IMAGE", boot->image, "Image file")->required();
                cmd.add_option("FILE", boot->file, "Host file to read")->required();
                cmd.add_flag("--force", boot->force,
                             "Write a file of another length (its bytes replace the first ones), "
                             "or one that changes the disk specification or the geometry");
                cmd.add_option("--bootable", boot->bootable,
                               "Set byte 15 so that the machine starts from the disk: plus3, "
                               "pcw8256 or pcw9512")
                    ->check(CLI::IsMember({"plus3", "pcw8256", "pcw9512"}));
                cmd.footer("Bytes 0-9 of the disk specification define the format: a change of "
                           "them (or of the geometry LibDsk derives) needs --force. Bytes 10-15 "
                           "change freely.\n\nExamples:\n"
                           "  tarnlight-cli boot-write game.dsk boot.bin\n"
                           "  tarnlight-cli boot-write --bootable plus3 game.dsk loader.bin");
                return [boot](CCliOwner& owner) {
                    const BootMachine machine = boot->bootable == "plus3"     ? BootMachine::Plus3
                                                : boot->bootable == "pcw8256" ? BootMachine::Pcw8256
                                                : boot->bootable == "pcw9512" ? BootMachine::Pcw9512
                                                                              : BootMachine::None;
                    return RunBootWrite(owner, boot->image, boot->file, boot->force, machine);
                };
            }};
}
