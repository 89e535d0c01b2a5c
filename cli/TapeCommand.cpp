// tape-in: the files of Spectrum tapes onto a disk, each with the +3DOS
// header the +3 needs to LOAD it; one save for the whole command.
// tape-out: +3DOS files of a disk onto a tape.

#include "Commands.h"
#include "Session.h"
#include "SinclairBasic.h"
#include "CatalogueView.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "SafeFile.h"
#include "Tape.h"

#include <cerrno>
#include <cstdio>

namespace {

// "program 10", "CODE 32768,6912", "number array".
std::string Describe(const TapeFile& file) {
    if (file.type == 0)
        return file.param1 < 32768 ? "program LINE " + std::to_string(file.param1) : "program";
    if (file.type == 3)
        return "CODE " + std::to_string(file.param1) + "," + std::to_string(file.data.size());
    return TapeTypeName(file.type);
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
    CHostFileReader reader;
    if (!reader.Open(path)) {
        Report(path, reader.Cause());
        return false;
    }
    bytes.resize(static_cast<std::size_t>(reader.Size()));
    if (!bytes.empty() && reader.Read(bytes.data(), bytes.size()) != static_cast<long>(bytes.size())) {
        Report(path, FailReasonText(FailReason::HostRead));
        return false;
    }
    return true;
}

} // namespace

int RunTapeIn(CCliOwner& owner, const TapeInOptions& options) {
    // Every tape is read before the image is touched.
    std::vector<TapeContents> tapes;
    for (const std::string& path : options.tapes) {
        std::vector<std::uint8_t> bytes;
        std::vector<TapeBlock> blocks;
        std::string error;
        if (!ReadWhole(path, bytes))
            return kExitFailed;
        if (!ReadTapeBlocks(bytes, path, blocks, error)) {
            Report(path, error);
            return kExitFailed;
        }
        tapes.push_back(SplitTape(blocks));
    }
    if (!OpenImage(owner, options.image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    std::vector<std::string> taken;
    for (std::size_t i = 0; i < CatalogueLength(owner.Rows()); ++i)
        if (owner.Rows()[i].user == options.user)
            taken.push_back(ShownFileName(owner.Rows()[i]));
    std::size_t number = 0;
    auto store = [&](const std::string& tape, const std::string& name, std::uint8_t type,
                     std::vector<std::uint8_t> data, std::uint16_t param1, std::uint16_t param2,
                     bool header, const std::string& shown) {
        CDiskImage::ImportTarget target;
        target.file.user = static_cast<std::uint8_t>(options.user);
        if (ParseCpmName(name, NameCase::Upper, target.file) != NameCheck::Valid)
            return;
        if (header) {
            std::vector<std::uint8_t> file =
                MakePlus3Header(type, static_cast<std::uint32_t>(data.size()), param1, param2);
            file.insert(file.end(), data.begin(), data.end());
            data = std::move(file);
        }
        if (!Attempt(owner, tape + ": " + shown, [&](CDiskImage& image) { return image.ImportData(target, data); })) {
            status = kExitFailed;
            return;
        }
        taken.push_back(name);
        std::printf("%s \xe2\x86\x92 %u:%s\n", shown.c_str(), unsigned{target.file.user}, name.c_str());
    };
    // A block whose checksum fails was not read as it was saved: its file
    // is stored only when forced, and said so either way.
    auto checksumsFail = [&](const std::string& tape, const std::vector<std::size_t>& blocks,
                             const std::string& what) {
        if (blocks.empty())
            return false;
        std::string numbers;
        for (const std::size_t block : blocks)
            numbers += (numbers.empty() ? "" : " and ") + std::to_string(block);
        const std::string text = "block " + numbers + " fails its checksum: " + what;
        if (options.force) {
            std::fprintf(stderr, "WARNING: %s: %s stored as read (--force)\n", Printable(tape).c_str(),
                         text.c_str());
            return false;
        }
        Report(tape, text + " not stored (--force stores it as read)");
        status = kExitFailed;
        return true;
    };
    for (std::size_t t = 0; t < tapes.size(); ++t) {
        const std::string& tape = options.tapes[t];
        for (const TapeFile& file : tapes[t].files) {
            std::string trimmed = file.name;
            while (!trimmed.empty() && trimmed.back() == ' ')
                trimmed.pop_back();
            const std::string shown = "\"" + SpectrumTextShown(trimmed) + "\" " + Describe(file);
            const std::size_t fileNumber = ++number;
            if (checksumsFail(tape, file.failedChecksums, shown))
                continue;
            const std::string name = DiskNameForTapeFile(file, fileNumber, taken);
            store(tape, name, file.type, file.data, file.param1, file.param2, true, shown);
        }
        for (const TapeLeftover& leftover : tapes[t].leftovers) {
            const std::string what = "block " + std::to_string(leftover.block);
            if (leftover.checksumFailed &&
                checksumsFail(tape, {leftover.block}, leftover.description + ","))
                continue;
            if (options.headerless && !leftover.data.empty()) {
                store(tape, DiskNameForBlock(leftover.block, taken), 0, leftover.data, 0, 0, false, what);
                continue;
            }
            std::printf("%s: block %zu: %s, not stored\n", Printable(tape).c_str(), leftover.block,
                        leftover.description.c_str());
        }
    }
    return FinishChanges(owner, status, options.keepGoing,
                         "nothing stored (--keep-going stores the files that can be)");
}

int RunTapeOut(CCliOwner& owner, const TapeOutOptions& options) {
    const std::string ext = options.tape.size() >= 4 ? options.tape.substr(options.tape.size() - 4) : "";
    const bool tzx = ext == ".tzx" || ext == ".TZX";
    if (!tzx && ext != ".tap" && ext != ".TAP") {
        Report(options.tape, "a tape is named .tap or .tzx");
        return kExitUsage;
    }
    if (!OpenImage(owner, options.image) && !owner.Image().IsMapped())
        return kExitFailed;
    int status = kExitOk;
    // In the order the patterns name them, else in directory order.
    std::vector<FileEntry> rows;
    if (options.patterns.empty()) {
        rows = SelectRows(owner.Rows(), {}, status);
    } else {
        for (const std::string& pattern : options.patterns)
            for (const FileEntry& row : SelectRows(owner.Rows(), {pattern}, status))
                rows.push_back(row);
    }
    std::vector<TapeBlock> blocks;
    for (const FileEntry& row : rows) {
        NamedFile file;
        file.row = row;
        if (!Attempt(owner, options.image + ": " + UserAndName(row), [&](CDiskImage& disk) {
                return disk.ReadFileData(row, [&](const std::uint8_t* bytes, std::size_t size) {
                    file.data.insert(file.data.end(), bytes, bytes + size);
                    return true;
                });
            })) {
            status = kExitFailed;
            continue;
        }
        file.header = ParseFileHeader(file.data.data(), file.data.size());
        if (!file.header || file.header->kind != FileHeader::Kind::Plus3Dos || file.header->fileType > 3 ||
            file.header->dataLength > 0xFFFF) {
            std::printf("%s: %s has no +3DOS header, not on the tape\n", Printable(options.image).c_str(),
                        UserAndName(row).c_str());
            continue;
        }
        const std::span<const std::uint8_t> data = DataAfterHeader(file);
        if (data.size() > kMaxTapeData) {
            Report(options.image + ": " + UserAndName(row),
                   "too long for one tape block: " + Thousands(data.size()) + " bytes, at most " +
                       Thousands(kMaxTapeData));
            status = kExitFailed;
            continue;
        }
        TapeFile tapeFile;
        tapeFile.type = file.header->fileType;
        tapeFile.name = TrimmedField(row.name, kNameLen);
        tapeFile.param1 = file.header->param1;
        tapeFile.param2 = file.header->param2;
        tapeFile.data.assign(data.begin(), data.end());
        for (TapeBlock& block : BlocksOfTapeFile(tapeFile))
            blocks.push_back(std::move(block));
        std::printf("%s \xe2\x86\x92 \"%s\" %s\n", UserAndName(row).c_str(),
                    SpectrumTextShown(tapeFile.name).c_str(),
                    TapeTypeName(tapeFile.type).c_str());
    }
    // A tape without a file that was asked for is not the tape asked for.
    if (status != kExitOk) {
        Report(options.tape, "not written: a file named could not go on the tape");
        return status;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!WriteTapeBlocks(blocks, tzx, bytes, error)) {
        Report(options.tape, error);
        return kExitFailed;
    }
    std::string cause, warning;
    if (!WriteHostFile(options.tape, bytes, &owner.Image().ImageIdentity(), cause, warning)) {
        Report(options.tape, "cannot write the tape: " + cause);
        return kExitFailed;
    }
    if (!warning.empty())
        std::fprintf(stderr, "WARNING: %s: %s\n", Printable(options.tape).c_str(), warning.c_str());
    return status;
}
