// info: the geometry and file-system figures of one image.

#include "Commands.h"
#include "Session.h"
#include "Json.h"

int RunInfo(CCliOwner& owner, const std::string& image, bool json) {
    CDiskImage& disk = owner.Image();
    const bool loaded = disk.LoadImage(image) != 0;
    // A directory that could not be read still leaves a geometry to report.
    if (disk.IsMapped()) {
        if (!json) {
            disk.ShowGeometry();
        } else {
            PrintJsonLine(InfoJson(image, disk));
        }
    }
    disk.CloseImage();
    return loaded ? kExitOk : kExitFailed;
}
