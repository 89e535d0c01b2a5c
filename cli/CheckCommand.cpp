// check: a read-only file-system check of images, one line per problem.

#include "Commands.h"
#include "Session.h"
#include "Json.h"
#include "Walk.h"

#include <cstdio>

int RunCheck(CCliOwner& owner, const CheckOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images =
        CollectImages(options.paths, options.recursive, anyFolder);
    CDiskImage& disk = owner.Image();
    const int status =
        WalkImages(owner, images, options.jobs, "", [&](const std::string& path, const char*, bool&) {
            owner.TakeLastError();
            disk.LoadImage(path);
            if (!disk.IsMapped()) {
                // Not a disk image this program can read: a failure, not damage.
                if (options.json)
                    PrintJsonLine(ImageErrorJson(path, owner.TakeLastError()));
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
                                Printable(problem.file).c_str(), problem.file.empty() ? "" : ": ",
                                problem.text.c_str());
            return problems.empty() ? int{kExitOk} : int{kExitFailed};
        });
    disk.CloseImage();
    return status;
}
