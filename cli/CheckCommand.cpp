// check: a read-only file-system check of images, one line per problem.

#include "Commands.h"
#include "Json.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>

int RunCheck(CCliOwner& owner, const CheckOptions& options) {
    const ImageSet set = CollectImages(options.paths, options.recursive);
    CDiskImage& disk = owner.Image();
    int status =
        WalkImages(owner, set.images, options.jobs, "",
                   [&](const std::string& path, const char*, bool&, WalkTally&) {
                       owner.TakeLastError();
                       disk.LoadImage(path);
                       if (!disk.IsMapped()) {
                           // Not a disk image this program can read: a failure, not damage.
                           if (options.json)
                               PrintJsonLine(ImageErrorJson(path, owner));
                           return int{kExitFailed};
                       }
                       const std::vector<CheckProblem> problems = disk.CheckFileSystem();
                       if (options.json) {
                           PrintJsonLine(CheckJson(path, problems));
                       } else if (problems.empty()) {
                           std::printf("%s: clean\n", Printable(path).c_str());
                       }
                       if (!options.json)
                           for (const CheckProblem& problem : problems)
                               std::printf("%s: %s%s%s\n", Printable(path).c_str(),
                                           Printable(problem.file).c_str(),
                                           problem.file.empty() ? "" : ": ", problem.text.c_str());
                       return problems.empty() ? int{kExitOk} : int{kExitFailed};
                   });
    disk.CloseImage();
    return set.failed ? std::max(status, int{kExitFailed}) : status;
}
