// boot-read and boot-write: the boot sector to and from a 512-byte file.

#include "Commands.h"
#include "HostFile.h"
#include "Session.h"

#include <cstdio>

#include <filesystem>
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
