// get: files out of an image into a folder, or one to standard output.

#include "CatalogueView.h"
#include "Commands.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ExtractCounts {
    unsigned done = 0;
    unsigned failed = 0;
    // Of those failed: the disk could not be read, or another user's file
    // took the host name.
    unsigned unreadable = 0;
    unsigned clashing = 0;
    // Existing host files left alone (-n).
    unsigned kept = 0;
};

// The batch of files written before they are named together.
constexpr std::size_t kBatch = 64;

// Cuts a file's data as get was asked to: to the length its header gives
// (the header taken off), or for a file without one to CP/M 3's byte count
// of the last record.
void CutData(std::vector<std::uint8_t>& data, bool stripHeader, bool exact,
             std::uint8_t lastRecordBytes) {
    if (stripHeader) {
        if (const auto header = ParseFileHeader(data.data(), data.size())) {
            data.erase(data.begin(), data.begin() + kHeaderSize);
            data.resize(std::min<std::size_t>(data.size(), header->dataLength));
            return;
        }
    }
    if (exact && lastRecordBytes != 0 && lastRecordBytes < 128 && data.size() >= 128)
        data.resize(data.size() - 128 + lastRecordBytes);
}

// Extracts the rows into the folders `folderFor` gives (made as needed):
// each file written whole before it takes its name, the files named in
// batches after one sync of their data. Errors name the image (`image`, when
// given) and the file.
template <typename FolderFor>
ExtractCounts ExtractRows(CCliOwner& owner, const std::string& image,
                          const std::vector<FileEntry>& rows, const GetOptions& options,
                          FolderFor&& folderFor) {
    CDiskImage& disk = owner.Image();
    ExtractCounts counts;
    const std::string lead = image.empty() ? "" : image + ": ";
    CDiskImage::ExtractOptions extract;
    extract.style = options.padded ? CDiskImage::HostNames::Padded : CDiskImage::HostNames::Trimmed;
    extract.replace = !options.noClobber;
    extract.stampTime = true;
    std::vector<std::unique_ptr<CHostFileWriter>> pending;
    std::vector<std::string> pendingNames;
    extract.deferred = &pending;
    auto nameBatch = [&] {
        std::vector<CHostFileWriter*> files;
        for (const auto& file : pending)
            files.push_back(file.get());
        const std::vector<CommitOutcome> outcomes = CommitTogether(files, extract.replace);
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            if (outcomes[i].named) {
                ++counts.done;
            } else if (outcomes[i].existed && options.noClobber) {
                ++counts.kept;
            } else {
                Report(lead + pendingNames[i],
                       "cannot write " + files[i]->Target() + ": " + outcomes[i].cause);
                ++counts.failed;
            }
        }
        pending.clear();
        pendingNames.clear();
    };
    // One host name, one file: a second file for a name this command wrote
    // (the same name under another user) is not written over the first.
    std::map<std::string, unsigned> written;
    std::set<std::string> made;
    for (const FileEntry& row : rows) {
        const std::string folder = folderFor(row);
        const std::string host = folder + "/" + CDiskImage::HostName(row, extract.style);
        const std::string shown = lead + UserAndName(row);
        if (const auto it = written.find(host); it != written.end()) {
            Report(shown, "not extracted: " + std::to_string(it->second) + ":" +
                              Printable(ShownFileName(row)) +
                              " was extracted to the same host file");
            ++counts.failed;
            ++counts.clashing;
            continue;
        }
        if (made.insert(folder).second) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (ec) {
                Report(shown, "cannot make the folder " + folder + ": " + ec.message());
                ++counts.failed;
                continue;
            }
        }
        const std::uint8_t lastBytes = disk.Volume().LastRecordBytes(FileId::Of(row));
        extract.filter = nullptr;
        if (options.stripHeader || options.exact)
            extract.filter = [&options, lastBytes](std::vector<std::uint8_t>& data) {
                CutData(data, options.stripHeader, options.exact, lastBytes);
            };
        owner.TakeLastError();
        const std::size_t before = pending.size();
        if (disk.ExtractFile(folder, row, extract)) {
            written.emplace(host, row.user);
            if (pending.size() > before)
                pendingNames.push_back(UserAndName(row));
            if (pending.size() >= kBatch)
                nameBatch();
        } else {
            if (owner.TakeLastError().empty())
                Report(shown, disk.LastStatus().Text());
            ++counts.failed;
            const FailReason reason = disk.LastStatus().reason;
            counts.unreadable += reason == FailReason::DiskRead ||
                                 reason == FailReason::ForeignTrack ||
                                 reason == FailReason::DuplicateExtent;
            // The rest of the rows name files of the image as it was: none
            // is taken from what another program saved since.
            if (reason == FailReason::ImageChanged) {
                counts.failed += static_cast<unsigned>(&rows.back() - &row);
                break;
            }
        }
    }
    nameBatch();
    return counts;
}

} // namespace

int RunGet(CCliOwner& owner, const GetOptions& options) {
    const bool toStdout = options.folder == "-";
    std::error_code ec;
    if (!toStdout && !fs::is_directory(options.folder, ec)) {
        Report(options.folder, "not a folder");
        return kExitFailed;
    }
    const bool opened = OpenImage(owner, options.image);
    if (!opened && !owner.Image().IsMapped())
        return kExitFailed;
    CDiskImage& disk = owner.Image();
    // A partly readable image still gives every file that can be read, and
    // fails; one only read-only (a warning said why) is a success.
    int status = opened ? kExitOk : kExitFailed;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), options.patterns, status);

    if (toStdout) {
        if (rows.size() != 1) {
            if (status == kExitOk || !rows.empty())
                Report(options.image, rows.empty() ? "no file to write to standard output"
                                                   : "standard output takes one file; the "
                                                     "patterns name " +
                                                         std::to_string(rows.size()));
            return kExitFailed;
        }
        std::vector<std::uint8_t> data;
        const FileEntry& row = rows.front();
        if (!Attempt(owner, UserAndName(row), [&](CDiskImage& image) {
                return image.ReadFileData(row, [&](const std::uint8_t* bytes, std::size_t size) {
                    data.insert(data.end(), bytes, bytes + size);
                    return true;
                });
            }))
            return kExitFailed;
        CutData(data, options.stripHeader, options.exact, disk.Volume().LastRecordBytes(FileId::Of(row)));
        if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() ||
            std::fflush(stdout) != 0) {
            Report("standard output", std::strerror(errno));
            return kExitFailed;
        }
        return status;
    }

    const ExtractCounts counts = ExtractRows(owner, options.image, rows, options,
                                             [&](const FileEntry&) { return options.folder; });
    return counts.failed > 0 ? kExitFailed : status;
}

namespace {

// Whether two of the rows, under different users, take one host name.
bool UsersShareAName(const std::vector<FileEntry>& rows, CDiskImage::HostNames style) {
    std::map<std::string, unsigned> users;
    for (const FileEntry& row : rows) {
        const auto [it, added] = users.emplace(CDiskImage::HostName(row, style), row.user);
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

} // namespace

int RunGetRecursive(CCliOwner& owner, const GetOptions& options) {
    ImageSet set = CollectImages(options.paths, true);
    // Every file once: an image reached twice (named, and found in a folder
    // named too) is extracted the first time only.
    {
        ImageSet unique;
        std::set<std::string> seen;
        for (std::size_t i = 0; i < set.images.size(); ++i) {
            std::error_code ec;
            const fs::path canonical = fs::weakly_canonical(set.images[i], ec);
            if (!seen.insert(ec ? set.images[i] : canonical.string()).second)
                continue;
            unique.images.push_back(set.images[i]);
            unique.relative.push_back(set.relative[i]);
        }
        set.images = std::move(unique.images);
        set.relative = std::move(unique.relative);
    }
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
        owner, set.images, options.jobs, "",
        [&](const std::string& path, const char*, bool&, WalkTally& tally) {
            owner.TakeLastError();
            const bool opened = OpenImage(owner, path);
            if (!disk.IsMapped()) {
                tally.imagesUnread = 1;
                return int{kExitFailed};
            }
            const std::vector<FileEntry> rows =
                Filtered(owner.Rows(), patterns, &tally.patternsMatched);
            const std::string base = folderOf[path];
            const bool byUser = options.byUser || UsersShareAName(rows, style);
            const ExtractCounts counts =
                ExtractRows(owner, path, rows, options, [&](const FileEntry& row) {
                    return byUser ? base + "/" + std::to_string(row.user) : base;
                });
            tally.filesDone = counts.done;
            tally.filesFailed = counts.failed;
            tally.filesUnreadable = counts.unreadable;
            tally.filesClashing = counts.clashing;
            tally.filesKept = counts.kept;
            // A partly readable image gives what can be read, and fails.
            return counts.failed > 0 || !opened ? int{kExitFailed} : int{kExitOk};
        },
        &totals);
    disk.CloseImage();
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
        totals.filesKept > 0 ? ", " + std::to_string(totals.filesKept) + " left as they were (-n)" : "";
    std::printf("%zu images, %u files extracted%s, %u not%s, %u images not read\n", set.images.size(),
                totals.filesDone, kept.c_str(), totals.filesFailed, why.c_str(), totals.imagesUnread);
    if (ReportUnmatched(options.patterns, totals.patternsMatched) || set.failed)
        status = std::max(status, int{kExitFailed});
    return status;
}
