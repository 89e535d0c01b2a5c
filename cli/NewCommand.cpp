// new: a blank image of one of the standard formats.

#include "Commands.h"
#include "Session.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

int RunNew(CCliOwner& owner, const std::string& image, CDiskImage::NewFormat format, bool force) {
    std::error_code ec;
    const auto status = fs::status(image, ec);
    const bool exists = fs::exists(fs::symlink_status(image, ec));
    if (exists && !force) {
        Report(image, "file exists (use --force to replace it)");
        return kExitFailed;
    }
    if (exists && !fs::is_regular_file(status)) {
        Report(image, "not a regular file");
        return kExitFailed;
    }
    // Created beside the target and put in place whole; without --force a
    // file that appeared meanwhile is still never replaced.
    owner.TakeLastError();
    if (owner.Image().CreateImage(image, force, format))
        return kExitOk;
    if (owner.Image().LastStatus().reason == FailReason::FileExists)
        Report(image, "file exists (use --force to replace it)");
    else if (owner.TakeLastError().empty())
        Report(image, FailReasonText(owner.Image().LastStatus().reason));
    return kExitFailed;
}
