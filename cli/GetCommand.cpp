// get: files out of an image into a folder, or one to standard output.

#include "Commands.h"
#include "Session.h"
#include "CatalogueView.h"
#include "FileHeader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

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

} // namespace

int RunGet(CCliOwner& owner, const GetOptions& options) {
    const bool toStdout = options.folder == "-";
    std::error_code ec;
    if (!toStdout && !fs::is_directory(options.folder, ec)) {
        Report(options.folder, "not a folder");
        return kExitFailed;
    }
    if (!OpenImage(owner, options.image) && !owner.Image().IsMapped())
        return kExitFailed;
    CDiskImage& disk = owner.Image();
    // A partly readable image still gives every file that can be read.
    int status = disk.IsReadOnly() ? kExitFailed : kExitOk;
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
        CutData(data, options.stripHeader, options.exact, disk.LastRecordBytes(row));
        if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() ||
            std::fflush(stdout) != 0) {
            Report("standard output", std::strerror(errno));
            return kExitFailed;
        }
        return status;
    }

    CDiskImage::ExtractOptions extract;
    extract.style = options.padded ? CDiskImage::HostNames::Padded : CDiskImage::HostNames::Trimmed;
    extract.replace = !options.noClobber;
    // One host name, one file: a second file for a name this command wrote
    // (the same name under another user) is not written over the first.
    std::map<std::string, unsigned> written;
    for (const FileEntry& row : rows) {
        const std::string host = CDiskImage::HostName(row, extract.style);
        const std::string shown = UserAndName(row);
        if (const auto it = written.find(host); it != written.end()) {
            Report(shown, "not extracted: " + std::to_string(it->second) + ":" +
                              Printable(ShownFileName(row)) +
                              " was extracted to the same host file");
            status = kExitFailed;
            continue;
        }
        const std::uint8_t lastBytes = disk.LastRecordBytes(row);
        if (options.stripHeader || options.exact)
            extract.filter = [&options, lastBytes](std::vector<std::uint8_t>& data) {
                CutData(data, options.stripHeader, options.exact, lastBytes);
            };
        owner.TakeLastError();
        if (disk.ExtractFile(options.folder, row, extract)) {
            written.emplace(host, row.user);
        } else if (disk.LastFailure() == FailReason::FileExists && options.noClobber) {
            written.emplace(host, row.user); // left alone, as asked
        } else {
            if (owner.TakeLastError().empty())
                Report(shown, ReasonText(disk));
            status = kExitFailed;
        }
    }
    return status;
}
