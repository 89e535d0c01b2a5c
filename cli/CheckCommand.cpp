// check: a read-only file-system check of images, one line per problem.

#include "Commands.h"
#include "Json.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>
#include <memory>

int RunCheck(CCliOwner& owner, const CheckOptions& options) {
    const ImageSet set = CollectImages(options.paths, options.recursive);
    CDiskImage& disk = owner.Image();
    int status =
        WalkImages(set.images, options.jobs, "",
                   [&](const std::string& path, const char*, bool&, WalkTally&) {
                       disk.LoadImage(path);
                       owner.NoteOpenError(owner.SayNotices());
                       if (!disk.IsMapped()) {
                           // Not a disk image this program can read: a failure, not damage.
                           if (options.json)
                               PrintJsonLine(ImageErrorJson(path, owner));
                           return int{kExitFailed};
                       }
                       const std::vector<CheckProblem> problems = disk.CheckFileSystem();
                       owner.SayNotices();
                       const auto fragmented = disk.Volume().FragmentedFiles();
                       if (options.json) {
                           PrintJsonLine(CheckJson(path, problems, fragmented));
                       } else if (problems.empty()) {
                           std::printf("%s: clean\n", Printable(path).c_str());
                       }
                       if (!options.json) {
                           for (const CheckProblem& problem : problems)
                               std::printf("%s: %s%s%s\n", Printable(path).c_str(),
                                           Printable(problem.file).c_str(),
                                           problem.file.empty() ? "" : ": ", problem.text.c_str());
                           // Information, not damage: the status stays.
                           std::string files;
                           for (const auto& [file, runs] : fragmented)
                               files += (files.empty() ? "" : ", ") + Printable(file.Shown()) +
                                        " (" + std::to_string(runs) + " runs)";
                           if (!fragmented.empty())
                               std::printf("%s: %zu %s in more than one run: %s; optimise makes "
                                           "each one run\n",
                                           Printable(path).c_str(), fragmented.size(),
                                           fragmented.size() == 1 ? "file" : "files",
                                           files.c_str());
                       }
                       return problems.empty() ? int{kExitOk} : int{kExitFailed};
                   });
    disk.CloseImage();
    return set.failed ? std::max(status, int{kExitFailed}) : status;
}

Verb CheckVerb() {
    return {"check", "Check the file system of images (reads every block of every file)",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto check = std::make_shared<CheckOptions>();
                cmd.add_option("PATH", check->paths,
                               "Images, or folders of disk images (.dsk, .imd, ...)")
                    ->required();
                AddWalkOptions(cmd, check->json, check->recursive, check->jobs,
                               "One JSON object per image");
                cmd.footer("One line per problem, naming the file. Exit status 1 when any "
                           "image is damaged or cannot be read.\n\nExamples:\n"
                           "  tarnlight-cli check game.dsk\n  tarnlight-cli check -r ~/disks");
                return [check](CCliOwner& owner) { return RunCheck(owner, *check); };
            }};
}
