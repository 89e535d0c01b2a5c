// tarnlight-cli as a user runs it: output formats, exit statuses, errors.

#include "DiskLibrary.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

namespace {

class CliTest : public ::testing::Test {
protected:
    // A +3 180K image with two files, made by dskform and cpmcp.
    std::string MakeImage(const std::string& name) {
        if (!HaveProgram("dskform") || !HaveProgram("cpmcp"))
            return {};
        const std::string image = dir / name;
        RunCommand("dskform -type dsk -format pcw180 " + Quote(image) + " >/dev/null");
        WriteFile(dir / "h1", PatternBytes(3000, 1));
        WriteFile(dir / "h2", PatternBytes(100, 2));
        RunCommand("cpmcp -T dsk -f pcw " + Quote(image) + " " + Quote(dir / "h1") + " 0:GAME.BIN");
        RunCommand("cpmcp -T dsk -f pcw " + Quote(image) + " " + Quote(dir / "h2") + " 5:README");
        return image;
    }
    TempDir dir;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunCommand(Cli("")).status, 2);
    EXPECT_EQ(RunCommand(Cli("ls")).status, 2);
    EXPECT_EQ(RunCommand(Cli("frobnicate x")).status, 2);
    EXPECT_EQ(RunCommand(Cli("ls --bogus x.dsk")).status, 2);
    EXPECT_EQ(RunCommand(Cli("info a.dsk b.dsk")).status, 2);
}

TEST_F(CliTest, HelpAndVersion) {
    const CommandResult help = RunCommand(Cli("--help"));
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("ls"), std::string::npos);
    EXPECT_NE(help.out.find("info"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    const CommandResult version = RunCommand(Cli("--version"));
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tarnlight-cli ", 0), 0u);
    EXPECT_EQ(RunCommand(Cli("ls --help")).status, 0);
}

TEST_F(CliTest, ListingInTheWindowsFormat) {
    const std::string image = MakeImage("two.dsk");
    if (image.empty())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const CommandResult ls = RunCommand(Cli("ls " + Quote(image)));
    EXPECT_EQ(ls.status, 0);
    EXPECT_EQ(ls.out, " U  Filename  Ext  Size\n"
                      " 0  GAME      BIN  3 KB\n"
                      " 5  README         128 Bytes\n"
                      "Total in use : 4 KB\n"
                      "Maximum : 180 KB\n"
                      "Free : 169 KB\n");
}

TEST_F(CliTest, SeveralImagesAreHeadedAndFailuresReported) {
    const std::string image = MakeImage("two.dsk");
    if (image.empty())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const std::string missing = dir / "missing.dsk";
    const CommandResult ls = RunCommand(Cli("ls " + Quote(missing) + " " + Quote(image)), true);
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.out.find(missing + ": Unable to load disk image"), std::string::npos);
    EXPECT_NE(ls.out.find(image + ":\n U  Filename"), std::string::npos);
}

TEST_F(CliTest, JsonListingOneLinePerImage) {
    const std::string image = MakeImage("two.dsk");
    if (image.empty())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const std::string junk = dir / "junk.dsk";
    WriteFile(junk, PatternBytes(5000, 9));
    const CommandResult ls = RunCommand(Cli("ls --json " + Quote(image) + " " + Quote(junk)));
    EXPECT_EQ(ls.status, 1);
    std::istringstream lines(ls.out);
    std::string first, second, extra;
    ASSERT_TRUE(std::getline(lines, first));
    ASSERT_TRUE(std::getline(lines, second));
    EXPECT_FALSE(std::getline(lines, extra));
    const auto good = nlohmann::json::parse(first);
    EXPECT_EQ(good["image"], image);
    ASSERT_EQ(good["files"].size(), 2u);
    EXPECT_EQ(good["files"][0]["name"], "GAME");
    EXPECT_EQ(good["files"][0]["type"], "BIN");
    EXPECT_EQ(good["files"][0]["size"], 3072);
    EXPECT_EQ(good["files"][1]["user"], 5);
    EXPECT_EQ(good["files"][1]["type"], "");
    EXPECT_EQ(good["files"][1]["readonly"], false);
    EXPECT_EQ(good["used"], 4096);
    EXPECT_EQ(good["capacity"], 184320);
    EXPECT_EQ(good["free"], (173 - 4) * 1024); // blocks above the directory, on the disk
    const auto bad = nlohmann::json::parse(second);
    EXPECT_EQ(bad["image"], junk);
    // Whether LibDsk refuses it at once or only its geometry, it is an error line.
    EXPECT_TRUE(bad.contains("error"));
    EXPECT_FALSE(bad.contains("files"));
}

TEST_F(CliTest, FoldersAreWalkedInSortedOrder) {
    if (MakeImage("b.dsk").empty())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    std::filesystem::create_directories(dir.Path() / "sub" / "deeper");
    std::filesystem::copy_file(dir / "b.dsk", dir / "sub/deeper/A.DSK");
    std::filesystem::copy_file(dir / "b.dsk", dir / "sub/c.Dsk");
    WriteFile(dir / "sub/notes.txt", PatternBytes(10, 1));
    auto images = [](const std::string& out) {
        std::vector<std::string> found;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            found.push_back(nlohmann::json::parse(line)["image"]);
        return found;
    };
    const CommandResult flat = RunCommand(Cli("ls --json " + Quote(dir / "sub")));
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(images(flat.out), std::vector<std::string>{dir / "sub/c.Dsk"});
    const CommandResult deep = RunCommand(Cli("ls --json -r " + Quote(dir.Path().string())));
    EXPECT_EQ(deep.status, 0);
    EXPECT_EQ(images(deep.out), (std::vector<std::string>{dir / "b.dsk", dir / "sub/c.Dsk",
                                                          dir / "sub/deeper/A.DSK"}));
}

TEST_F(CliTest, InfoPrintsTheGeometryReport) {
    const std::string image = MakeImage("two.dsk");
    if (image.empty())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const CommandResult info = RunCommand(Cli("info " + Quote(image)));
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out.find('\r'), std::string::npos);
    EXPECT_EQ(info.out.rfind("Image name\t: " + image + " \n", 0), 0u);
    EXPECT_NE(info.out.find("Image type\t: PCW SS SD (+3)\n"), std::string::npos);
    EXPECT_NE(info.out.find("Total Blocks\t: 180\n"), std::string::npos);
    const CommandResult missing = RunCommand(Cli("info " + Quote(dir / "none.dsk")), true);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.rfind("ERROR: " + dir / "none.dsk" + ": Unable to load disk image", 0), 0u)
        << missing.out;
}

TEST_F(CliTest, UnmappableFormatsAreClearErrors) {
    if (!HaveProgram("dskform"))
        GTEST_SKIP() << "dskform is not installed";
    // Acorn 800K: 1024-byte sectors; BBC 100K: 256-byte sectors with no
    // specification that fits them.
    for (const char* format : {"acorn800", "bbc100"}) {
        const std::string image = dir / (std::string(format) + ".dsk");
        RunCommand("dskform -type dsk -format " + std::string(format) + " " + Quote(image) +
                   " >/dev/null");
        for (const char* command : {"ls ", "info ", "ls --json "}) {
            const CommandResult r = RunCommand(Cli(command + Quote(image)), true);
            EXPECT_EQ(r.status, 1) << format << " " << command;
            EXPECT_NE(r.out.find(": Unsupported disk format"), std::string::npos) << r.out;
        }
    }
}

// Without the library nothing opens and nothing is made, and the user is
// told why; with it, an image made reads back.
TEST(DiskLibrary, MissingLibraryOpensNothingAndSaysWhy) {
    TempDir dir;
    CDiskLibrary missing;
    EXPECT_FALSE(missing.Load({"libtarnlight-no-such-library.so.9"}));
    struct Owner : IDiskOwner {
        explicit Owner(const DiskLibraryTable& served) : table(served) {}
        const DiskLibraryTable& LibraryTable() const override { return table; }
        const DiskLibraryTable& table;
    };
    Owner without(missing.Table());
    CDiskImage image(&without);
    EXPECT_EQ(image.CreateImage(dir / "new.dsk"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.dsk"));
    EXPECT_EQ(image.LoadImage(dir / "new.dsk"), 0);
    ASSERT_FALSE(image.Notices().empty());
    EXPECT_EQ(image.Notices().back().cause, "the disk library is not loaded");
    EXPECT_FALSE(image.IsOpen());

    LibDskOwner with;
    ASSERT_TRUE(with.Loaded());
    CDiskImage made(&with);
    ASSERT_EQ(made.CreateImage(dir / "new.dsk"), 1);
    EXPECT_EQ(made.LoadImage(dir / "new.dsk"), 1);
}

} // namespace
