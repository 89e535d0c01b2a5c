// get, put, rm, mv, attr, new, boot-read and boot-write: each opens the
// image as the window does, runs the core's operations and reports every
// refusal with its reason. A command that changes the image saves once, at
// its end, every change it made.

#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Names.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The reason, with the system's words where the host file system failed.
std::string ReasonText(const CDiskImage& disk) {
    const FailReason reason = disk.LastFailure();
    std::string text = FailReasonText(reason);
    if ((reason == FailReason::HostOpen || reason == FailReason::HostRead ||
         reason == FailReason::HostWrite || reason == FailReason::ForeignTrack ||
         reason == FailReason::ReadOnly) &&
        !disk.LastCause().empty())
        text += ": " + disk.LastCause();
    return text;
}

// Runs one operation of the core; when it fails, reports the reason unless
// the core showed a message of its own for it. Returns whether it succeeded.
template <typename Operation>
bool Attempt(CCliOwner& owner, const std::string& subject, Operation&& operation,
             const char* existsHint = nullptr) {
    owner.TakeLastError();
    if (operation(owner.Image()))
        return true;
    if (owner.TakeLastError().empty()) {
        const FailReason reason = owner.Image().LastFailure();
        std::string text = ReasonText(owner.Image());
        if (reason == FailReason::FileExists && existsHint != nullptr)
            text += existsHint;
        Report(subject, text);
    }
    return false;
}

// Ends the command's update: every change it made is saved at once, or the
// failure is reported and the image file stays as it was.
int FinishChanges(CCliOwner& owner, int status) {
    if (!owner.Image().EndUpdate())
        return kExitFailed;
    return status;
}

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

bool ParseAddress(const std::string& text, std::uint16_t& value) {
    if (text.empty())
        return false;
    int base = 10;
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        base = 16;
        digits = digits.substr(2);
    } else if (digits[0] == '&' || digits[0] == '$') {
        base = 16;
        digits = digits.substr(1);
    }
    if (digits.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(digits.c_str(), &end, base);
    if (*end != 0 || errno != 0 || number > 0xFFFF || digits[0] == '-' || digits[0] == '+')
        return false;
    value = static_cast<std::uint16_t>(number);
    return true;
}

// Reads a host file (or standard input for "-") whole; a file larger than
// the disk is refused before it is read.
bool ReadHostData(const std::string& file, std::uint32_t limit, std::vector<std::uint8_t>& data) {
    if (file == "-") {
        std::uint8_t buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
            data.insert(data.end(), buffer, buffer + n);
            if (data.size() > limit) {
                Report("standard input", FailReasonText(FailReason::DiskFull));
                return false;
            }
        }
        if (std::ferror(stdin)) {
            Report("standard input", std::strerror(errno));
            return false;
        }
        return true;
    }
    CHostFileReader reader;
    if (!reader.Open(file)) {
        Report(file, reader.Cause());
        return false;
    }
    if (reader.Size() > limit) {
        Report(file, FailReasonText(FailReason::DiskFull));
        return false;
    }
    data.resize(static_cast<std::size_t>(reader.Size()));
    const long got = data.empty() ? 0 : reader.Read(data.data(), data.size());
    if (got < 0 || static_cast<std::size_t>(got) != data.size()) {
        Report(file, FailReasonText(FailReason::HostRead));
        return false;
    }
    return true;
}

// Puts the requested header in front of the data, unless the data already
// starts with a valid header of that kind.
bool AddHeader(const HeaderRequest& request, const CDiskImage::ImportTarget& target,
               const std::string& file, std::vector<std::uint8_t>& data) {
    if (const auto present = ParseFileHeader(data.data(), data.size());
        present && present->kind == request.kind)
        return true;
    if (data.size() > 0xFFFF) {
        Report(file, "too long for a header: its fields hold at most 65535 bytes of data");
        return false;
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    std::vector<std::uint8_t> header;
    if (request.kind == FileHeader::Kind::Plus3Dos) {
        // A program's parameter 2 is its length without variables; a code
        // file's is 32768.
        const std::uint16_t param2 = request.fileType == FileHeader::kPlus3Program
                                         ? static_cast<std::uint16_t>(length)
                                         : request.param2;
        header = MakePlus3Header(request.fileType, length, request.param1, param2);
    } else {
        header = MakeAmsdosHeader(target.user, target.name.name.data(), target.name.type.data(),
                                  request.fileType, length, request.load, request.entry);
    }
    data.insert(data.begin(), header.begin(), header.end());
    return true;
}

} // namespace

std::optional<HeaderRequest> ParseHeaderRequest(FileHeader::Kind kind, const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    HeaderRequest request;
    request.kind = kind;
    const std::string& what = parts[0];
    if (kind == FileHeader::Kind::Plus3Dos) {
        if (what == "code" && parts.size() == 2 && ParseAddress(parts[1], request.param1)) {
            request.fileType = FileHeader::kPlus3Code;
            request.param2 = 32768;
            return request;
        }
        if (what == "basic" && parts.size() <= 2) {
            request.fileType = FileHeader::kPlus3Program;
            request.param1 = FileHeader::kNoAutostart;
            if (parts.size() == 2 &&
                (!ParseAddress(parts[1], request.param1) || request.param1 > 9999))
                return std::nullopt;
            return request;
        }
        return std::nullopt;
    }
    if (what == "bin" && (parts.size() == 2 || parts.size() == 3) &&
        ParseAddress(parts[1], request.load)) {
        request.fileType = FileHeader::kAmsdosBinary;
        request.entry = request.load;
        if (parts.size() == 3 && !ParseAddress(parts[2], request.entry))
            return std::nullopt;
        return request;
    }
    if (what == "basic" && parts.size() == 1) {
        // Where AMSDOS loads a BASIC program.
        request.fileType = FileHeader::kAmsdosBasic;
        request.load = 0x0170;
        return request;
    }
    return std::nullopt;
}

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

int RunPut(CCliOwner& owner, const PutOptions& options) {
    if (!OpenImage(owner, options.image, true))
        return FinishChanges(owner, kExitFailed);
    CDiskImage& disk = owner.Image();
    int status = kExitOk;
    for (const std::string& file : options.files) {
        CDiskImage::ImportTarget target;
        target.replace = options.replace;
        target.user = static_cast<std::uint8_t>(options.user < 0 ? 0 : options.user);
        std::string name = options.as.empty() ? PathLeaf(file) : options.as;
        if (!options.as.empty()) {
            const FilePattern given = ParsePattern(options.as);
            if (given.user >= 0) {
                target.user = static_cast<std::uint8_t>(given.user);
                name = given.glob;
            }
        }
        switch (ParseCpmName(name, options.keepName ? NameCase::AsGiven : NameCase::Upper, target.name)) {
        case NameCheck::Valid:
            break;
        case NameCheck::Empty:
            Report(file, "no name to store it under: give one with --as NAME.TYP");
            status = kExitFailed;
            continue;
        case NameCheck::BadCharacter:
            Report(file, "'" + Printable(name) +
                             "' is no CP/M name (spaces, / \\ < > . , ; : = ? * [ ] | \" and "
                             "control or non-ASCII bytes cannot be addressed): give one with "
                             "--as NAME.TYP");
            status = kExitFailed;
            continue;
        }
        std::vector<std::uint8_t> data;
        if (!ReadHostData(file, disk.GetCapacity(), data) ||
            (options.header && !AddHeader(*options.header, target, file, data))) {
            status = kExitFailed;
            continue;
        }
        if (!Attempt(
                owner, file, [&](CDiskImage& image) { return image.ImportData(target, data); },
                " on the image (use --replace to replace it)"))
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

int RunMv(CCliOwner& owner, const std::string& image, const std::string& from,
          const std::string& to) {
    const FilePattern target = ParsePattern(to);
    CpmName name;
    if (target.wild || ParseCpmName(target.glob, NameCase::Upper, name) != NameCheck::Valid) {
        Report(to, "is no CP/M name (NAME.TYP, optionally USER: in front)");
        return kExitUsage;
    }
    if (ParsePattern(from).wild) {
        Report(from, "mv renames one file: give its name without wildcards");
        return kExitUsage;
    }
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), {from}, status);
    if (rows.size() == 1) {
        const FileEntry& row = rows.front();
        const auto user = static_cast<std::uint8_t>(target.user >= 0 ? target.user : row.user);
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.RenameFile(row, user, name); },
                     std::string(": " + std::to_string(user) + ":" + Printable(target.glob) +
                                 " is already on the image")
                         .c_str()))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}

int RunAttr(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns,
            unsigned set, unsigned clear) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    for (const FileEntry& row : SelectRows(owner.Rows(), patterns, status)) {
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.SetAttributes(row, set, clear); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}

int RunNew(CCliOwner& owner, const std::string& image, CDiskImage::NewFormat format, bool force) {
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
    if (owner.Image().CreateImage(image, force, format))
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
