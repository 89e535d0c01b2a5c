// tarnlight-cli's everyday commands against what cpmtools and LibDsk's
// utilities make and read of the same images.

#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool HaveOracles() {
    return HaveProgram("cpmls") && HaveProgram("cpmcp") && HaveProgram("fsck.cpm") &&
           HaveProgram("dskid");
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveOracles())
            GTEST_SKIP() << "cpmtools and libdsk-utils are not installed";
        ASSERT_EQ(Run("new " + Quote(image)).status, 0);
    }
    CommandResult Run(const std::string& args) { return RunCommand(Cli(args), true); }
    std::string Host(const std::string& name, std::size_t size, unsigned seed) {
        const std::string path = dir / name;
        WriteFile(path, PatternBytes(size, seed));
        return path;
    }
    std::string Cpmls(const std::string& options = "-F") {
        return RunCommand("cpmls " + options + " -f pcw " + Quote(image)).out;
    }

    TempDir dir;
    std::string image = dir / "disk.dsk";
};

struct NewFormat {
    const char* format;
    const char* diskdef;
    const char* label;
    std::uint32_t capacity;
};

class NewFormats : public ::testing::TestWithParam<NewFormat> {};

TEST_P(NewFormats, AreReadByLibDskAndCpmtoolsAndHoldFiles) {
    if (!HaveOracles())
        GTEST_SKIP() << "cpmtools and libdsk-utils are not installed";
    const NewFormat& f = GetParam();
    TempDir dir;
    const std::string image = dir / "new.dsk";
    ASSERT_EQ(RunCommand(Cli(std::string("new -f ") + f.format + " " + Quote(image))).status, 0);
    EXPECT_EQ(RunCommand("dskid " + Quote(image) + " 2>&1").status, 0);
    const std::string fsck = std::string("fsck.cpm -n -f ") + f.diskdef + " " + Quote(image);
    EXPECT_EQ(RunCommand(fsck).status, 0);

    const auto json = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    EXPECT_EQ(json["format"], f.label);
    EXPECT_EQ(json["capacity"], f.capacity);
    EXPECT_EQ(json["writable"], true);
    EXPECT_TRUE(json["damage"].is_null());

    const std::string big = dir / "big.bin";
    WriteFile(big, PatternBytes(40000, 3));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(big))).status, 0);
    EXPECT_EQ(RunCommand(fsck).status, 0);
    const std::string copy = dir / "copy.bin";
    RunCommand(std::string("cpmcp -f ") + f.diskdef + " " + Quote(image) + " 0:BIG.BIN " +
               Quote(copy));
    auto expected = PatternBytes(40000, 3);
    expected.resize(40064, 0x1A);
    EXPECT_EQ(ReadFile(copy), expected);
}

INSTANTIATE_TEST_SUITE_P(
    All, NewFormats,
    ::testing::Values(NewFormat{"plus3", "pcw", "+3 180K", 184320},
                      NewFormat{"pcw720", "cf2dd", "PCW 720K", 737280},
                      NewFormat{"cpcdata", "cpcdata", "CPC data", 184320},
                      NewFormat{"cpcsys", "cpcsys", "CPC system", 184320}),
    [](const auto& param) { return std::string(param.param.format); });

TEST_F(CommandLine, UsersOnPutGetAndRm) {
    const std::string file = Host("game.bin", 3000, 1);
    ASSERT_EQ(Run("put -u 1 " + Quote(image) + " " + Quote(file)).status, 0);
    ASSERT_EQ(Run("put --as 2:OTHER.BIN " + Quote(image) + " " + Quote(file)).status, 0);
    // Another user's file of the same name does not stand in the way.
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(file)).status, 0);
    const std::string listing = Cpmls("-l");
    EXPECT_NE(listing.find("1:\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("other.bin"), std::string::npos) << listing;

    // cpmcp's 1:GAME.BIN is our get 1:GAME.BIN.
    RunCommand("cpmcp -f pcw " + Quote(image) + " 1:GAME.BIN " + Quote(dir / "theirs"));
    const CommandResult ours = RunCommand(Cli("get " + Quote(image) + " - 1:GAME.BIN"));
    EXPECT_EQ(ours.status, 0);
    const auto theirs = ReadFile(dir / "theirs");
    EXPECT_EQ(std::vector<unsigned char>(ours.out.begin(), ours.out.end()), theirs);

    // A bare name under two users names no one file: nothing is deleted.
    const auto before = ReadFile(image);
    const CommandResult rm = Run("rm " + Quote(image) + " game.bin");
    EXPECT_EQ(rm.status, 1);
    EXPECT_NE(rm.out.find("0:GAME.BIN"), std::string::npos) << rm.out;
    EXPECT_NE(rm.out.find("1:GAME.BIN"), std::string::npos) << rm.out;
    EXPECT_EQ(ReadFile(image), before);
    // Standard output takes exactly one file.
    EXPECT_EQ(Run("get " + Quote(image) + " - '*'").status, 1);
    EXPECT_EQ(Run("rm " + Quote(image) + " 1:game.bin").status, 0);
    EXPECT_EQ(Cpmls("-l").find("1:\n"), std::string::npos);
}

TEST_F(CommandLine, NamesAreUpperCasedOrRefused) {
    const std::string lower = Host("lower.bin", 10, 1);
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(lower)).status, 0);
    const auto before = ReadFile(image);
    for (const char* bad : {"my game.bas", "q\"b.bin", "a\x01.bin", "caf\xc3\xa9.bin", ".profile"}) {
        const std::string file = Host(bad, 10, 2);
        for (const char* option : {"", "--keep-name "}) {
            const CommandResult put = Run("put " + std::string(option) + Quote(image) + " " + Quote(file));
            EXPECT_EQ(put.status, 1) << option << bad;
            EXPECT_NE(put.out.find("--as"), std::string::npos) << put.out;
        }
    }
    // Names that could not come back out: a slash or a backslash.
    for (const char* as : {"/X.BIN", "A/B.BIN", "A\\B.BIN"}) {
        const CommandResult put = Run("put --as " + Quote(as) + " " + Quote(image) + " " + Quote(lower));
        EXPECT_EQ(put.status, 1) << as << put.out;
    }
    EXPECT_EQ(ReadFile(image), before);
    // --keep-name keeps the case, nothing else.
    const std::string mixed = Host("MyGame.bas", 10, 2);
    EXPECT_EQ(Run("put --keep-name " + Quote(image) + " " + Quote(mixed)).status, 0);
    const std::string listing = Cpmls("-l");
    EXPECT_NE(listing.find("lower.bin"), std::string::npos) << listing; // cpmls prints lower case
    const auto json = nlohmann::json::parse(Run("ls --json " + Quote(image)).out);
    EXPECT_EQ(json["files"][0]["name"], "LOWER");
    EXPECT_EQ(json["files"][1]["name"], "MyGame");
    // A control byte never reaches the terminal raw.
    const std::string escape = Host("x\x1b[2J.bin", 10, 3);
    const CommandResult refused = Run("put " + Quote(image) + " " + Quote(escape));
    EXPECT_EQ(refused.out.find('\x1b'), std::string::npos);
    EXPECT_NE(refused.out.find("x\\x1b[2J"), std::string::npos) << refused.out;
}

TEST_F(CommandLine, FilesDifferingOnlyInCaseAreNeverBothActedOn) {
    const std::string upper = Host("GAME.BIN", 10, 1);
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(upper)).status, 0);
    const std::string lower = Host("game.bin", 10, 2);
    ASSERT_EQ(Run("put --keep-name --as game.bin --replace " + Quote(image) + " " + Quote(lower)).status, 0);
    const auto before = ReadFile(image);
    for (const char* command : {"rm", "attr --set r", "mv"}) {
        const std::string extra = std::string(command) == "mv" ? " NEW.BIN" : "";
        const CommandResult result = Run(std::string(command) + " " + Quote(image) + " game.bin" + extra);
        EXPECT_EQ(result.status, 1) << command << ": " << result.out;
        EXPECT_EQ(ReadFile(image), before) << command;
    }
}

TEST_F(CommandLine, RenameAndAttributesAgreeWithCpmtools) {
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(Host("a.bin", 100, 1)) + " " +
                  Quote(Host("b.bin", 100, 2)))
                  .status,
              0);
    EXPECT_EQ(Run("mv " + Quote(image) + " A.BIN 3:C.COM").status, 0);
    EXPECT_EQ(Run("mv " + Quote(image) + " B.BIN 3:C.COM").status, 1); // exists
    const std::string listing = Cpmls("-l");
    EXPECT_NE(listing.find("3:\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("c.com"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("a.bin"), std::string::npos) << listing;

    EXPECT_EQ(Run("attr --set rs " + Quote(image) + " 3:C.COM").status, 0);
    EXPECT_NE(Cpmls().find("RS"), std::string::npos);
    ASSERT_EQ(RunCommand("cpmchattr -f pcw " + Quote(image) + " a 0:b.bin").status, 0);
    const std::string ours = Run("ls -l " + Quote(image)).out;
    EXPECT_NE(ours.find("B         BIN  128 Bytes  --- --- ARC"), std::string::npos) << ours;
    EXPECT_NE(ours.find("C         COM  128 Bytes  R/O SYS ---"), std::string::npos) << ours;
    EXPECT_EQ(Run("attr --clear r " + Quote(image) + " '*'").status, 0);
    EXPECT_NE(Run("ls -l " + Quote(image)).out.find("--- SYS ---"), std::string::npos);
    EXPECT_EQ(RunCommand("fsck.cpm -n -f pcw " + Quote(image)).status, 0);
}

TEST_F(CommandLine, ReplaceKeepsTheOldFileWhenTheNewOneDoesNotFit) {
    const std::string small = Host("DATA.BIN", 1000, 1);
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(small)).status, 0);
    EXPECT_EQ(Run("put " + Quote(image) + " " + Quote(small)).status, 1);
    const std::string big = Host("huge/DATA.BIN", 0, 0);
    fs::create_directory(dir.Path() / "huge");
    WriteFile(big, PatternBytes(173 * 1024, 2));
    const CommandResult full = Run("put --replace " + Quote(image) + " " + Quote(big));
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("disk full"), std::string::npos) << full.out;
    auto kept = RunCommand(Cli("get " + Quote(image) + " - DATA.BIN")).out;
    auto expected = PatternBytes(1000, 1);
    expected.resize(1024, 0x1A);
    EXPECT_EQ(std::vector<unsigned char>(kept.begin(), kept.end()), expected);
    const std::string other = Host("other/DATA.BIN", 0, 0);
    fs::create_directory(dir.Path() / "other");
    WriteFile(other, PatternBytes(5000, 3));
    EXPECT_EQ(Run("put --replace " + Quote(image) + " " + Quote(other)).status, 0);
    EXPECT_NE(Run("ls " + Quote(image)).out.find("DATA      BIN  5 KB"), std::string::npos);
    EXPECT_EQ(RunCommand("fsck.cpm -n -f pcw " + Quote(image)).status, 0);
}

TEST_F(CommandLine, GetNamesTrimmedPaddedAndNoClobber) {
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(Host("GAME.BIN", 10, 1)) + " " +
                  Quote(Host("README", 10, 2)))
                  .status,
              0);
    fs::create_directory(dir.Path() / "out");
    const std::string out = dir / "out";
    ASSERT_EQ(Run("get " + Quote(image) + " " + Quote(out)).status, 0);
    EXPECT_TRUE(fs::exists(dir / "out/GAME.BIN"));
    EXPECT_TRUE(fs::exists(dir / "out/README"));
    ASSERT_EQ(Run("get --padded " + Quote(image) + " " + Quote(out) + " game.bin").status, 0);
    EXPECT_TRUE(fs::exists(dir / "out/GAME    .BIN"));
    WriteFile(dir / "out/README", {'m', 'i', 'n', 'e'});
    EXPECT_EQ(Run("get -n " + Quote(image) + " " + Quote(out)).status, 0);
    EXPECT_EQ(ReadFile(dir / "out/README"), (std::vector<unsigned char>{'m', 'i', 'n', 'e'}));
}

TEST_F(CommandLine, FindAndCheckOverACollection) {
    ASSERT_EQ(Run("put -u 5 " + Quote(image) + " " + Quote(Host("MANIC.BIN", 300, 1))).status, 0);
    fs::create_directories(dir.Path() / "sub");
    const std::string second = dir / "sub/other.DSK";
    ASSERT_EQ(Run("new -f cpcdata " + Quote(second)).status, 0);
    ASSERT_EQ(Run("put " + Quote(second) + " " + Quote(Host("MANIC.BAS", 10, 2))).status, 0);
    // Patterns after "--", or after the image when they name no file.
    const CommandResult filtered = Run("ls " + Quote(image) + " -- '5:*'");
    EXPECT_NE(filtered.out.find(" 5  MANIC     BIN"), std::string::npos) << filtered.out;
    EXPECT_EQ(Run("ls " + Quote(image) + " '5:*'").out, filtered.out);
    EXPECT_EQ(Run("ls " + Quote(image) + " -- '0:*'").out.find("MANIC"), std::string::npos);
    // A disk only read (tracks of its own format) is searched too; its
    // warning is not the search's business (ls and get say it).
    DskWriter odd(40);
    odd.FiveSectorsOf1024From(30);
    odd.Save(dir / "sub/odd.dsk");
    ASSERT_NE(Run("ls " + Quote(dir / "sub/odd.dsk")).out.find("WARNING: "), std::string::npos);
    const CommandResult found = Run("find -r 'manic*' " + Quote(dir.Path().string()));
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, image + ": 5:MANIC.BIN 384\n" + second + ": 0:MANIC.BAS 128\n");
    const CommandResult check = Run("check -r " + Quote(dir.Path().string()));
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find(second + ": clean"), std::string::npos) << check.out;
}

TEST_F(CommandLine, WorkersKeepTheOrderAndTheStatusOfOneProcess) {
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(Host("A.BIN", 3000, 1))).status, 0);
    const fs::path walk = dir.Path() / "walk";
    fs::create_directories(walk / "deeper");
    for (int i = 0; i < 60; ++i) {
        const fs::path copy = walk / (i % 7 == 0 ? "deeper" : "") / ("d" + std::to_string(100 + i) + ".dsk");
        fs::copy_file(image, copy);
        if (i % 11 == 3)
            WriteFile(copy.string(), PatternBytes(1000, static_cast<unsigned>(i))); // not an image
    }
    for (const char* command : {"ls -r", "ls -l -r", "ls --json -r", "find -r 'a*'", "check -r"}) {
        const std::string base = Cli(std::string(command) + " " + Quote(walk.string()));
        auto errors = [](const std::string& line) {
            return RunCommand("(" + line + " 3>&1 1>/dev/null 2>&3)").out;
        };
        const CommandResult one = RunCommand(base + " -j 1");
        const CommandResult three = RunCommand(base + " -j 3");
        EXPECT_EQ(one.status, 1) << command;
        EXPECT_EQ(three.status, one.status) << command;
        EXPECT_EQ(three.out, one.out) << command;
        EXPECT_EQ(errors(base + " -j 3"), errors(base + " -j 1")) << command;
        EXPECT_NE(errors(base + " -j 1").find("not a disk image"), std::string::npos);
    }
}

TEST_F(CommandLine, InfoJsonAndHelp) {
    const auto info = nlohmann::json::parse(Run("info --json " + Quote(image)).out);
    EXPECT_EQ(info["cylinders"], 40);
    EXPECT_EQ(info["total_blocks"], 180);
    EXPECT_EQ(info["block_size"], 1024);
    const CommandResult typo = Run("lst " + Quote(image));
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.out.find("unknown command 'lst' (did you mean 'ls'?)"), std::string::npos);
    EXPECT_EQ(Run("-V").status, 0);
    for (const char* command : {"ls", "get", "put", "rm", "mv", "attr", "new", "check", "find", "info"})
        EXPECT_NE(Run(std::string(command) + " --help").out.find("Example"), std::string::npos)
            << command;
    EXPECT_EQ(Run("put -u 1 --as 2:X.BIN " + Quote(image) + " x").status, 2);
    EXPECT_EQ(Run("attr --set q " + Quote(image) + " x").status, 2);
}

} // namespace
