// get -r: every image of a collection into a folder of its own.

#include "Commands.h"
#include "Extract.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Whether two of the rows, under different users, take one host name.
bool UsersShareAName(const std::vector<FileEntry>& rows, CDiskImage::HostNames style) {
    std::map<std::string, unsigned> users;
    for (const FileEntry& row : rows) {
        const auto [it, added] = users.emplace(HostName(row, style), row.user);
        if (!added && it->second != row.user)
            return true;
    }
    return false;
}

// Whether folder `inner` lies inside folder `outer`.
bool Inside(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == '/';
}

// Each image's folder under OUTDIR, relative to it. An image's files and its
// users' folders go into its folder, so no folder is another's, inside
// another's or around one: two images that would share one (game.dsk and
// game.DSK, or two named game.dsk in folders given apart) keep their whole
// names; a folder that still meets another's takes a number (x~2), on the
// part that meets it (coll/x.dsk's x and coll/x/0.dsk's x/0 give x and
// x~2/0).
std::vector<std::string> ImageFolders(const ImageSet& set) {
    std::map<std::string, unsigned> uses;
    for (const std::string& relative : set.relative)
        ++uses[relative];
    std::vector<std::string> folders;
    auto meeting = [&folders](const std::string& candidate) {
        return std::any_of(folders.begin(), folders.end(), [&](const std::string& other) {
            return other == candidate || Inside(candidate, other) || Inside(other, candidate);
        });
    };
    for (std::size_t i = 0; i < set.images.size(); ++i) {
        std::string relative = set.relative[i];
        if (uses[relative] > 1)
            relative =
                (fs::path(relative).parent_path() / fs::path(set.images[i]).filename()).string();
        // The number goes after the part of the path that meets another
        // folder: the whole of it, unless it lies inside that one.
        std::size_t cut = relative.size();
        for (const std::string& outer : folders)
            if (Inside(relative, outer))
                cut = std::min(cut, outer.size());
        std::string unique = relative;
        for (unsigned n = 2; meeting(unique); ++n)
            unique = relative.substr(0, cut) + "~" + std::to_string(n) + relative.substr(cut);
        folders.push_back(unique);
    }
    return folders;
}

// Every file once: an image reached twice (named, and found in a folder
// named too) is extracted the first time only.
ImageSet OnceEach(const ImageSet& set) {
    ImageSet unique = set;
    unique.images.clear();
    unique.relative.clear();
    std::set<std::string> seen;
    for (std::size_t i = 0; i < set.images.size(); ++i) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(set.images[i], ec);
        if (!seen.insert(ec ? set.images[i] : canonical.string()).second)
            continue;
        unique.images.push_back(set.images[i]);
        unique.relative.push_back(set.relative[i]);
    }
    return unique;
}

// One line for the whole collection: what was extracted, and why the rest
// was not.
void PrintSummary(std::size_t images, const WalkTally& totals) {
    std::string why;
    const unsigned other = totals.filesFailed - totals.filesUnreadable - totals.filesClashing;
    for (const auto& [count, text] :
         {std::pair{totals.filesUnreadable, "unreadable on the disk"},
          std::pair{totals.filesClashing, "a name another user's file took"},
          std::pair{other, "host file errors"}})
        if (count > 0)
            why += (why.empty() ? " (" : ", ") + std::to_string(count) + " " + text;
    if (!why.empty())
        why += ")";
    const std::string kept =
        totals.filesKept > 0 ? ", " + std::to_string(totals.filesKept) + " left as they were (-n)"
                             : "";
    const std::string skipped =
        totals.filesSkipped > 0 || totals.filesPartial > 0
            ? ", " + std::to_string(totals.filesSkipped) + " skipped (no LocoScript document)" +
                  (totals.filesPartial > 0
                       ? ", " + std::to_string(totals.filesPartial) + " written in part"
                       : "")
            : "";
    std::printf("%zu images, %u files extracted%s%s, %u not%s, %u images not read\n", images,
                totals.filesDone, kept.c_str(), skipped.c_str(), totals.filesFailed, why.c_str(),
                totals.imagesUnread);
}

} // namespace

int RunGetRecursive(CCliOwner& owner, const GetOptions& options) {
    ImageSet set = OnceEach(CollectImages(options.paths, true));
    std::error_code ec;
    fs::create_directories(options.folder, ec);
    if (!fs::is_directory(options.folder, ec)) {
        Report(options.folder, "cannot make the output folder" + (ec ? ": " + ec.message() : ""));
        return kExitFailed;
    }
    std::map<std::string, std::string> folderOf;
    const std::vector<std::string> folders = ImageFolders(set);
    for (std::size_t i = 0; i < set.images.size(); ++i)
        folderOf[set.images[i]] = options.folder + "/" + folders[i];
    const auto style =
        options.padded ? CDiskImage::HostNames::Padded : CDiskImage::HostNames::Trimmed;
    std::vector<FilePattern> patterns;
    for (const std::string& text : options.patterns)
        patterns.push_back(ParsePattern(text));
    CDiskImage& disk = owner.Image();
    WalkTally totals;
    int status = WalkImages(
        set.images, options.jobs, "",
        [&](const std::string& path, const char*, bool&, WalkTally& tally) {
            const bool opened = OpenImage(owner, path);
            if (!disk.IsMapped()) {
                tally.imagesUnread = 1;
                return int{kExitFailed};
            }
            const std::vector<FileEntry> rows =
                Filtered(owner.Rows(), patterns, &tally.patternsMatched);
            const std::string base = folderOf[path];
            // LocoScript documents go by group, which tells users apart.
            const bool byUser =
                options.byUser || (options.locoscript.empty() && UsersShareAName(rows, style));
            const ExtractCounts counts =
                ExtractRows(owner, path, rows, options, [&](const FileEntry& row) {
                    return byUser ? base + "/" + std::to_string(row.user) : base;
                });
            tally.filesDone = counts.done;
            tally.filesFailed = counts.failed;
            tally.filesUnreadable = counts.unreadable;
            tally.filesClashing = counts.clashing;
            tally.filesKept = counts.kept;
            tally.filesSkipped = counts.skipped;
            tally.filesPartial = counts.partial;
            // A partly readable image gives what can be read, and fails.
            return counts.failed > 0 || counts.partial > 0 || !opened ? int{kExitFailed}
                                                                      : int{kExitOk};
        },
        &totals);
    disk.CloseImage();
    PrintSummary(set.images.size(), totals);
    if (ReportUnmatched(options.patterns, totals.patternsMatched) || set.failed)
        status = std::max(status, int{kExitFailed});
    return status;
}
