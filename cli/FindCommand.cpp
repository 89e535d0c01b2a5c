// find: the files of a collection that match a pattern, one line each.

#include "CatalogueView.h"
#include "Commands.h"
#include "Json.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>

int RunFind(CCliOwner& owner, const FindOptions& options) {
    const ImageSet set = CollectImages(options.paths, options.recursive);
    const std::vector<FilePattern> patterns{ParsePattern(options.pattern)};
    CDiskImage& disk = owner.Image();
    owner.ShowWarnings(false);
    WalkTally totals;
    int status = WalkImages(
        owner, set.images, options.jobs, "",
        [&](const std::string& path, const char*, bool&, WalkTally& tally) {
            int result = kExitOk;
            if (!OpenForListing(owner, path, options.json, result))
                return result;
            for (const FileEntry& row : Filtered(owner.Rows(), patterns, &tally.patternsMatched)) {
                if (options.json) {
                    PrintJsonLine(FoundJson(path, row));
                } else {
                    std::printf("%s: %s %lu\n", Printable(path).c_str(), UserAndName(row).c_str(),
                                static_cast<unsigned long>(row.size));
                }
            }
            return result;
        },
        &totals);
    disk.CloseImage();
    if (ReportUnmatched({options.pattern}, totals.patternsMatched) || set.failed)
        status = std::max(status, int{kExitFailed});
    return status;
}
