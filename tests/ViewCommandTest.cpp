// cat and screen on disks made here and on the corpus: what a user sees of
// a file, end to end through the command line.

#include "FileHeader.h"
#include "support/HostTools.h"
#include "support/PngReader.h"

#include <array>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Picture ReadPng(const std::string& path) { return DecodePng(ReadFile(path)); }

class ViewCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunCommand(Cli("new " + Quote(plus3))).status, 0);
        ASSERT_EQ(RunCommand(Cli("new -f cpcdata " + Quote(cpc))).status, 0);
    }
    CommandResult Run(const std::string& args) { return RunCommand(Cli(args), false); }
    CommandResult RunBoth(const std::string& args) { return RunCommand(Cli(args), true); }
    void Put(const std::string& image, const std::string& options, const std::string& as,
             const Bytes& data) {
        const std::string file = dir / "in.bin";
        WriteFile(file, data);
        ASSERT_EQ(RunCommand(Cli("put " + options + " --as " + as + " " + Quote(image) + " " +
                                 Quote(file)))
                      .status,
                  0);
    }

    TempDir dir;
    std::string plus3 = dir / "plus3.dsk";
    std::string cpc = dir / "cpc.dsk";
};

TEST_F(ViewCommands, PlusThreeBasicIsListedAsListbasicListsItsTape) {
    if (!HaveProgram("zmakebas") || !HaveProgram("listbasic"))
        GTEST_SKIP() << "zmakebas and listbasic (Debian zmakebas, fuse-emulator-utils) are not installed";
    std::ofstream(dir / "loader.bas") << "10 BORDER 0: PAPER 0: INK 7: CLS\n"
                                         "20 PRINT AT 10,4;\"\\{i6}Loading...\"\n"
                                         "30 LOAD \"game\" CODE 32768: RANDOMIZE USR 32768\n";
    ASSERT_EQ(RunCommand("zmakebas -a 10 -o " + Quote(dir / "loader.tap") + " " + Quote(dir / "loader.bas")).status, 0);
    ASSERT_EQ(RunCommand("zmakebas -r -o " + Quote(dir / "loader.raw") + " " + Quote(dir / "loader.bas")).status, 0);
    Put(plus3, "--plus3 basic:10", "DISK", ReadFile(dir / "loader.raw"));
    const CommandResult listed = Run("cat " + Quote(plus3) + " DISK");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, RunCommand("listbasic " + Quote(dir / "loader.tap")).out);
    EXPECT_EQ(Run("cat --basic " + Quote(plus3) + " 0:disk").out, listed.out);
    // The listing stops at the program's end, before its variables.
    Bytes withVariables = ReadFile(dir / "loader.raw");
    const std::size_t programLength = withVariables.size();
    withVariables.insert(withVariables.end(), {0x61, 0x00, 0x00, 0x01, 0x00, 0x00});
    Bytes file = MakePlus3Header(0, static_cast<std::uint32_t>(withVariables.size()), 10,
                                 static_cast<std::uint16_t>(programLength));
    file.insert(file.end(), withVariables.begin(), withVariables.end());
    Put(plus3, "", "VARS.BAS", file);
    EXPECT_EQ(Run("cat " + Quote(plus3) + " VARS.BAS").out, listed.out);
}

TEST_F(ViewCommands, EachFileIsShownAsWhatItIs) {
    Put(plus3, "", "NOTE.TXT", Bytes{'h', 'i', '\r', '\n', 0x1A, 0x1A});
    const Bytes code = PatternBytes(300, 7);
    Put(plus3, "--plus3 code:32768", "GAME.BIN", code);
    EXPECT_EQ(Run("cat " + Quote(plus3) + " NOTE.TXT").out, "hi\n");
    EXPECT_EQ(Run("cat --raw " + Quote(plus3) + " NOTE.TXT").out,
              Run("get " + Quote(plus3) + " - NOTE.TXT").out);
    // Hex of a code file: xxd's lines of the bytes as stored, or after the header.
    const std::string stored = dir / "stored.bin";
    WriteFile(stored, ReadFile(dir / "in.bin")); // what put read
    std::ofstream(dir / "game.raw", std::ios::binary)
        << Run("get " + Quote(plus3) + " - GAME.BIN").out;
    if (HaveProgram("xxd")) {
        EXPECT_EQ(Run("cat " + Quote(plus3) + " GAME.BIN").out,
                  RunCommand("xxd " + Quote(dir / "game.raw")).out);
        WriteFile(dir / "code.bin", code);
        EXPECT_EQ(Run("cat --hex --strip-header " + Quote(plus3) + " GAME.BIN").out,
                  RunCommand("xxd " + Quote(dir / "code.bin")).out);
    }
    const CommandResult notBasic = RunBoth("cat --basic " + Quote(plus3) + " GAME.BIN");
    EXPECT_EQ(notBasic.status, 1);
    EXPECT_NE(notBasic.out.find("GAME.BIN: not a BASIC program"), std::string::npos) << notBasic.out;
    EXPECT_EQ(Run("cat --basic --hex " + Quote(plus3) + " GAME.BIN").status, 2);
    const CommandResult missing = RunBoth("cat " + Quote(plus3) + " NOSUCH.BIN");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("no matching file"), std::string::npos);

    const auto listing = nlohmann::json::parse(Run("ls --json " + Quote(plus3)).out);
    std::map<std::string, std::string> kinds;
    for (const auto& f : listing["files"])
        kinds[f["name"].get<std::string>() + "." + f["type"].get<std::string>()] = f["kind"];
    EXPECT_EQ(kinds["NOTE.TXT"], "text");
    EXPECT_EQ(kinds["GAME.BIN"], "CODE");
}

TEST_F(ViewCommands, LocomotiveBasicIsListedAndProtectedBasicIsNot) {
    // 10 PRINT "hi":GOTO 10
    const Bytes program = {0x11, 0x00, 0x0A, 0x00, 0xBF, ' ', '"', 'h', 'i', '"', 0x01,
                           0xA0, ' ', 0x1E, 0x0A, 0x00, 0x00, 0x00, 0x00};
    Put(cpc, "--amsdos basic", "HELLO.BAS", program);
    EXPECT_EQ(Run("cat " + Quote(cpc) + " HELLO.BAS").out, "10 PRINT \"hi\":GOTO 10\n");
    const std::uint8_t name[8] = {'S', 'E', 'C', 'R', 'E', 'T', ' ', ' '}, type[3] = {'B', 'A', 'S'};
    Bytes secret = MakeAmsdosHeader(0, name, type, 1, static_cast<std::uint32_t>(program.size()), 0x170, 0);
    secret.insert(secret.end(), program.begin(), program.end());
    Put(cpc, "", "SECRET.BAS", secret);
    const CommandResult refused = RunBoth("cat " + Quote(cpc) + " SECRET.BAS");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("protected BASIC"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("--hex"), std::string::npos);
    EXPECT_EQ(Run("cat --hex " + Quote(cpc) + " SECRET.BAS").status, 0);
    const auto listing = nlohmann::json::parse(Run("ls --json " + Quote(cpc)).out);
    EXPECT_EQ(listing["files"][0]["kind"], "Locomotive BASIC");
    EXPECT_EQ(listing["files"][1]["kind"], "protected BASIC");
}

TEST_F(ViewCommands, ScreensBecomePicturesOfTheirSize) {
    Bytes screen(6912, 0);
    screen[0] = 0x80;     // top-left pixel set
    screen[6144] = 0x47;  // BRIGHT white INK on black PAPER
    Put(plus3, "--plus3 code:16384", "SCREEN.SCR", screen);
    ASSERT_EQ(Run("screen " + Quote(plus3) + " SCREEN.SCR " + Quote(dir / "s.png")).status, 0);
    const Picture picture = ReadPng(dir / "s.png");
    EXPECT_EQ(picture.width, 256u);
    EXPECT_EQ(picture.height, 192u);
    EXPECT_EQ(Bytes(picture.rgb.begin(), picture.rgb.begin() + 6), (Bytes{0xFF, 0xFF, 0xFF, 0, 0, 0}));
    ASSERT_EQ(Run("screen --scale 2 " + Quote(plus3) + " SCREEN.SCR " + Quote(dir / "big.png")).status, 0);
    EXPECT_EQ(ReadPng(dir / "big.png").width, 512u);
    EXPECT_EQ(Run("screen " + Quote(plus3) + " SCREEN.SCR -").out, Run("screen " + Quote(plus3) + " SCREEN.SCR -").out);
    EXPECT_EQ(Run("screen --mode 0 " + Quote(plus3) + " SCREEN.SCR " + Quote(dir / "m.png")).status, 2);
    const auto listing = nlohmann::json::parse(Run("ls --json " + Quote(plus3)).out);
    EXPECT_EQ(listing["files"][0]["kind"], "SCREEN$");

    Put(cpc, "--amsdos bin:0xC000", "TITLE.BIN", Bytes(16384, 0x88));
    ASSERT_EQ(Run("screen --mode 0 " + Quote(cpc) + " TITLE.BIN " + Quote(dir / "c.png")).status, 0);
    const Picture title = ReadPng(dir / "c.png");
    EXPECT_EQ(title.width, 320u);
    EXPECT_EQ(title.height, 200u);

    // Any other size is refused with the sizes a screen has; nothing written.
    Put(plus3, "", "ODD.BIN", Bytes(1000, 1));
    const CommandResult odd = RunBoth("screen " + Quote(plus3) + " ODD.BIN " + Quote(dir / "odd.png"));
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.out.find("6912 or 6144 bytes (Spectrum) or 16384 bytes (CPC); this file holds 1024 bytes"),
              std::string::npos) << odd.out;
    EXPECT_FALSE(fs::exists(dir / "odd.png"));
}

// A CPC screen in mode 0 as the Gate Array draws it with these inks (by
// firmware number), each pixel two wide: the expected picture, computed
// here from the screen's bytes.
Bytes ExpectedModeZero(const Bytes& screen, const std::array<unsigned, 16>& inks) {
    Bytes rgb;
    for (unsigned y = 0; y < 200; ++y)
        for (unsigned x = 0; x < 160; ++x) {
            const std::size_t at = 0x800 * (y % 8) + 80 * (y / 8) + x / 2;
            const unsigned byte = at < screen.size() ? screen[at] : 0, p = x % 2;
            const unsigned pen = ((byte >> (7 - p)) & 1) | ((byte >> (3 - p)) & 1) << 1 |
                                 ((byte >> (5 - p)) & 1) << 2 | ((byte >> (1 - p)) & 1) << 3;
            // Firmware colour 9 * green + 3 * red + blue, each off, half or full.
            const unsigned ink = inks[pen];
            const std::uint8_t level[] = {0x00, 0x80, 0xFF};
            for (int twice = 0; twice < 2; ++twice)
                rgb.insert(rgb.end(), {level[ink / 3 % 3], level[ink / 9], level[ink % 3]});
        }
    return rgb;
}

TEST_F(ViewCommands, CpcScreensAreDrawnInTheirPalette) {
    // The Gate Array's number (bit 6 set) of each firmware colour.
    constexpr std::uint8_t kHardware[27] = {0x54, 0x44, 0x55, 0x5C, 0x58, 0x5D, 0x4C, 0x45, 0x4D,
                                            0x56, 0x46, 0x57, 0x5E, 0x40, 0x5F, 0x4E, 0x47, 0x4F,
                                            0x52, 0x42, 0x53, 0x5A, 0x59, 0x5B, 0x4A, 0x43, 0x4B};
    std::array<unsigned, 16> inks{};
    for (unsigned pen = 0; pen < 16; ++pen)
        inks[pen] = (pen * 5 + 3) % 27;
    // OCP Art Studio's .PAL: mode, animation flag and delay, then 12 frames
    // of colour per pen and the border, excluded and protected inks.
    Bytes pal(239, 0);
    for (unsigned pen = 0; pen < 16; ++pen)
        std::fill_n(pal.begin() + 3 + 12 * pen, 12, kHardware[inks[pen]]);
    std::fill_n(pal.begin() + 195, 12, kHardware[0]);
    Bytes screen = PatternBytes(16384, 9);
    Put(cpc, "--amsdos bin:0xC000", "TITLE.SCR", screen);
    Put(cpc, "--amsdos bin:0x8809", "TITLE.PAL", pal);
    WriteFile(dir / "host.pal", pal);
    for (const std::string& palette :
         {std::string("auto"), Quote(dir / "host.pal"), std::string("TITLE.PAL")}) {
        SCOPED_TRACE(palette);
        fs::remove(dir / "p.png");
        const CommandResult r = RunBoth("screen --palette " + palette + " " + Quote(cpc) +
                                        " TITLE.SCR " + Quote(dir / "p.png"));
        ASSERT_EQ(r.status, 0) << r.out;
        const Picture picture = ReadPng(dir / "p.png");
        ASSERT_EQ(picture.width, 320u); // the palette's mode 0
        EXPECT_TRUE(picture.rgb == ExpectedModeZero(screen, inks));
    }
    // A dump keeping its palette in the first block's gap (mode, then the
    // pens' firmware colours at 0x17D0), and dumps that stop early.
    std::array<unsigned, 16> gapInks{};
    for (unsigned pen = 0; pen < 16; ++pen)
        gapInks[pen] = 26 - pen;
    screen[0x17D0] = 0;
    for (unsigned pen = 0; pen < 16; ++pen)
        screen[0x17D1 + pen] = static_cast<std::uint8_t>(gapInks[pen]);
    Put(cpc, "", "DUMP.SCR", screen);
    ASSERT_EQ(
        Run("screen --palette auto " + Quote(cpc) + " DUMP.SCR " + Quote(dir / "d.png")).status, 0);
    EXPECT_TRUE(ReadPng(dir / "d.png").rgb == ExpectedModeZero(screen, gapInks));
    for (const std::size_t size : {16336u, 16256u}) {
        const Bytes cut(screen.begin(), screen.begin() + static_cast<std::ptrdiff_t>(size));
        Put(cpc, "--amsdos bin:0xC000", "CUT.SCR", cut);
        fs::remove(dir / "c.png");
        ASSERT_EQ(Run("screen --mode 0 --palette " + Quote(dir / "host.pal") + " " + Quote(cpc) +
                      " CUT.SCR " + Quote(dir / "c.png"))
                      .status,
                  0)
            << size;
        EXPECT_TRUE(ReadPng(dir / "c.png").rgb == ExpectedModeZero(cut, inks)) << size;
        Run("rm " + Quote(cpc) + " CUT.SCR");
    }
    // What is no palette is refused; a Spectrum screen has none.
    WriteFile(dir / "short.pal", Bytes(100, 0x54));
    const CommandResult bad = RunBoth("screen --palette " + Quote(dir / "short.pal") + " " +
                                      Quote(cpc) + " TITLE.SCR " + Quote(dir / "b.png"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("short.pal: not an OCP Art Studio palette"), std::string::npos)
        << bad.out;
    EXPECT_FALSE(fs::exists(dir / "b.png"));
    Put(plus3, "--plus3 code:16384", "SCREEN.SCR", Bytes(6912, 0));
    EXPECT_EQ(
        Run("screen --palette auto " + Quote(plus3) + " SCREEN.SCR " + Quote(dir / "s.png")).status,
        2);
}

// Every file of every corpus image through cat and screen: an exit status
// of 0 or 1, never a crash (the sanitizer run watches for reads past data).
TEST(ViewCorpus, EveryFileOfTheCorpusIsShownWithoutACrash) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared corpus is not there";
    unsigned shown = 0, basic = 0;
    for (const auto& item : fs::directory_iterator(corpus)) {
        if (item.path().extension() != ".dsk")
            continue;
        const std::string image = Quote(item.path().string());
        const CommandResult list = RunCommand(Cli("ls --json " + image + " 2>/dev/null"));
        const auto json = nlohmann::json::parse(list.out, nullptr, false);
        if (json.is_discarded() || !json.contains("files") || !json["files"].is_array())
            continue;
        for (const auto& f : json["files"]) {
            std::string name = std::to_string(f["user"].get<int>()) + ":" + f["name"].get<std::string>();
            if (!f["type"].get<std::string>().empty())
                name += "." + f["type"].get<std::string>();
            for (const char* view : {"", "--hex", "--text"}) {
                const CommandResult r =
                    RunCommand(Cli(std::string("cat ") + view + " " + image + " " + Quote(name) + " 2>&1"));
                EXPECT_TRUE(r.status == 0 || r.status == 1) << image << " " << name << " " << view;
                ++shown;
            }
            const std::string kind = f["kind"];
            if (kind == "BASIC" || kind == "Locomotive BASIC") {
                // Some programs are doctored against LIST (RAM-DAM's line
                // lengths): those end with a warning.
                const CommandResult r = RunCommand(Cli("cat --basic " + image + " " + Quote(name)), true);
                EXPECT_TRUE(r.status == 0 || r.out.find("WARNING: ") != std::string::npos)
                    << image << " " << name << ": " << r.out;
                basic += r.status == 0 && !r.out.empty();
            }
            const CommandResult pic =
                RunCommand(Cli("screen " + image + " " + Quote(name) + " /dev/null 2>&1"));
            EXPECT_TRUE(pic.status == 0 || pic.status == 1) << image << " " << name;
        }
    }
    EXPECT_GT(shown, 300u);
    EXPECT_GE(basic, 10u);
}

} // namespace

namespace {

// Every +3 program of the corpus listed with --escapes and tokenized back
// is the program it was, byte for byte (the header's program length).
TEST(ViewCorpus, EscapedListingsOfThePlusThreeProgramsTokenizeBackWhole) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared corpus is not there";
    TempDir dir;
    const std::string scratch = dir / "back.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f pcw720 " + Quote(scratch))).status, 0);
    unsigned programs = 0;
    for (const auto& item : fs::directory_iterator(corpus)) {
        const std::string image = Quote(item.path().string());
        const auto json = nlohmann::json::parse(
            RunCommand(Cli("ls --json " + image + " 2>/dev/null")).out, nullptr, false);
        if (json.is_discarded() || !json.contains("files"))
            continue;
        for (const auto& f : json["files"]) {
            if (f["kind"] != "BASIC" || f["header"].is_null() || f["header"]["kind"] != "plus3dos")
                continue;
            std::string name =
                std::to_string(f["user"].get<int>()) + ":" + f["name"].get<std::string>();
            if (!f["type"].get<std::string>().empty())
                name += "." + f["type"].get<std::string>();
            SCOPED_TRACE(item.path().string() + " " + name);
            ASSERT_EQ(RunCommand(Cli("cat --basic --escapes " + image + " " + Quote(name) + " > " +
                                     Quote(dir / "listing.txt")))
                          .status,
                      0);
            ASSERT_EQ(RunCommand(Cli("put --replace --plus3 basic --tokenize --as BACK " +
                                     Quote(scratch) + " " + Quote(dir / "listing.txt")))
                          .status,
                      0);
            // The +3DOS header (128 bytes) gives the program's length without
            // its variables at 20-21.
            auto file = [&](const std::string& from, const std::string& which) {
                const std::string out = dir / "file.bin";
                EXPECT_EQ(RunCommand(Cli("get " + from + " - " + Quote(which) + " > " + Quote(out)))
                              .status,
                          0);
                return ReadFile(out);
            };
            const Bytes original = file(image, name), back = file(Quote(scratch), "BACK");
            ASSERT_GE(original.size(), 128u);
            ASSERT_GE(back.size(), 128u);
            const std::size_t length = original[20] | original[21] << 8;
            EXPECT_EQ(Bytes(back.begin() + 128, back.begin() + 128 + (back[20] | back[21] << 8)),
                      Bytes(original.begin() + 128,
                            original.begin() + 128 + static_cast<std::ptrdiff_t>(length)));
            ++programs;
        }
    }
    EXPECT_GE(programs, 4u);
}

} // namespace
