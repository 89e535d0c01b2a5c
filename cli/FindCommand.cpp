// find: the files of a collection that match a pattern, one line each.

#include "Commands.h"
#include "Session.h"
#include "CatalogueView.h"
#include "Json.h"
#include "Walk.h"

#include <cstdio>

int RunFind(CCliOwner& owner, const FindOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images =
        CollectImages(options.paths, options.recursive, anyFolder);
    const std::vector<FilePattern> patterns{ParsePattern(options.pattern)};
    CDiskImage& disk = owner.Image();
    const int status =
        WalkImages(owner, images, options.jobs, "", [&](const std::string& path, const char*, bool&) {
            const int result = OpenImage(owner, path) ? kExitOk : kExitFailed;
            if (!disk.IsMapped())
                return result;
            for (const FileEntry& row : Filtered(owner.Rows(), patterns)) {
                if (options.json) {
                    PrintJsonLine(FoundJson(path, row));
                } else {
                    std::printf("%s: %s %lu\n", Printable(path).c_str(), UserAndName(row).c_str(),
                                static_cast<unsigned long>(row.size));
                }
            }
            return result;
        });
    disk.CloseImage();
    return status;
}
