// Files as CP/M knows them: the layout derived from geometry and boot
// sector, user numbers, attribute bits, logical extents, side order.

#include "Formats.h"
#include "Layout.h"
#include "support/DiskBuilder.h"
#include "support/HostTools.h"

#include <filesystem>

namespace {

struct LayoutCase {
    const char* name;
    GeometryFigures geometry;
    std::vector<std::uint8_t> spec; // the boot sector's first bytes; all 0xE5 when empty
    std::uint16_t blockSize;
    std::uint8_t directoryBlocks;
    std::uint16_t totalBlocks;
    std::uint8_t reservedTracks;
    unsigned slots, extentMask;
    std::uint32_t usableBlocks;
    SideOrder sides;
    const char* named = nullptr; // a format named by the user
};

TEST(Layout, DerivedForEachFormat) {
    using S = SideOrder;
    // clang-format off
    const LayoutCase cases[] = {
        {"+3 180K, no specification", {40, 1, 9, 512, 1, {}}, {}, 1024, 2, 180, 1, 16, 0, 175, S::Alternate},
        {"+3 180K specification", {40, 1, 9, 512, 1, {}}, {0, 0, 40, 9, 2, 1, 3, 2}, 1024, 2, 180, 1, 16, 0, 175, S::Alternate},
        {"+3/PCW 720K specification", {80, 2, 9, 512, 1, {}}, {3, 0x81, 80, 9, 2, 1, 4, 4}, 2048, 4, 360, 1, 8, 0, 357, S::Alternate},
        {"80 cylinders, no specification", {80, 2, 9, 512, 1, {}}, {}, 2048, 4, 360, 1, 8, 0, 357, S::Alternate},
        {"CPC system", {40, 1, 9, 512, 0x41, {}}, {}, 1024, 2, 180, 2, 16, 0, 171, S::Alternate},
        {"CPC data", {40, 1, 9, 512, 0xC1, {}}, {}, 1024, 2, 180, 0, 16, 0, 180, S::Alternate},
        {"2K blocks on 180K", {40, 1, 9, 512, 1, {}}, {0, 0, 40, 9, 2, 1, 4, 2}, 2048, 2, 90, 1, 16, 1, 87, S::Alternate},
        {"successive sides", {80, 2, 9, 512, 1, {}}, {3, 0x82, 80, 9, 2, 1, 4, 4}, 2048, 4, 360, 1, 8, 0, 357, S::Successive},
        // 256 blocks with the reserved track, 252 in the data area: one-byte numbers.
        {"57 tracks, 1K blocks", {57, 1, 9, 512, 1, {}}, {0, 0, 57, 9, 2, 1, 3, 2}, 1024, 2, 256, 1, 16, 0, 252, S::Alternate},
        // CPC formats stop at 40 tracks, whatever the container holds beyond.
        {"CPC data, 42 tracks", {42, 1, 9, 512, 0xC1, {}}, {}, 1024, 2, 180, 0, 16, 0, 180, S::Alternate},
        {"CPC system, 42 tracks", {42, 1, 9, 512, 0x41, {}}, {}, 1024, 2, 180, 2, 16, 0, 171, S::Alternate},
        // A one-sided format in a two-sided container: side 0 alone.
        {"CPC data, two sides held", {40, 2, 9, 512, 0xC1, {}}, {}, 1024, 2, 180, 0, 16, 0, 180, S::FirstSide},
        // The ROM formats, told by their first sector id; the boot
        // sector's bytes (a directory sector's) count for nothing.
        {"ROMDOS D2", {80, 2, 9, 512, 0x21, {}}, {3, 0x81, 80, 9, 2, 1, 3, 2}, 2048, 4, 360, 0, 8, 0, 360, S::Alternate},
        {"ROMDOS D10", {80, 2, 9, 512, 0x11, {}}, {}, 2048, 2, 400, 0, 8, 0, 400, S::Alternate},
        {"ROMDOS D20", {80, 2, 10, 512, 0x31, {}}, {}, 2048, 4, 400, 0, 8, 0, 400, S::Alternate},
        {"ROMDOS D40", {40, 2, 10, 512, 0x51, {}}, {}, 2048, 2, 200, 0, 16, 1, 200, S::Alternate},
        {"ROMDOS D80, two sides held", {80, 2, 10, 512, 0x71, {}}, {}, 2048, 2, 200, 0, 16, 1, 200, S::FirstSide},
        {"ParaDOS 80", {80, 1, 10, 512, 0x91, {}}, {}, 2048, 2, 200, 0, 16, 1, 200, S::Alternate},
        {"ParaDOS 40D", {40, 2, 10, 512, 0xA1, {}}, {}, 2048, 2, 200, 0, 16, 1, 200, S::Alternate},
        {"ParaDOS 41", {42, 1, 10, 512, 0x81, {}}, {}, 1024, 2, 205, 0, 16, 0, 205, S::Alternate},
        // Formats whose ids are the +3's are read so only when named.
        {"ROMDOS D1 named", {80, 2, 9, 512, 1, {}}, {3, 0x81, 80, 9, 2, 1, 4, 4}, 2048, 2, 360, 0, 8, 0, 360, S::Alternate, "d1"},
        {"Vortex named", {80, 2, 9, 512, 1, {}}, {}, 4096, 1, 180, 2, 16, 3, 177, S::Alternate, "VORTEX"},
        {"+3 180K named on 720K", {80, 2, 9, 512, 1, {}}, {3, 0x81, 80, 9, 2, 1, 4, 4}, 1024, 2, 180, 1, 16, 0, 175, S::FirstSide, "pcw180"},
    };
    // clang-format on
    for (const LayoutCase& c : cases) {
        std::vector<std::uint8_t> boot(512, 0xE5);
        std::copy(c.spec.begin(), c.spec.end(), boot.begin());
        DiskLayout layout;
        const DiskFormat* named = c.named != nullptr ? FormatNamed(c.named) : nullptr;
        ASSERT_EQ(named != nullptr, c.named != nullptr) << c.name;
        ASSERT_TRUE(DeriveLayout(c.geometry, boot.data(), layout, named)) << c.name;
        EXPECT_EQ(layout.blockSize, c.blockSize) << c.name;
        EXPECT_EQ(layout.directoryBlocks, c.directoryBlocks) << c.name;
        EXPECT_EQ(layout.totalBlocks, c.totalBlocks) << c.name;
        EXPECT_EQ(layout.reservedTracks, c.reservedTracks) << c.name;
        EXPECT_EQ(layout.slotsPerEntry, c.slots) << c.name;
        EXPECT_EQ(layout.extentMask, c.extentMask) << c.name;
        EXPECT_EQ(layout.usableBlocks, c.usableBlocks) << c.name;
        EXPECT_EQ(layout.sides, c.sides) << c.name;
    }
    // Default sets are for 512-byte sectors only.
    std::vector<std::uint8_t> blank(512, 0xE5);
    DiskLayout layout;
    EXPECT_FALSE(DeriveLayout({40, 1, 16, 256, 1, {}}, blank.data(), layout));
}

// A format, named or told by the id, that the image does not fit is refused
// by the first figure that differs.
TEST(Layout, FormatsTheImageDoesNotFitAreRefused) {
    struct Misfit {
        const char* format; // null: told by the id
        GeometryFigures geometry;
        const char* refusal;
    };
    const Misfit cases[] = {
        {"d1", {40, 1, 9, 512, 1, {}}, "ROMDOS D1 has 2 sides; the image holds 1 side"},
        {"d1", {40, 2, 9, 512, 1, {}}, "ROMDOS D1 has 80 tracks per side; the image holds 40"},
        {"d10",
         {80, 2, 9, 512, 1, {}},
         "ROMDOS D10 has sectors &11-&1A; the image's first track has no sector &11"},
        {"d10",
         {80, 2, 9, 512, 0x11, {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19}},
         "ROMDOS D10 has sectors &11-&1A; the image's first track has no sector &1A"},
        {"plus3",
         {40, 1, 9, 256, 1, {}},
         "+3/PCW 180K has sectors of 512 bytes; the image's are 256"},
        {nullptr, {80, 1, 9, 512, 0x21, {}}, "ROMDOS D2 has 2 sides; the image holds 1 side"},
    };
    const std::vector<std::uint8_t> blank(512, 0xE5);
    for (const Misfit& c : cases) {
        DiskLayout layout;
        std::string refusal;
        EXPECT_FALSE(DeriveLayout(c.geometry, blank.data(), layout,
                                  c.format != nullptr ? FormatNamed(c.format) : nullptr, &refusal));
        EXPECT_EQ(refusal, c.refusal);
    }
    // A short dump of a format told by its id is read as far as it goes.
    DiskLayout layout;
    ASSERT_TRUE(DeriveLayout({40, 2, 10, 512, 0x31, {}}, blank.data(), layout));
    EXPECT_EQ(layout.totalBlocks, 200);
    EXPECT_EQ(FormatNamed("no-such-format"), nullptr);
}

// Successive sides as +3DOS runs them: side 0 outwards, side 1 back.
class SuccessiveSides : public ImageFixture {
protected:
    SuccessiveSides() : ImageFixture(80, 2, 9, 1, 512) {
        SetSpec(disk, {3, 0x82, 80, 9, 2, 1, 4, 4, 0x2A, 0x52});
    }
};

TEST_F(SuccessiveSides, TracksRunOutwardsThenBack) {
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Map().CylinderOfTrack(0, image.Layout()), 1); // after the reserved track
    EXPECT_EQ(image.Map().HeadOfTrack(0, image.Layout()), 0);
    EXPECT_EQ(image.Map().CylinderOfTrack(78, image.Layout()), 79);
    EXPECT_EQ(image.Map().HeadOfTrack(78, image.Layout()), 0);
    EXPECT_EQ(image.Map().CylinderOfTrack(79, image.Layout()), 79);
    EXPECT_EQ(image.Map().HeadOfTrack(79, image.Layout()), 1);
    EXPECT_EQ(image.Map().CylinderOfTrack(158, image.Layout()), 0);
    EXPECT_EQ(image.Map().HeadOfTrack(158, image.Layout()), 1);
    // A block on the first track of side 1 is read from there.
    const unsigned block = 79 * 9 / 4 + 1; // wholly on logical track 79
    std::memset(disk.Sector(79, 1, 1 + (block * 4) % 9), 'S', 512);
    // The directory is logical track 0: cylinder 1, side 0.
    const DirEntry far = MakeEntry(0, "FAR", "", 4, {static_cast<std::uint16_t>(block)}, true);
    std::memcpy(disk.Sector(1, 0, 1), &far, sizeof far);
    ASSERT_EQ(Load(), 1);
    List();
    std::vector<std::uint8_t> data;
    ASSERT_EQ(image.ReadFileData(rows[0], [&](const std::uint8_t* d, std::size_t n) {
        data.insert(data.end(), d, d + n);
        return true;
    }), 1);
    EXPECT_EQ(data[0], 'S');
}

TEST_F(ImageFixture, AllZeroDirectoryIsDamageNotANamelessFile) {
    MemDisk zero(40, 1, 9, 1, 512, 0x00);
    zero.Register("zero.dsk");
    EXPECT_EQ(image.LoadImage("zero.dsk"), 1);
    EXPECT_EQ(LastText(image), "Damaged directory: an entry has an invalid name");
    EXPECT_TRUE(List().empty());
    // The image's handle is this test's disk: closed while it still exists.
    image.CloseImage();
}

TEST_F(ImageFixture, AttributeBitsDoNotMakeASecondFile) {
    DirEntry ro = MakeEntry(0, "FOO", "TXT", 1, {2});
    ro.type[0] |= 0x80;
    ro.type[1] |= 0x80;
    Put(0, ro);
    ASSERT_EQ(Load(), 1);
    List();
    EXPECT_TRUE(rows[0].readOnly && rows[0].system && !rows[0].archive);
    TempDir host;
    WriteFile(host / "FOO.TXT", {1, 2, 3});
    EXPECT_EQ(image.ImportFile(host / "FOO.TXT"), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::FileExists);
    EXPECT_EQ(List().size(), 1u);
}

// Against cpmtools: a 2K-block 180K +3 disk (extent mask 1), with a diskdef
// written for it, and two users' files of one name.
class CpmtoolsFileModel : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("dskform") || !HaveProgram("cpmcp") || !HaveProgram("fsck.cpm"))
            GTEST_SKIP() << "dskform and cpmtools are not installed";
        // cpmtools reads a diskdefs file in the current folder instead of its own.
        WriteFile(dir / "diskdefs",
                  std::vector<unsigned char>(kDiskdef, kDiskdef + sizeof kDiskdef - 1));
    }
    CommandResult Cpm(const std::string& command) {
        return RunCommand("cd " + Quote(dir.Path().string()) + " && " + command, true);
    }
    static constexpr char kDiskdef[] = "diskdef p3k2\n  seclen 512\n  tracks 40\n  sectrk 9\n"
                                       "  blocksize 2048\n  maxdir 128\n  skew 0\n  boottrk 1\n"
                                       "  os 2.2\nend\n";
    TempDir dir;
};

TEST_F(CpmtoolsFileModel, LogicalExtentsAgreeWithCpmtools) {
    const std::string image = dir / "k2.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    std::vector<unsigned char> spec(512, 0xE5);
    const unsigned char bytes[] = {0, 0, 40, 9, 2, 1, 4, 2, 0x2A, 0x52};
    std::copy(std::begin(bytes), std::end(bytes), spec.begin());
    WriteFile(dir / "spec.bin", spec);
    ASSERT_EQ(RunCommand(Cli("boot-write --force " + Quote(image) + " " + Quote(dir / "spec.bin"))).status, 0);
    // Written by cpmcp, read by us.
    WriteFile(dir / "theirs", PatternBytes(40960, 1));
    ASSERT_EQ(Cpm("cpmcp -T dsk -f p3k2 k2.dsk theirs 0:THEIRS.BIN").status, 0);
    const CommandResult ls = RunCommand(Cli("ls --json " + Quote(image)));
    EXPECT_NE(ls.out.find("\"name\":\"THEIRS\",\"type\":\"BIN\",\"size\":40960"), std::string::npos)
        << ls.out;
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(out))).status, 0);
    EXPECT_EQ(ReadFile(out + "/THEIRS.BIN"), PatternBytes(40960, 1));
    // Written by us, read by cpmcp; fsck.cpm finds nothing wrong.
    WriteFile(dir / "OURS.BIN", PatternBytes(70000, 2));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "OURS.BIN"))).status, 0);
    EXPECT_EQ(Cpm("fsck.cpm -n -T dsk -f p3k2 k2.dsk").status, 0);
    ASSERT_EQ(Cpm("cpmcp -T dsk -f p3k2 k2.dsk 0:OURS.BIN back").status, 0);
    auto back = ReadFile(dir / "back");
    ASSERT_GE(back.size(), 70000u);
    back.resize(70000);
    EXPECT_EQ(back, PatternBytes(70000, 2));
}

TEST_F(CpmtoolsFileModel, TwoUsersOneNameAreTwoFiles) {
    const std::string image = dir / "u.dsk";
    RunCommand("dskform -type dsk -format pcw180 " + Quote(image) + " >/dev/null");
    WriteFile(dir / "zero", PatternBytes(1792, 3));
    WriteFile(dir / "one", PatternBytes(2176, 4));
    // The system's diskdefs (a diskdefs file in the current folder hides them).
    const std::string cpm = "cpmcp -T dsk -f pcw " + Quote(image) + " ";
    ASSERT_EQ(RunCommand(cpm + Quote(dir / "zero") + " 0:SAME.TXT").status, 0);
    ASSERT_EQ(RunCommand(cpm + Quote(dir / "one") + " 1:SAME.TXT").status, 0);
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);
    // One host name for both: the second is not written over the first.
    const CommandResult get = RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(out)), true);
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("1:SAME.TXT"), std::string::npos) << get.out;
    EXPECT_EQ(ReadFile(out + "/SAME.TXT"), PatternBytes(1792, 3));
    // A name without wildcards that names two files acts on neither.
    const std::vector<unsigned char> before = ReadFile(image);
    const CommandResult ambiguous = RunCommand(Cli("rm " + Quote(image) + " same.txt"), true);
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_NE(ambiguous.out.find("0:SAME.TXT, 1:SAME.TXT"), std::string::npos) << ambiguous.out;
    EXPECT_EQ(ReadFile(image), before);
    // USER:NAME names one; the other user's file stays.
    ASSERT_EQ(RunCommand(Cli("rm " + Quote(image) + " 1:SAME.TXT")).status, 0);
    const CommandResult listed = RunCommand("cpmls -l -T dsk -f pcw " + Quote(image));
    EXPECT_NE(listed.out.find("0:\n"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("1:\n"), std::string::npos) << listed.out;
    EXPECT_EQ(RunCommand("fsck.cpm -n -T dsk -f pcw " + Quote(image)).status, 0);
}

} // namespace

namespace {

// A 720K disk whose disk specification says successive sides, read and
// written by cpmtools through a LibDsk format of "OutBack" sides (defined in
// a .libdskrc under HOME): both sides must agree on where every track lies.
TEST(SuccessiveSidesWithCpmtools, AgreeWithLibDskOutBack) {
    if (!HaveProgram("dskform") || !HaveProgram("cpmcp") || !HaveProgram("fsck.cpm"))
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    TempDir dir;
    const std::string rc = "[p3succ]\nSides = OutBack\nCylinders = 80\nHeads = 2\nSectors = 9\n"
                           "SecBase = 1\nSecSize = 512\nRecMode = MFM\n";
    const std::string defs = "diskdef p3succ\n  seclen 512\n  tracks 160\n  sectrk 9\n"
                             "  blocksize 2048\n  maxdir 256\n  skew 0\n  boottrk 1\n  os 3\n"
                             "  libdsk:format p3succ\nend\n";
    WriteFile(dir / ".libdskrc", std::vector<unsigned char>(rc.begin(), rc.end()));
    WriteFile(dir / "diskdefs", std::vector<unsigned char>(defs.begin(), defs.end()));
    auto cpm = [&](const std::string& command) {
        return RunCommand("cd " + Quote(dir.Path().string()) + " && HOME=" +
                              Quote(dir.Path().string()) + " " + command,
                          true);
    };
    const std::string image = dir / "s.dsk";
    RunCommand("dskform -type dsk -format pcw720 " + Quote(image) + " >/dev/null");
    std::vector<unsigned char> spec(512, 0);
    const unsigned char bytes[] = {3, 0x82, 80, 9, 2, 1, 4, 4, 0x2A, 0x52};
    std::copy(std::begin(bytes), std::end(bytes), spec.begin());
    WriteFile(dir / "spec.bin", spec);
    ASSERT_EQ(RunCommand(Cli("boot-write --force " + Quote(image) + " " + Quote(dir / "spec.bin"))).status, 0);

    // 300,000 bytes reach side 1: the directory and every block must be
    // where cpmtools put them.
    WriteFile(dir / "theirs", PatternBytes(300000, 1));
    ASSERT_EQ(cpm("cpmcp -T dsk -f p3succ s.dsk theirs 0:THEIRS.DAT").status, 0);
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(out))).status, 0);
    auto got = ReadFile(out + "/THEIRS.DAT");
    ASSERT_GE(got.size(), 300000u);
    got.resize(300000);
    EXPECT_EQ(got, PatternBytes(300000, 1));

    WriteFile(dir / "OURS.DAT", PatternBytes(200000, 2));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "OURS.DAT"))).status, 0);
    EXPECT_EQ(cpm("fsck.cpm -n -T dsk -f p3succ s.dsk").status, 0);
    ASSERT_EQ(cpm("cpmcp -T dsk -f p3succ s.dsk 0:OURS.DAT back").status, 0);
    ASSERT_EQ(cpm("cpmcp -T dsk -f p3succ s.dsk 0:THEIRS.DAT again").status, 0);
    auto back = ReadFile(dir / "back");
    back.resize(200000);
    EXPECT_EQ(back, PatternBytes(200000, 2));
    auto again = ReadFile(dir / "again");
    again.resize(300000);
    EXPECT_EQ(again, PatternBytes(300000, 1));
}

} // namespace
