#include "CliOwner.h"
#include "Commands.h"

int RunInfo(CCliOwner& owner, const std::string& image) {
    CDiskImage& disk = owner.Image();
    const bool loaded = disk.LoadImage(image) != 0;
    // A directory that could not be read still leaves a geometry to report.
    if (disk.IsMapped())
        disk.ShowGeometry();
    disk.CloseImage();
    return loaded ? kExitOk : kExitFailed;
}
