// Tapes onto disks: a tape built byte by byte, and the same tape as a TZX
// made by Fuse's tapeconv, read through libspectrum into +3DOS files.

#include "Tape.h"
#include "FileHeader.h"
#include "SinclairBasic.h"
#include "support/HostTools.h"
#include "support/TapBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// 10 PRINT "hi"
const Bytes kProgram = {0x00, 0x0A, 0x06, 0x00, 0xF5, '"', 'h', 'i', '"', 0x0D};

TEST(Tape, NamesFollowTheTapeNameAndClashesTakeADigit) {
    TapeFile file;
    file.type = 3;
    file.name = "Manic Mine";
    EXPECT_EQ(DiskNameForTapeFile(file, 1, {}), "MANICMIN.BIN");
    file.name = "game.bin  ";
    EXPECT_EQ(DiskNameForTapeFile(file, 1, {"GAME.BIN"}), "GAM1.BIN");
    // Past nine clashes the number takes two places, never a name taken.
    std::vector<std::string> taken = {"GAME.BIN"};
    for (char digit = '1'; digit <= '9'; ++digit)
        taken.push_back(std::string("GAM") + digit + ".BIN");
    EXPECT_EQ(DiskNameForTapeFile(file, 1, taken), "GA10.BIN");
    file.name = "          ";
    file.type = 0;
    EXPECT_EQ(DiskNameForTapeFile(file, 7, {}), "FILE07.BAS");
    file.type = 1;
    file.name = "scores    ";
    EXPECT_EQ(DiskNameForTapeFile(file, 1, {}), "SCORES.DAT");
}

TEST(Tape, EveryStandardFileLandsWithItsHeaderFromTapAndTzx) {
    TempDir dir;
    Bytes tap;
    AddFile(tap, 0, "loader", kProgram, 10, static_cast<std::uint16_t>(kProgram.size()));
    const Bytes code = PatternBytes(6912, 4);
    AddFile(tap, 3, "Manic Mine", code, 16384, 32768);
    const Bytes numbers = {1, 'a' | 0x80, 0x05, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0};
    AddFile(tap, 1, "scores", numbers, 0x8100, 32768);
    AddBlock(tap, 0xFF, PatternBytes(300, 5)); // no header
    WriteFile(dir / "game.tap", tap);
    std::vector<std::string> tapes = {"game.tap"};
    if (HaveProgram("tapeconv") &&
        RunCommand("tapeconv " + Quote(dir / "game.tap") + " " + Quote(dir / "game.tzx")).status == 0)
        tapes.push_back("game.tzx");
    for (const std::string& tape : tapes) {
        const std::string image = dir / (tape + ".dsk");
        ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
        const CommandResult in = RunCommand(Cli("tape-in " + Quote(image) + " " + Quote(dir / tape)), true);
        EXPECT_EQ(in.status, 0) << in.out;
        EXPECT_NE(in.out.find("\"Manic Mine\" CODE 16384,6912 \xe2\x86\x92 0:MANICMIN.BIN"), std::string::npos)
            << in.out;
        EXPECT_NE(in.out.find("block 6: 300 bytes with no header, not stored"), std::string::npos) << in.out;
        const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
        std::map<std::string, nlohmann::json> files;
        for (const auto& f : listing["files"])
            files[f["name"].get<std::string>() + "." + f["type"].get<std::string>()] = f;
        ASSERT_EQ(files.size(), 3u) << tape;
        EXPECT_EQ(files["LOADER.BAS"]["header"]["line"], 10);
        EXPECT_EQ(files["MANICMIN.BIN"]["header"]["load"], 16384);
        EXPECT_EQ(files["MANICMIN.BIN"]["kind"], "SCREEN$");
        EXPECT_EQ(files["SCORES.DAT"]["header"]["filetype"], "numbers");
        const std::string got = RunCommand(Cli("get --strip-header " + Quote(image) + " - MANICMIN.BIN")).out;
        EXPECT_EQ(Bytes(got.begin(), got.end()), code);
        EXPECT_EQ(RunCommand(Cli("cat " + Quote(image) + " LOADER.BAS")).out, "   10 PRINT \"hi\"\n");
        // --headerless keeps the block's data under its number.
        const CommandResult again =
            RunCommand(Cli("tape-in --headerless -u 1 " + Quote(image) + " " + Quote(dir / tape)), true);
        EXPECT_EQ(again.status, 0) << again.out;
        const std::string block = RunCommand(Cli("get " + Quote(image) + " - 1:BLOCK06.BIN")).out;
        EXPECT_EQ(Bytes(block.begin(), block.begin() + 300), PatternBytes(300, 5));
    }
    // Out again: the files with a header as a tape Fuse's tools read, the
    // data blocks byte for byte the original's, and back in unchanged.
    const std::string image0 = dir / "game.tap.dsk";
    for (const char* out : {"out.tap", "out.tzx"}) {
        const CommandResult written =
            RunCommand(Cli("tape-out " + Quote(image0) + " " + Quote(dir / out) + " 0:LOADER.BAS '0:MANIC*' 0:SCORES.DAT"), true);
        ASSERT_EQ(written.status, 0) << written.out;
        std::vector<TapeBlock> original, again;
        std::string error;
        ASSERT_TRUE(ReadTapeBlocks(ReadFile(dir / "game.tap"), "game.tap", original, error));
        ASSERT_TRUE(ReadTapeBlocks(ReadFile(dir / out), out, again, error)) << error;
        ASSERT_EQ(again.size(), 6u) << out;
        for (std::size_t i = 0; i < 6; ++i) {
            if (i % 2 == 1) {
                EXPECT_EQ(again[i].bytes, original[i].bytes) << out << " block " << i;
            } else {
                // Header: type, length and parameters as on the original tape.
                EXPECT_EQ(again[i].bytes[1], original[i].bytes[1]);
                EXPECT_TRUE(std::equal(again[i].bytes.begin() + 12, again[i].bytes.end() - 1,
                                       original[i].bytes.begin() + 12));
            }
        }
        if (HaveProgram("tzxlist")) {
            EXPECT_NE(RunCommand("tzxlist " + Quote(dir / out)).out.find("Program: \"LOADER    \" LINE 10"),
                      std::string::npos);
        }
        if (HaveProgram("listbasic")) {
            EXPECT_EQ(RunCommand("listbasic " + Quote(dir / out)).out, "   10 PRINT \"hi\"\n");
        }
        const std::string back = dir / (std::string(out) + ".dsk");
        ASSERT_EQ(RunCommand(Cli("new " + Quote(back))).status, 0);
        ASSERT_EQ(RunCommand(Cli("tape-in " + Quote(back) + " " + Quote(dir / out))).status, 0);
        for (const char* name : {"LOADER.BAS", "MANICMIN.BIN", "SCORES.DAT"})
            EXPECT_EQ(RunCommand(Cli("get " + Quote(back) + " - " + name)).out,
                      RunCommand(Cli("get " + Quote(image0) + " - 0:" + name)).out)
                << out << " " << name;
    }
    EXPECT_EQ(RunCommand(Cli("tape-out " + Quote(image0) + " " + Quote(dir / "out.wav"))).status, 2);

    // Not a tape: refused before the image is touched.
    const std::string image = dir / "game.tap.dsk";
    const auto before = ReadFile(image);
    WriteFile(dir / "noise.tap", {1, 2, 3});
    EXPECT_EQ(RunCommand(Cli("tape-in " + Quote(image) + " " + Quote(dir / "noise.tap"))).status, 1);
    EXPECT_EQ(ReadFile(image), before);
}

} // namespace

namespace {

TEST(Tape, HeaderlessBlocksOfEveryTapeTakeNamesOfTheirOwn) {
    EXPECT_EQ(DiskNameForBlock(7, {}), "BLOCK07.BIN");
    EXPECT_EQ(DiskNameForBlock(7, {"BLOCK07.BIN"}), "BLOCK07A.BIN");
    EXPECT_EQ(DiskNameForBlock(7, {"BLOCK07.BIN", "BLOCK07A.BIN"}), "BLOCK07B.BIN");
    EXPECT_EQ(DiskNameForBlock(101, {"BLOCK01.BIN"}), "BLOCK101.BIN");
    EXPECT_EQ(DiskNameForBlock(101, {"BLOCK101.BIN"}), "BLOCK10A.BIN");
    EXPECT_EQ(DiskNameForBlock(12345, {}), "BLK12345.BIN");

    // Two tapes of headerless blocks, the second with more than a hundred:
    // every block stored under a name of its own, its data intact.
    TempDir dir;
    Bytes side1, side2;
    for (unsigned b = 0; b < 2; ++b)
        AddBlock(side1, 0xFF, PatternBytes(10 + b, b));
    for (unsigned b = 0; b < 102; ++b)
        AddBlock(side2, 0xFF, PatternBytes(20 + b, 100 + b));
    WriteFile(dir / "side1.tap", side1);
    WriteFile(dir / "side2.tap", side2);
    const std::string image = dir / "d.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f pcw720 " + Quote(image))).status, 0);
    const CommandResult in =
        RunCommand(Cli("tape-in --headerless " + Quote(image) + " " + Quote(dir / "side1.tap") +
                       " " + Quote(dir / "side2.tap")),
                   true);
    ASSERT_EQ(in.status, 0) << in.out;
    // Each stored block is listed with the name it was given.
    std::map<std::string, Bytes> expected;
    for (unsigned b = 0; b < 2; ++b)
        expected["0:BLOCK0" + std::to_string(b) + ".BIN"] = PatternBytes(10 + b, b);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = in.out.find("\xe2\x86\x92 ", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 104u) << in.out;
    EXPECT_NE(in.out.find("block 1 \xe2\x86\x92 0:BLOCK01A.BIN"), std::string::npos) << in.out;
    EXPECT_NE(in.out.find("block 101 \xe2\x86\x92 0:BLOCK101.BIN"), std::string::npos) << in.out;
    EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " - BLOCK101.BIN")).out.substr(0, 121),
              std::string(reinterpret_cast<const char*>(PatternBytes(121, 201).data()), 121));
    for (const auto& [name, data] : expected) {
        const std::string got = RunCommand(Cli("get " + Quote(image) + " - " + name)).out;
        EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<long>(data.size())), data) << name;
    }
    const std::string listing = RunCommand(Cli("ls --json " + Quote(image))).out;
    EXPECT_EQ(nlohmann::json::parse(listing)["files"].size(), 104u);
}

TEST(Tape, ACodeFileTooLongForOneBlockIsRefusedAndNoTapeWritten) {
    TempDir dir;
    const std::string image = dir / "d.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    for (const std::size_t size : {std::size_t{65533}, std::size_t{65534}, std::size_t{65535}}) {
        SCOPED_TRACE(size);
        const std::string name = "C" + std::to_string(size) + ".BIN";
        WriteFile(dir / "code", PatternBytes(size, 9));
        ASSERT_EQ(RunCommand(Cli("put --plus3 code:0 --as " + name + " " + Quote(image) + " " +
                                 Quote(dir / "code")))
                      .status,
                  0);
        for (const char* tape : {"t.tap", "t.tzx"}) {
            fs::remove(dir / tape);
            const CommandResult r = RunCommand(
                Cli("tape-out " + Quote(image) + " " + Quote(dir / tape) + " " + name), true);
            if (size <= kMaxTapeData) {
                EXPECT_EQ(r.status, 0) << r.out;
                std::vector<TapeBlock> blocks;
                std::string error;
                ASSERT_TRUE(ReadTapeBlocks(ReadFile(dir / tape), tape, blocks, error)) << error;
                ASSERT_EQ(blocks.size(), 2u);
                EXPECT_EQ(Bytes(blocks[1].bytes.begin() + 1, blocks[1].bytes.end() - 1),
                          PatternBytes(size, 9));
                if (HaveProgram("tzxlist")) {
                    EXPECT_EQ(
                        RunCommand("tzxlist " + Quote(dir / tape) + " >/dev/null 2>&1").status, 0);
                }
            } else {
                EXPECT_EQ(r.status, 1) << r.out;
                EXPECT_NE(r.out.find("0:" + name + ": too long for one tape block: 65,53" +
                                     std::to_string(size % 10) + " bytes, at most 65,533"),
                          std::string::npos)
                    << r.out;
                EXPECT_FALSE(fs::exists(dir / tape));
            }
        }
        ASSERT_EQ(RunCommand(Cli("rm " + Quote(image) + " " + name)).status, 0);
    }
}

} // namespace

namespace {

// Tape names are in the Spectrum's character set: shown as the listings
// show a string, never as raw bytes that are no UTF-8.
TEST(Tape, NamesAreShownAsTheListingsShowText) {
    const std::pair<std::string, std::string> cases[] = {
        {"PLAIN", "PLAIN"},
        {"A\xAF", "ACODE"},           // a keyword
        {"\x90\xA4", "\\a\\u"},        // UDGs
        {"\x80\x8F", "\\  \\::"},      // block graphics
        {"\x7F\\", "\xC2\xA9\\\\"},    // ©, and a backslash
        {std::string("\x01", 1), "\\{1}"},
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(SpectrumTextShown(bytes), shown) << shown;

    TempDir dir;
    Bytes tap;
    AddFile(tap, 3, std::string("MY\xAF"), PatternBytes(10, 1), 32768, 32768);
    WriteFile(dir / "t.tap", tap);
    const std::string image = dir / "d.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    const CommandResult in = RunCommand(Cli("tape-in " + Quote(image) + " " + Quote(dir / "t.tap")), true);
    ASSERT_EQ(in.status, 0) << in.out;
    EXPECT_NE(in.out.find("\"MYCODE\" CODE 32768,10"), std::string::npos) << in.out;
    EXPECT_EQ(in.out.find('\xAF'), std::string::npos);
}

} // namespace

namespace {

// A block whose checksum fails is named by its number as tzxlist numbers
// it; its file is stored only with --force (said), and without it nothing
// of the command is.
TEST(Tape, ABlockThatFailsItsChecksumIsNamedAndNotStored) {
    TempDir dir;
    Bytes tap;
    AddFile(tap, 3, "good", PatternBytes(50, 1), 32768, 32768);
    AddFile(tap, 3, "bad", PatternBytes(60, 2), 32768, 32768);
    // Block 3 (the second file's data): its last data byte changed.
    const std::size_t badByte = tap.size() - 2;
    tap[badByte] ^= 0x40;
    WriteFile(dir / "t.tap", tap);
    if (HaveProgram("tzxlist")) {
        const std::string listing = RunCommand("tzxlist " + Quote(dir / "t.tap")).out;
        const std::size_t block3 = listing.find("--= Block #3 =--");
        ASSERT_NE(block3, std::string::npos) << listing;
        EXPECT_NE(listing.find("(FAIL)", block3), std::string::npos) << listing;
    }
    const std::string image = dir / "d.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    const Bytes before = ReadFile(image);
    const CommandResult refused = RunCommand(Cli("tape-in " + Quote(image) + " " + Quote(dir / "t.tap")), true);
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("t.tap: block 3 fails its checksum: \"bad\" CODE 32768,60 not stored"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(ReadFile(image), before);
    const CommandResult forced = RunCommand(Cli("tape-in --force " + Quote(image) + " " + Quote(dir / "t.tap")), true);
    EXPECT_EQ(forced.status, 0) << forced.out;
    EXPECT_NE(forced.out.find("WARNING: "), std::string::npos) << forced.out;
    Bytes read = PatternBytes(60, 2);
    read.back() ^= 0x40;
    const std::string got = RunCommand(Cli("get --strip-header " + Quote(image) + " - BAD.BIN")).out;
    EXPECT_EQ(Bytes(got.begin(), got.end()), read);
}

} // namespace
