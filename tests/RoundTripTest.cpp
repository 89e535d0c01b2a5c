// Files moved through tarnlight-cli and checked by cpmtools, which no one
// here wrote: cpmls sees our files, cpmcp reads them back byte for byte,
// fsck.cpm finds nothing wrong, and files cpmcp wrote come out of `get`.

#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

bool HaveTools() {
    return HaveProgram("dskform") && HaveProgram("cpmcp") && HaveProgram("cpmls") &&
           HaveProgram("fsck.cpm");
}

std::vector<unsigned char> Padded(std::vector<unsigned char> data) {
    while (data.size() % 128 != 0)
        data.push_back(0x1A);
    return data;
}

struct Format {
    const char* dskform;
    const char* diskdef;
    bool large;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Format& value, std::ostream* os) { *os << value.dskform; }


class RoundTrip : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        if (!HaveTools())
            GTEST_SKIP() << "dskform and cpmtools are not installed";
        image = dir / "disk.dsk";
        ASSERT_EQ(RunCommand("dskform -type dsk -format " + std::string(GetParam().dskform) + " " +
                             Quote(image) + " >/dev/null")
                      .status,
                  0);
    }
    std::string Cpm(const std::string& tool, const std::string& args) {
        return tool + " -T dsk -f " + GetParam().diskdef + " " + args;
    }
    void ExpectClean() {
        const CommandResult fsck = RunCommand(Cpm("fsck.cpm", "-n " + Quote(image)), true);
        EXPECT_EQ(fsck.status, 0) << fsck.out;
        EXPECT_EQ(fsck.out.find("Error"), std::string::npos) << fsck.out;
    }
    TempDir dir;
    std::string image;
};

TEST_P(RoundTrip, PutGetAndCpmtoolsAgree) {
    std::vector<std::size_t> sizes = {0, 1, 127, 128, 300, 16384, 16385, 32769};
    if (GetParam().large)
        sizes.push_back(150000);
    fs::create_directory(dir.Path() / "in");
    std::string files;
    for (std::size_t size : sizes) {
        const std::string host = dir / ("in/F" + std::to_string(size) + ".BIN");
        WriteFile(host, PatternBytes(size, static_cast<unsigned>(size)));
        files += " " + Quote(host);
    }
    const CommandResult put = RunCommand(Cli("put " + Quote(image) + files), true);
    ASSERT_EQ(put.status, 0) << put.out;
    ExpectClean();

    const CommandResult cpmls = RunCommand(Cpm("cpmls", "-l " + Quote(image)));
    ASSERT_EQ(cpmls.status, 0);
    for (std::size_t size : sizes) {
        const std::string name = "f" + std::to_string(size) + ".bin";
        const std::size_t padded = (size + 127) / 128 * 128;
        std::ostringstream line;
        line << padded << " Jan 01 1970  " << name << "\n";
        EXPECT_NE(cpmls.out.find(line.str()), std::string::npos) << name << "\n" << cpmls.out;
        // cpmcp reads exactly our records back.
        const std::string out = dir / ("cpm-" + name);
        ASSERT_EQ(RunCommand(Cpm("cpmcp", Quote(image) + " 0:" + name + " " + Quote(out))).status,
                  0);
        EXPECT_EQ(ReadFile(out), Padded(PatternBytes(size, static_cast<unsigned>(size)))) << name;
    }

    fs::create_directory(dir.Path() / "out");
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(dir / "out"))).status, 0);
    for (std::size_t size : sizes) {
        const std::string name = "F" + std::to_string(size) + ".BIN";
        EXPECT_EQ(ReadFile(dir / ("out/" + name)),
                  Padded(PatternBytes(size, static_cast<unsigned>(size))))
            << name;
    }

    ASSERT_EQ(RunCommand(Cli("rm " + Quote(image) + " 'f1*' F300.BIN")).status, 0);
    ExpectClean();
    const CommandResult left = RunCommand(Cpm("cpmls", Quote(image)));
    EXPECT_EQ(left.out.find("f16384.bin"), std::string::npos);
    EXPECT_EQ(left.out.find("f300.bin"), std::string::npos);
    EXPECT_NE(left.out.find("f32769.bin"), std::string::npos);
    // Freed blocks are used again.
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "in/F16384.BIN"))).status,
              0);
    ExpectClean();
}

TEST_P(RoundTrip, FilesWrittenByCpmcpComeOutOfGet) {
    const std::size_t sizes[] = {1, 200, 5000, 20000};
    for (std::size_t size : sizes) {
        const std::string host = dir / ("c" + std::to_string(size));
        WriteFile(host, PatternBytes(size, 100 + static_cast<unsigned>(size)));
        ASSERT_EQ(RunCommand(Cpm("cpmcp", Quote(image) + " " + Quote(host) + " 0:C" +
                                              std::to_string(size) + ".DAT"))
                      .status,
                  0);
    }
    fs::create_directory(dir.Path() / "out");
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(dir / "out") + " 'c*.dat'"))
                  .status,
              0);
    for (std::size_t size : sizes) {
        const auto original = PatternBytes(size, 100 + static_cast<unsigned>(size));
        const auto back = ReadFile(dir / ("out/C" + std::to_string(size) + ".DAT"));
        ASSERT_EQ(back.size(), (size + 127) / 128 * 128) << size;
        EXPECT_TRUE(std::equal(original.begin(), original.end(), back.begin())) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(Format{"pcw180", "pcw", false},
                                           Format{"pcw720", "cf2dd", true},
                                           Format{"cpcdata", "cpcdata", false},
                                           Format{"cpcsys", "cpcsys", false}),
                         [](const auto& param) { return std::string(param.param.dskform); });

class CliFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTools())
            GTEST_SKIP() << "dskform and cpmtools are not installed";
    }
    std::string Listing(const std::string& image) { return RunCommand(Cli("ls " + Quote(image))).out; }
    TempDir dir;
};

TEST_F(CliFiles, DiskFullFailsAndLeavesTheImageAsItWas) {
    const std::string image = dir / "full.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    // 173 blocks of 1K lie on the disk above the directory.
    WriteFile(dir / "BIG.BIN", PatternBytes(170 * 1024, 1));
    WriteFile(dir / "REST.BIN", PatternBytes(3 * 1024, 2));
    WriteFile(dir / "MORE.BIN", PatternBytes(1, 3));
    const auto containerSize = fs::file_size(image);
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "BIG.BIN") + " " +
                             Quote(dir / "REST.BIN")))
                  .status,
              0);
    const std::string before = Listing(image);
    EXPECT_NE(before.find("Free : 0 KB"), std::string::npos) << before;
    const CommandResult more = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "MORE.BIN")), true);
    EXPECT_EQ(more.status, 1);
    EXPECT_NE(more.out.find("MORE.BIN: disk full"), std::string::npos) << more.out;
    EXPECT_EQ(Listing(image), before);
    EXPECT_EQ(fs::file_size(image), containerSize);
    const CommandResult fsck = RunCommand("fsck.cpm -T dsk -f pcw -n " + Quote(image), true);
    EXPECT_EQ(fsck.status, 0) << fsck.out;
}

TEST_F(CliFiles, NewImageIsBlankAndNeverReplacesAFileByAccident) {
    const std::string image = dir / "new.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    EXPECT_EQ(Listing(image), " U  Filename  Ext  Size\n"
                              "Total in use : 0 KB\nMaximum : 180 KB\nFree : 173 KB\n");
    EXPECT_EQ(RunCommand("cpmls -T dsk -f pcw " + Quote(image)).status, 0);
    EXPECT_EQ(RunCommand("dskid " + Quote(image) + " >/dev/null").status, 0);
    WriteFile(dir / "A.BIN", PatternBytes(100, 1));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "A.BIN"))).status, 0);
    const auto bytes = ReadFile(image);
    const CommandResult again = RunCommand(Cli("new " + Quote(image)), true);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("exists"), std::string::npos);
    EXPECT_EQ(ReadFile(image), bytes);
    EXPECT_EQ(RunCommand(Cli("new --force " + Quote(image))).status, 0);
    EXPECT_EQ(Listing(image).find("A"), std::string::npos);
    // Nothing but the image is left in the folder.
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.Path()))
        entries += e.path().extension() == ".dsk" ? 1 : 0;
    EXPECT_EQ(entries, 1u);
}

TEST_F(CliFiles, PatternsReportWhatMatchesNothing) {
    const std::string image = dir / "p.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    WriteFile(dir / "GAME.BIN", PatternBytes(10, 1));
    WriteFile(dir / "NOTES", PatternBytes(10, 2));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "GAME.BIN") + " " +
                             Quote(dir / "NOTES")))
                  .status,
              0);
    fs::create_directory(dir.Path() / "out");
    const CommandResult get =
        RunCommand(Cli("get --padded " + Quote(image) + " " + Quote(dir / "out") + " 'g*.bin' 'x*'"), true);
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("ERROR: x*: no matching file"), std::string::npos) << get.out;
    EXPECT_TRUE(fs::exists(dir / "out/GAME    .BIN"));
    EXPECT_FALSE(fs::exists(dir / "out/NOTES   .   "));
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(dir / "out") + " notes"))
                  .status,
              0);
    EXPECT_TRUE(fs::exists(dir / "out/NOTES"));
    EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " " + Quote(dir / "absent"))).status, 1);
    EXPECT_EQ(RunCommand(Cli("rm " + Quote(image) + " nothing")).status, 1);
    const CommandResult twice = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NOTES")), true);
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.out.find("NOTES: file exists"), std::string::npos);
}

TEST_F(CliFiles, BootSectorSavedAndWritten) {
    const std::string image = dir / "b.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    ASSERT_EQ(RunCommand(Cli("boot-read " + Quote(image) + " " + Quote(dir / "boot.bin"))).status, 0);
    EXPECT_EQ(ReadFile(dir / "boot.bin"), std::vector<unsigned char>(512, 0xE5));
    // A +3 specification with 2K blocks takes effect at the next open.
    std::vector<unsigned char> spec(512, 0);
    const unsigned char bytes[] = {0, 0, 40, 9, 2, 1, 4, 2, 0x2A, 0x52};
    std::copy(std::begin(bytes), std::end(bytes), spec.begin());
    WriteFile(dir / "spec.bin", spec);
    // It changes where every file lies: refused unless forced.
    const std::vector<unsigned char> before = ReadFile(image);
    const CommandResult refused =
        RunCommand(Cli("boot-write " + Quote(image) + " " + Quote(dir / "spec.bin")), true);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("changes the disk's format"), std::string::npos) << refused.out;
    EXPECT_EQ(ReadFile(image), before);
    // So is a file that is not 512 bytes long.
    WriteFile(dir / "short.bin", std::vector<unsigned char>(511, 0x11));
    EXPECT_EQ(RunCommand(Cli("boot-write " + Quote(image) + " " + Quote(dir / "short.bin"))).status, 1);
    EXPECT_EQ(ReadFile(image), before);
    ASSERT_EQ(RunCommand(Cli("boot-write --force " + Quote(image) + " " + Quote(dir / "spec.bin"))).status, 0);
    const CommandResult info = RunCommand(Cli("info " + Quote(image)));
    EXPECT_NE(info.out.find("Sectors per Block\t: 4\n"), std::string::npos) << info.out;
    EXPECT_EQ(RunCommand(Cli("boot-write " + Quote(image) + " " + Quote(dir / "none.bin"))).status, 1);
}

// A CPC data disk has no reserved track: its first sector is the first
// directory sector, and no boot-sector write may reach it.
TEST_F(CliFiles, CpcDataDiskHasNoBootSector) {
    if (!HaveProgram("dskform") || !HaveProgram("cpmcp"))
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const std::string image = dir / "cpc.dsk";
    RunCommand("dskform -type dsk -format cpcdata " + Quote(image) + " >/dev/null");
    WriteFile(dir / "F", PatternBytes(3000, 3));
    RunCommand("cpmcp -T dsk -f cpcdata " + Quote(image) + " " + Quote(dir / "F") + " 0:KEEP.BIN");
    const std::vector<unsigned char> before = ReadFile(image);
    WriteFile(dir / "zero.bin", std::vector<unsigned char>(512, 0));
    const CommandResult write =
        RunCommand(Cli("boot-write --force " + Quote(image) + " " + Quote(dir / "zero.bin")), true);
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.out.find("This disk has no boot sector"), std::string::npos) << write.out;
    EXPECT_EQ(ReadFile(image), before);
}

} // namespace
