// new: a blank image of one of the standard formats.

#include "Commands.h"
#include "Session.h"

#include <filesystem>
#include <map>
#include <memory>
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
    const bool created = owner.Image().CreateImage(image, force, format) != 0;
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
    return {"new", "Create a blank image", [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                using F = CDiskImage::NewFormat;
                struct Options {
                    std::string image, format = "plus3";
                    bool force = false;
                };
                auto made = std::make_shared<Options>();
                cmd.add_option("IMAGE", made->image, "Image file to create")->required();
                cmd.add_option("-f,--format", made->format,
                               "plus3 (also pcw180): +3/PCW 180K, 40 tracks, one side (the "
                               "default); pcw720: PCW/+3 720K, 80 tracks, two sides; cpcdata: "
                               "CPC data 180K; cpcsys: CPC system 171K with 2 reserved tracks")
                    ->check(CLI::IsMember({"plus3", "pcw180", "pcw720", "cpcdata", "cpcsys"}));
                cmd.add_flag("--force", made->force, "Replace an existing file");
                cmd.footer("Every track is formatted with 0xE5.\n\nExamples:\n"
                           "  tarnlight-cli new blank.dsk\n"
                           "  tarnlight-cli new -f pcw720 big.dsk");
                return [made](CCliOwner& owner) {
                    const std::map<std::string, F> formats = {{"plus3", F::Plus3},
                                                              {"pcw180", F::Plus3},
                                                              {"pcw720", F::Pcw720},
                                                              {"cpcdata", F::CpcData},
                                                              {"cpcsys", F::CpcSystem}};
                    return RunNew(owner, made->image, formats.at(made->format), made->force);
                };
            }};
}
