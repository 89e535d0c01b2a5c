// put: host files (or standard input) into an image, with a +3DOS or
// AMSDOS header where asked; one save for the whole command.

#include "BasicText.h"
#include "CatalogueView.h"
#include "Commands.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unistd.h>

namespace {

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

// The most BASIC text read for one program: far more than any program a
// disk holds, even with comments, and still a bound on what is read.
constexpr std::uint32_t kMaxBasicText = 16 * 1024 * 1024;
// The most data read for one file: more than CP/M's largest disk holds.
constexpr std::uint32_t kMaxDiskData = 32 * 1024 * 1024;

// Reads a host file (or standard input for "-") whole; a file larger than
// `limit` is refused, for `why`, before it is read.
bool ReadHostData(const std::string& file, std::uint32_t limit, const std::string& why,
                  std::vector<std::uint8_t>& data) {
    if (file == "-") {
        std::uint8_t buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
            data.insert(data.end(), buffer, buffer + n);
            if (data.size() > limit) {
                Report("standard input", why);
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
        Report(file, why);
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
// starts with a valid header of that kind (a program just made never does,
// whatever its first bytes look like).
bool AddHeader(const HeaderRequest& request, const CDiskImage::ImportTarget& target,
               const std::string& file, std::vector<std::uint8_t>& data, bool madeHere) {
    if (const auto present = ParseFileHeader(data.data(), data.size());
        !madeHere && present && present->kind == request.kind)
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
        header = MakeAmsdosHeader(target.file.user, target.file.name.data(), target.file.type.data(),
                                  request.fileType, length, request.load, request.entry);
    }
    data.insert(data.begin(), header.begin(), header.end());
    return true;
}

// Turns BASIC text into the program its header is made for; a line that
// cannot be read is reported with where it is, and nothing is stored.
bool TokenizeText(const HeaderRequest& request, const std::string& file,
                  std::vector<std::uint8_t>& data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    TokenizedProgram made = request.kind == FileHeader::Kind::Plus3Dos
                                ? TokenizeSinclairBasic(text)
                                : TokenizeLocomotiveBasic(text);
    auto where = [](const TextPlace& place) {
        return "line " + std::to_string(place.line) + ", column " + std::to_string(place.column);
    };
    for (const TextProblem& warning : made.warnings)
        std::fprintf(stderr, "WARNING: %s: %s: %s\n", Printable(file).c_str(),
                     where(warning.place).c_str(), warning.message.c_str());
    if (made.error) {
        Report(file, where(made.error->place) + ": " + made.error->message + ": not stored");
        return false;
    }
    data = std::move(made.program);
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

namespace {

// A host file read and made ready to store, before the image is touched.
struct PreparedFile {
    std::string source; // as named on the command line
    CDiskImage::ImportTarget target;
    std::vector<std::uint8_t> data;
};

// The CP/M name a host file takes, its data read (tokenised, with its
// header); false, reported, when it cannot be stored.
bool Prepare(const PutOptions& options, const std::string& file, PreparedFile& prepared) {
    prepared.source = file;
    CDiskImage::ImportTarget& target = prepared.target;
    target.replace = options.replace;
    target.file.user = static_cast<std::uint8_t>(options.user < 0 ? 0 : options.user);
    std::string name = options.as.empty() ? HostNameForCpm(PathLeaf(file)) : options.as;
    if (!options.as.empty()) {
        const FilePattern given = ParsePattern(options.as);
        if (given.user >= 0) {
            target.file.user = static_cast<std::uint8_t>(given.user);
            name = given.glob;
        }
        // A name given is stored as typed or not at all.
        if (NameIsCut(name)) {
            Report(file, Printable(name) + " is longer than 8.3");
            return false;
        }
    }
    switch (ParseCpmName(name, options.keepName ? NameCase::AsGiven : NameCase::Upper, target.file)) {
    case NameCheck::Valid:
        break;
    case NameCheck::Empty:
        Report(file, "no name to store it under: give one with --as NAME.TYP");
        return false;
    case NameCheck::BadCharacter:
        Report(file, "'" + Printable(name) +
                         "' is no CP/M name (spaces, / \\ < > . , ; : = ? * [ ] | \" and "
                         "control or non-ASCII bytes cannot be addressed): give one with "
                         "--as NAME.TYP");
        return false;
    }
    // A text is measured by the program it makes, once made; other files
    // by the largest disk there is, and then by the disk's free space.
    return ReadHostData(file, options.tokenize ? kMaxBasicText : kMaxDiskData,
                        options.tokenize ? "longer than any BASIC text read here (16 MiB)"
                                         : FailReasonText(FailReason::DiskFull),
                        prepared.data) &&
           (!options.tokenize || TokenizeText(*options.header, file, prepared.data)) &&
           (!options.header ||
            AddHeader(*options.header, target, file, prepared.data, options.tokenize));
}

} // namespace

int RunPut(CCliOwner& owner, const PutOptions& options) {
    // Every host file (and standard input) is read before the image is
    // locked: the lock is never held while we wait on a terminal or a pipe.
    // A command is one change: every file is stored, or none is.
    // (Said where the command named more than the file that failed.)
    const bool several = options.files.size() > 1 && !options.keepGoing;
    const char* const kNothing = several ? ": nothing stored" : "";
    int status = kExitOk;
    std::vector<PreparedFile> files;
    for (const std::string& file : options.files) {
        PreparedFile prepared;
        if (Prepare(options, file, prepared)) {
            files.push_back(std::move(prepared));
            continue;
        }
        status = kExitFailed;
        if (!options.keepGoing) {
            if (several)
                Report(options.image, "nothing stored (--keep-going stores the files that can be)");
            return kExitFailed;
        }
    }
    if (!OpenImage(owner, options.image, true))
        return FinishChanges(owner, kExitFailed);
    // The host file each name of this command came from: two that cut to one
    // name are never stored over each other.
    std::map<FileId, std::string> stored;
    std::vector<std::string> cut;
    for (const PreparedFile& file : files) {
        const CDiskImage::ImportTarget& target = file.target;
        bool fine = true;
        if (const auto earlier = stored.find(target.file); earlier != stored.end()) {
            Report(file.source, "is stored as " + Printable(target.file.Shown()) + ", as " +
                                    earlier->second + " is: not stored over it" + kNothing);
            fine = false;
        }
        // A read-only file is replaced only when forced.
        if (fine && options.replace) {
            std::vector<FileEntry> existing;
            for (std::size_t i = 0; i < CatalogueLength(owner.Rows()); ++i) {
                const FileEntry& row = owner.Rows()[i];
                if (FileId::Of(row) == target.file)
                    existing.push_back(row);
            }
            fine = WritableOrForced(options.image, existing, options.force);
        }
        fine = fine && Attempt(
                           owner, file.source,
                           [&](CDiskImage& image) { return image.ImportData(target, file.data); },
                           " on the image (use --replace to replace it)", kNothing);
        if (!fine) {
            status = kExitFailed;
            if (!options.keepGoing)
                return FinishChanges(owner, status);
            continue;
        }
        stored.emplace(target.file, file.source);
        // A host name cut to fit is said, with what it became.
        if (options.as.empty() && HostNameIsCut(PathLeaf(file.source)))
            cut.push_back(Printable(file.source) + " \u2192 " + std::to_string(target.file.user) +
                          ":" + Printable(target.file.ShownName()));
    }
    if (!owner.CommitChange())
        return kExitFailed;
    for (const std::string& line : cut)
        std::printf("%s\n", line.c_str());
    if (status != kExitOk && !stored.empty())
        std::fprintf(stderr, "WARNING: %s: %zu of %zu files stored (--keep-going)\n",
                     Printable(options.image).c_str(), stored.size(), options.files.size());
    return status;
}
