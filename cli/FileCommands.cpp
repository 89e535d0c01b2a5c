// get, put, rm, new, boot-read and boot-write: each opens the image as the
// window does, runs the core's operation and reports every refusal with its
// reason.

#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <fnmatch.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

void Report(const std::string& subject, const char* reason) {
    std::fprintf(stderr, "ERROR: %s: %s\n", subject.c_str(), reason);
}

// Runs one operation of the core; when it fails, reports the reason unless
// the core showed a message of its own for it. Returns whether it succeeded.
template <typename Operation>
bool Attempt(CCliOwner& owner, const std::string& subject, Operation&& operation) {
    owner.TakeLastError();
    if (operation(owner.Image()))
        return true;
    if (owner.TakeLastError().empty())
        Report(subject, FailReasonText(owner.Image().LastFailure()));
    return false;
}

// A file on an image as the command line names it: [USER:]PATTERN, USER 0-31
// or "*"; without it the pattern matches every user. The pattern is
// shell-style (*, ?), ignores case and is matched against "NAME.TYP" (or
// "NAME").
struct FilePattern {
    int user = -1; // -1: any
    std::string glob;
    bool wild = false;
};

FilePattern ParsePattern(const std::string& text) {
    FilePattern pattern;
    pattern.glob = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        const std::string user = text.substr(0, colon);
        char* end = nullptr;
        const long number = std::strtol(user.c_str(), &end, 10);
        if (user == "*") {
            pattern.glob = text.substr(colon + 1);
        } else if (!user.empty() && *end == 0 && number >= 0 && number <= 31) {
            pattern.user = static_cast<int>(number);
            pattern.glob = text.substr(colon + 1);
        }
    }
    pattern.wild = pattern.glob.find_first_of("*?[") != std::string::npos;
    return pattern;
}

bool Matches(const FilePattern& pattern, const FileEntry& row) {
    if (pattern.user >= 0 && pattern.user != row.user)
        return false;
    return fnmatch(pattern.glob.c_str(), ShownFileName(row).c_str(), FNM_CASEFOLD) == 0;
}

std::string UserAndName(const FileEntry& row) {
    return std::to_string(row.user) + ":" + ShownFileName(row);
}

// Rows matching any pattern (every row when there is none), in catalogue
// order. A pattern that matches nothing is reported and fails the command.
// A name without wildcards must name one file: when it matches several
// (under other users, or differing only in case), nothing is selected and
// the candidates are listed, so that no file the user did not name is
// touched.
std::vector<FileEntry> SelectRows(const Catalogue& rows, const std::vector<std::string>& texts,
                                  int& status) {
    std::vector<FilePattern> patterns;
    for (const std::string& text : texts)
        patterns.push_back(ParsePattern(text));
    std::vector<FileEntry> selected;
    std::vector<std::vector<std::size_t>> hits(patterns.size());
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        bool take = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (Matches(patterns[p], rows[i])) {
                hits[p].push_back(i);
                take = true;
            }
        }
        if (take)
            selected.push_back(rows[i]);
    }
    bool refused = false;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (hits[p].empty()) {
            Report(texts[p], "no matching file");
            status = kExitFailed;
        } else if (!patterns[p].wild && hits[p].size() > 1) {
            std::string candidates;
            for (std::size_t i : hits[p])
                candidates += (candidates.empty() ? "" : ", ") + UserAndName(rows[i]);
            Report(texts[p], ("names several files (" + candidates + "): give USER:NAME").c_str());
            status = kExitFailed;
            refused = true;
        }
    }
    if (refused)
        selected.clear();
    return selected;
}

} // namespace

int RunGet(CCliOwner& owner, const GetOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(options.folder, ec)) {
        Report(options.folder, "not a folder");
        return kExitFailed;
    }
    if (!OpenImage(owner, options.image) && !owner.Image().IsMapped())
        return kExitFailed;
    // A partly readable image still gives every file that can be read.
    int status = owner.Image().IsReadOnly() ? kExitFailed : kExitOk;
    const auto style = options.trim ? CDiskImage::HostNames::Trimmed : CDiskImage::HostNames::Padded;
    // One host name, one file: a second file for a name this command wrote
    // (the same name under another user) is not written over the first.
    std::map<std::string, unsigned> written;
    for (const FileEntry& row : SelectRows(owner.Rows(), options.patterns, status)) {
        const std::string host = CDiskImage::HostName(row, style);
        const std::string shown = UserAndName(row);
        if (const auto it = written.find(host); it != written.end()) {
            Report(shown, ("not extracted: " + std::to_string(it->second) + ":" +
                           ShownFileName(row) + " was extracted to the same host file")
                              .c_str());
            status = kExitFailed;
            continue;
        }
        if (Attempt(owner, shown, [&](CDiskImage& disk) {
                return disk.ExtractFile(options.folder, row, style);
            }))
            written.emplace(host, row.user);
        else
            status = kExitFailed;
    }
    return status;
}

// Ends the command's update: every change it made is saved at once, or the
// failure is reported and the image file stays as it was.
int FinishChanges(CCliOwner& owner, int status) {
    if (!owner.Image().EndUpdate())
        return kExitFailed;
    return status;
}

int RunPut(CCliOwner& owner, const std::string& image, const std::vector<std::string>& files) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    for (const std::string& file : files) {
        if (!Attempt(owner, file, [&](CDiskImage& disk) { return disk.ImportFile(file); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}

int RunRm(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    for (const FileEntry& row : SelectRows(owner.Rows(), patterns, status)) {
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.EraseFile(row); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}

int RunNew(CCliOwner& owner, const std::string& image, bool force) {
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
    owner.TakeLastError();
    if (owner.Image().CreateImage(image, force))
        return kExitOk;
    if (owner.Image().LastFailure() == FailReason::FileExists)
        Report(image, "file exists (use --force to replace it)");
    else if (owner.TakeLastError().empty())
        Report(image, FailReasonText(owner.Image().LastFailure()));
    return kExitFailed;
}

int RunBootRead(CCliOwner& owner, const std::string& image, const std::string& file) {
    if (!OpenImage(owner, image) && !owner.Image().IsMapped())
        return kExitFailed;
    return Attempt(owner, file, [&](CDiskImage& disk) { return disk.ReadBootSector(file); })
               ? kExitOk
               : kExitFailed;
}

int RunBootWrite(CCliOwner& owner, const std::string& image, const std::string& file,
                 bool force) {
    // A boot sector is 512 bytes; another length is most likely the wrong file.
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!ec && size != 512 && !force) {
        Report(file, "boot-sector files are 512 bytes (use --force to write another length)");
        return kExitFailed;
    }
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    const auto mode = force ? CDiskImage::BootWrite::ChangeFormat : CDiskImage::BootWrite::KeepFormat;
    const bool written =
        Attempt(owner, file, [&](CDiskImage& disk) { return disk.WriteBootSector(file, mode); });
    return FinishChanges(owner, written ? kExitOk : kExitFailed);
}
