// get, put, rm, new, boot-read and boot-write: each opens the image as the
// window does, runs the core's operation and reports every refusal with its
// reason.

#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"

#include <cstdio>
#include <filesystem>
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

// Shell-style match, ignoring case, against "NAME.TYP" (or "NAME").
bool Matches(const std::string& pattern, const FileEntry& row) {
    return fnmatch(pattern.c_str(), ShownFileName(row).c_str(), FNM_CASEFOLD) == 0;
}

// Rows matching any pattern (every row when there is none), in catalogue
// order; a pattern that matches nothing is reported and fails the command.
std::vector<FileEntry> SelectRows(const Catalogue& rows, const std::vector<std::string>& patterns,
                                  int& status) {
    std::vector<FileEntry> selected;
    std::vector<bool> used(patterns.size(), false);
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        bool take = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (Matches(patterns[p], rows[i])) {
                used[p] = true;
                take = true;
            }
        }
        if (take)
            selected.push_back(rows[i]);
    }
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (!used[p]) {
            Report(patterns[p], "no matching file");
            status = kExitFailed;
        }
    }
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
    for (const FileEntry& row : SelectRows(owner.Rows(), options.patterns, status)) {
        if (!Attempt(owner, ShownFileName(row), [&](CDiskImage& disk) {
                return disk.ExtractFile(options.folder, row.name, row.type, style);
            }))
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
        if (!Attempt(owner, ShownFileName(row),
                     [&](CDiskImage& disk) { return disk.EraseFile(row.name, row.type); }))
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
