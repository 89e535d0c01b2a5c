// tape-in: the files of Spectrum tapes onto a disk, each with the +3DOS
// header the +3 needs to LOAD it; one save for the whole command.

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

// Every tape read and split into files, before the image is touched.
bool ReadTapes(const std::vector<std::string>& paths, std::vector<TapeContents>& tapes) {
    for (const std::string& path : paths) {
        std::vector<std::uint8_t> bytes;
        std::vector<TapeBlock> blocks;
        std::string error;
        if (!ReadHostFile(path, kMaxTapeBytes, kTapeTooLong, bytes, error) ||
            !ReadTapeBlocks(bytes, path, blocks, error)) {
            Report(path, error);
            return false;
        }
        tapes.push_back(SplitTape(blocks));
    }
    return true;
}

// Stores the files of the tapes under one user, each name taken once.
class TapeStorer {
  public:
    TapeStorer(CCliOwner& owner, const TapeInOptions& options)
        : m_Owner(owner), m_Options(options) {
        for (std::size_t i = 0; i < CatalogueLength(owner.Rows()); ++i)
            if (owner.Rows()[i].user == options.user)
                m_Taken.push_back(ShownFileName(owner.Rows()[i]));
    }
    int Status() const { return m_Status; }

    void StoreFile(const std::string& tape, const TapeFile& file) {
        const std::string shown = DescribeTapeFile(file);
        const std::size_t fileNumber = ++m_Files;
        if (!ChecksumsFail(tape, file.failedChecksums, shown))
            Store(tape, DiskNameForTapeFile(file, fileNumber, m_Taken), Plus3FileOfTape(file),
                  shown);
    }

    void StoreLeftover(const std::string& tape, const TapeLeftover& leftover) {
        if (leftover.checksumFailed &&
            ChecksumsFail(tape, {leftover.block}, leftover.description + ","))
            return;
        if (m_Options.headerless && !leftover.data.empty()) {
            Store(tape, DiskNameForBlock(leftover.block, m_Taken), leftover.data,
                  "block " + std::to_string(leftover.block));
            return;
        }
        std::printf("%s: block %zu: %s, not stored\n", Printable(tape).c_str(), leftover.block,
                    leftover.description.c_str());
    }

  private:
    void Store(const std::string& tape, const std::string& name,
               const std::vector<std::uint8_t>& data, const std::string& shown) {
        CDiskImage::ImportTarget target;
        target.file.user = static_cast<std::uint8_t>(m_Options.user);
        if (ParseCpmName(name, NameCase::Upper, target.file) != NameCheck::Valid) {
            Report(tape + ": " + shown, "no CP/M name could be made for it");
            m_Status = kExitFailed;
            return;
        }
        if (!Attempt(m_Owner, tape + ": " + shown,
                     [&](CDiskImage& image) { return image.ImportData(target, data); })) {
            m_Status = kExitFailed;
            return;
        }
        m_Taken.push_back(name);
        std::printf("%s \xe2\x86\x92 %u:%s\n", shown.c_str(), unsigned{target.file.user},
                    name.c_str());
    }

    // A block whose checksum fails was not read as it was saved: its file
    // is stored only when forced, and said so either way.
    bool ChecksumsFail(const std::string& tape, const std::vector<std::size_t>& blocks,
                       const std::string& what) {
        if (blocks.empty())
            return false;
        std::string numbers;
        for (const std::size_t block : blocks)
            numbers += (numbers.empty() ? "" : " and ") + std::to_string(block);
        const std::string text = "block " + numbers + " fails its checksum: " + what;
        if (m_Options.force) {
            std::fprintf(stderr, "WARNING: %s: %s stored as read (--force)\n",
                         Printable(tape).c_str(), text.c_str());
            return false;
        }
        Report(tape, text + " not stored (--force stores it as read)");
        m_Status = kExitFailed;
        return true;
    }

    CCliOwner& m_Owner;
    const TapeInOptions& m_Options;
    std::vector<std::string> m_Taken;
    std::size_t m_Files = 0;
    int m_Status = kExitOk;
};

} // namespace

int RunTapeIn(CCliOwner& owner, const TapeInOptions& options) {
    std::vector<TapeContents> tapes;
    if (!ReadTapes(options.tapes, tapes))
        return kExitFailed;
    if (!OpenImage(owner, options.image, true))
        return FinishChanges(owner, kExitFailed);
    TapeStorer storer(owner, options);
    for (std::size_t t = 0; t < tapes.size(); ++t) {
        for (const TapeFile& file : tapes[t].files)
            storer.StoreFile(options.tapes[t], file);
        for (const TapeLeftover& leftover : tapes[t].leftovers)
            storer.StoreLeftover(options.tapes[t], leftover);
    }
    return FinishChanges(owner, storer.Status(), options.keepGoing,
                         "nothing stored (--keep-going stores the files that can be)");
}

Verb TapeInVerb() {
    return {
        "tape-in", "Store the files of Spectrum tapes (.tap, .tzx) with +3DOS headers",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto tapeIn = std::make_shared<TapeInOptions>();
            cmd.add_option("IMAGE", tapeIn->image, "Image file")->required();
            cmd.add_option("TAPE", tapeIn->tapes, ".tap or .tzx files, read in order")->required();
            cmd.add_option("-u,--user", tapeIn->user, "User number (0-15, default 0)")
                ->check(CLI::Range(0, 15));
            cmd.add_flag("--force", tapeIn->force,
                         "Store a file whose blocks fail their checksums, as read (said "
                         "for each)");
            AddKeepGoing(cmd, tapeIn->keepGoing, "stored");
            cmd.add_flag("--headerless", tapeIn->headerless,
                         "Store blocks without a header as BLOCKnn.BIN (their data alone)");
            cmd.footer(
                "Each standard file (a header block and its data block) becomes a file with "
                "the +3DOS header the +3 needs to LOAD it: the tape name upper-cased, letters "
                "and digits only, cut to 8.3, type BAS, BIN or DAT unless the name has one; "
                "a clash takes a digit. Other blocks are named (numbered from 0, as tzxlist "
                "numbers them) and skipped. A block that fails its checksum stops the "
                "command unless --force. One save for the whole command, or none.\n\n"
                "Examples:\n  tarnlight-cli tape-in game.dsk game.tap\n"
                "  tarnlight-cli tape-in --headerless -u 1 game.dsk side1.tzx side2.tzx\n"
                "  tarnlight-cli tape-in --force game.dsk worn.tap");
            return [tapeIn](CCliOwner& owner) { return RunTapeIn(owner, *tapeIn); };
        }};
}
