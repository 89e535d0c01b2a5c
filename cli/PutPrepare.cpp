#include "PutPrepare.h"

#include "BasicText.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Session.h"

#include <cstdio>
#include <map>

namespace {

// Turns BASIC text into the program its header is made for; a line that
// cannot be read is reported with where it is, and nothing is stored.
bool TokenizeText(const PutOptions& options, const std::string& file,
                  std::vector<std::uint8_t>& data, std::map<std::string, unsigned>& labels) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    TokenizedProgram made = options.header->kind == FileHeader::Kind::Plus3Dos
                                ? TokenizeSinclairBasic(text, options.labels)
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
    labels = std::move(made.labels);
    return true;
}

// Why a name cannot be stored, in the command line's words.
std::string NameRefusal(NameCheck check, const std::string& name) {
    switch (check) {
    case NameCheck::Valid:
        break;
    case NameCheck::Empty:
        return "no name to store it under: give one with --as NAME.TYP";
    case NameCheck::BadCharacter:
        return "'" + Printable(name) +
               "' is no CP/M name (spaces, / \\ < > . , ; : = ? * [ ] | \" and control or "
               "non-ASCII bytes cannot be addressed): give one with --as NAME.TYP";
    case NameCheck::TooLong:
        return Printable(name) + " is longer than 8.3";
    }
    return {};
}

// The CP/M name a host file takes, its data read (tokenised, with its
// header); false, reported, when it cannot be stored.
bool Prepare(const PutOptions& options, const std::string& file, PreparedFile& prepared) {
    prepared.source = file;
    CDiskImage::ImportTarget& target = prepared.target;
    target.replace = options.replace;
    target.file.user = static_cast<std::uint8_t>(options.user < 0 ? 0 : options.user);
    const FilePattern given = ParsePattern(options.as);
    if (given.user >= 0)
        target.file.user = static_cast<std::uint8_t>(given.user);
    const std::string name = given.user >= 0 ? given.glob : options.as;
    const NameCheck check = NameForStoring(
        file, name, options.keepName ? NameCase::AsGiven : NameCase::Upper, target.file);
    if (check != NameCheck::Valid) {
        Report(file, NameRefusal(check, name.empty() ? HostNameForCpm(PathLeaf(file)) : name));
        return false;
    }
    // A text is measured by the program it makes, once made; other files
    // by the largest disk there is, and then by the disk's free space.
    std::string cause;
    if (!ReadHostFile(file, options.tokenize ? kMaxBasicTextBytes : kMaxDiskFileBytes,
                      options.tokenize ? kBasicTextTooLong : FailReasonText(FailReason::DiskFull),
                      prepared.data, cause)) {
        Report(file == "-" ? "standard input" : file, cause);
        return false;
    }
    std::map<std::string, unsigned> labels;
    if (options.tokenize && !TokenizeText(options, file, prepared.data, labels))
        return false;
    std::optional<HeaderRequest> header = options.header;
    if (header && !header->startLabel.empty()) {
        const auto label = labels.find(header->startLabel);
        if (label == labels.end()) {
            Report(file, "the label @" + header->startLabel +
                             " the program is to start at is not defined: not stored");
            return false;
        }
        header->param1 = static_cast<std::uint16_t>(label->second);
    }
    if (header &&
        !AddRequestedHeader(*header, target.file.user, target.file.name.data(),
                            target.file.type.data(), options.tokenize, prepared.data, cause)) {
        Report(file, cause);
        return false;
    }
    return true;
}

} // namespace

// Every host file (and standard input) read, before the image is locked:
// the lock is never held while we wait on a terminal or a pipe.
bool PrepareAll(const PutOptions& options, std::vector<PreparedFile>& files, int& status) {
    for (const std::string& file : options.files) {
        PreparedFile prepared;
        if (Prepare(options, file, prepared)) {
            files.push_back(std::move(prepared));
            continue;
        }
        status = kExitFailed;
        if (!options.keepGoing) {
            if (options.files.size() > 1)
                Report(options.image, "nothing stored (--keep-going stores the files that can be)");
            return false;
        }
    }
    return true;
}
