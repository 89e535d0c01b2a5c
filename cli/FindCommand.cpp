// find: the files of a collection that match a pattern, one line each.

#include "CatalogueView.h"
#include "Commands.h"
#include "Json.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>
#include <memory>

int RunFind(CCliOwner& owner, const FindOptions& options) {
    const ImageSet set = CollectImages(options.paths, options.recursive);
    const std::vector<FilePattern> patterns{ParsePattern(options.pattern)};
    CDiskImage& disk = owner.Image();
    owner.ShowWarnings(false);
    WalkTally totals;
    int status = WalkImages(set.images, options.jobs, "",
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

Verb FindVerb() {
    return {"find", "Find files by name across images and folders of images",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto find = std::make_shared<FindOptions>();
                cmd.add_option("PATTERN", find->pattern,
                               "[USER:]PATTERN, shell-style, ignoring case")
                    ->required();
                cmd.add_option("PATH", find->paths,
                               "Images, or folders of disk images (.dsk, .imd, ...)")
                    ->required();
                AddWalkOptions(cmd, find->json, find->recursive, find->jobs,
                               "One JSON object per file found");
                cmd.footer("Prints IMAGE: USER:NAME.TYP SIZE (bytes) for each file found.\n\n"
                           "Examples:\n  tarnlight-cli find -r 'MANIC*' ~/disks\n"
                           "  tarnlight-cli find '0:*.BAS' a.dsk b.dsk");
                return [find](CCliOwner& owner) { return RunFind(owner, *find); };
            }};
}
