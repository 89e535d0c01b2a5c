// new: a blank image of one of the standard formats.

#include "Commands.h"
#include "Formats.h"
#include "Session.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

int RunNew(CCliOwner& owner, const std::string& image, const DiskFormat& format, bool force) {
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
    const bool created = owner.Image().CreateImage(image, force, &format) != 0;
    const bool told = owner.SayNotices().has_value();
    if (created)
        return kExitOk;
    if (owner.Image().LastStatus().reason == FailReason::FileExists)
        Report(image, "file exists (use --force to replace it)");
    else if (!told)
        Report(image, FailReasonText(owner.Image().LastStatus().reason));
    return kExitFailed;
}

Verb NewVerb() {
    return {"new", "Create a blank image",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                struct Options {
                    std::string image, format = "plus3";
                    bool force = false;
                };
                auto made = std::make_shared<Options>();
                cmd.add_option("IMAGE", made->image, "Image file to create")->required();
                cmd.add_option("-f,--format", made->format,
                               "plus3 (also pcw180): +3/PCW 180K, 40 tracks, one side (the "
                               "default); pcw720: PCW/+3 720K, 80 tracks, two sides; cpcdata: "
                               "CPC data 180K; cpcsys: CPC system 171K with 2 reserved tracks; "
                               "and every other format `tarnlight-cli formats` lists")
                    ->check(FormatNameValidator());
                cmd.add_flag("--force", made->force, "Replace an existing file");
                cmd.footer("Every track is formatted with 0xE5. A ROMDOS D1 or Vortex disk shares "
                           "its sector ids with +3 and PCW disks: read it with --format.\n\n"
                           "Examples:\n"
                           "  tarnlight-cli new blank.dsk\n"
                           "  tarnlight-cli new -f pcw720 big.dsk\n"
                           "  tarnlight-cli new -f d20 romdos.dsk");
                return [made](CCliOwner& owner) {
                    return RunNew(owner, made->image, *FormatNamed(made->format), made->force);
                };
            },
            nullptr, false};
}
