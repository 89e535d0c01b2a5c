// tape-out: +3DOS files of a disk onto a tape, written whole or not at all.

#include "CatalogueView.h"
#include "Commands.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Session.h"
#include "SinclairBasic.h"
#include "Tape.h"

#include <cstdio>
#include <memory>

namespace {

// The file's blocks added to the tape; a file without a +3DOS header is
// said and left off. False (reported) when it cannot go on a tape.
bool AddToTape(CCliOwner& owner, const std::string& image, const FileEntry& row,
               std::vector<TapeBlock>& blocks) {
    NamedFile file;
    file.row = row;
    if (!Attempt(owner, image + ": " + UserAndName(row), [&](CDiskImage& disk) {
            return disk.ReadFileData(row, [&](const std::uint8_t* bytes, std::size_t size) {
                file.data.insert(file.data.end(), bytes, bytes + size);
                return true;
            });
        })) {
        return false;
    }
    file.header = ParseFileHeader(file.data.data(), file.data.size());
    if (!file.header || file.header->kind != FileHeader::Kind::Plus3Dos ||
        file.header->fileType > 3 || file.header->dataLength > 0xFFFF) {
        std::printf("%s: %s has no +3DOS header, not on the tape\n", Printable(image).c_str(),
                    UserAndName(row).c_str());
        return true;
    }
    const std::span<const std::uint8_t> data = DataAfterHeader(file);
    if (data.size() > kMaxTapeData) {
        Report(image + ": " + UserAndName(row),
               "too long for one tape block: " + Thousands(data.size()) + " bytes, at most " +
                   Thousands(kMaxTapeData));
        return false;
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
                SpectrumTextShown(tapeFile.name).c_str(), TapeTypeName(tapeFile.type).c_str());
    return true;
}

} // namespace

int RunTapeOut(CCliOwner& owner, const TapeOutOptions& options) {
    const std::string ext =
        options.tape.size() >= 4 ? options.tape.substr(options.tape.size() - 4) : "";
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
    for (const FileEntry& row : rows)
        if (!AddToTape(owner, options.image, row, blocks))
            status = kExitFailed;
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

Verb TapeOutVerb() {
    return {"tape-out", "Write +3DOS files of an image to a tape (.tap or .tzx)",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto tapeOut = std::make_shared<TapeOutOptions>();
                cmd.add_option("IMAGE", tapeOut->image, "Image file")->required();
                cmd.add_option("TAPE", tapeOut->tape, "Tape to write: .tap or .tzx")->required();
                cmd.add_option("PATTERN", tapeOut->patterns,
                               "[USER:]PATTERN, in the order the files go on the tape; every "
                               "file in directory order when none");
                cmd.footer("Each file with a +3DOS header becomes a ROM header block (its name, "
                           "without the type, padded to 10) and a data block; files without one "
                           "are skipped with a line. The tape is written whole or not at all.\n\n"
                           "Examples:\n  tarnlight-cli tape-out game.dsk game.tap\n"
                           "  tarnlight-cli tape-out game.dsk game.tzx DISK 'GAME*.BIN'");
                return [tapeOut](CCliOwner& owner) { return RunTapeOut(owner, *tapeOut); };
            }};
}
