// Disks read as they really are: the cylinders and heads the container
// holds, and the block-number width and extent mask of the data area, as
// cpmtools derives them. Every change is checked by cpmtools afterwards.

#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool HaveTools() {
    return HaveProgram("mkfs.cpm") && HaveProgram("cpmcp") && HaveProgram("fsck.cpm") &&
           HaveProgram("dsktrans");
}

// A scratch folder with a cpmtools diskdefs file of its own, where every
// cpmtools command runs.
class CpmtoolsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTools())
            GTEST_SKIP() << "cpmtools and LibDsk's utilities are not installed";
        // A diskdefs file here replaces the system's: it is copied first.
        std::ofstream defs(dir / "diskdefs");
        defs << std::ifstream("/etc/cpmtools/diskdefs").rdbuf();
        defs << "\ndiskdef p357\n  seclen 512\n  tracks 57\n  sectrk 9\n"
                                           "  blocksize 1024\n  maxdir 64\n  skew 1\n  boottrk 1\n"
                                           "  os 2.2\nend\n";
    }
    CommandResult Here(const std::string& command) {
        return RunCommand("cd " + Quote(dir.Path().string()) + " && " + command, true);
    }
    // A raw image of `sectors` 0xE5 sectors, formatted by mkfs.cpm.
    void MakeRaw(const std::string& name, unsigned sectors, const std::string& diskdef) {
        WriteFile(dir / name, std::vector<unsigned char>(std::size_t{sectors} * 512, 0xE5));
        ASSERT_EQ(Here("mkfs.cpm -f " + diskdef + " " + name).status, 0);
    }
    // Host files F1.BIN ... of growing sizes, copied onto the image by cpmcp.
    void AddFiles(const std::string& image, const std::string& diskdef, unsigned count) {
        for (unsigned i = 1; i <= count; ++i) {
            const std::string name = "F" + std::to_string(i) + ".BIN";
            WriteFile(dir / name, PatternBytes(i * 1700 + 37, i));
            ASSERT_EQ(Here("cpmcp -f " + diskdef + " " + image + " " + name + " 0:").status, 0);
        }
    }
    // What fsck.cpm -n finds wrong, line by line.
    std::string FsckErrors(const std::string& image, const std::string& diskdef) {
        const CommandResult fsck = Here("fsck.cpm -n -f " + diskdef + " " + image);
        std::string errors;
        std::istringstream lines(fsck.out);
        for (std::string line; std::getline(lines, line);)
            if (line.find("Error") != std::string::npos || line.find("Bad") != std::string::npos)
                errors += line + "\n";
        return errors;
    }
    // fsck.cpm finds nothing new (mkfs.cpm's own label has 0xE5 stamps), and
    // cpmcp takes out every file as it went in.
    void ExpectSoundAndWhole(const std::string& image, const std::string& diskdef,
                             unsigned count, const std::string& fsckBefore) {
        EXPECT_EQ(FsckErrors(image, diskdef), fsckBefore);
        for (unsigned i = 1; i <= count; ++i) {
            const std::string name = "F" + std::to_string(i) + ".BIN";
            ASSERT_EQ(Here("cpmcp -f " + diskdef + " " + image + " 0:" + name + " out.bin").status, 0)
                << name;
            const auto back = ReadFile(dir / "out.bin");
            const auto original = ReadFile(dir / name);
            ASSERT_GE(back.size(), original.size()) << name;
            EXPECT_TRUE(std::equal(original.begin(), original.end(), back.begin())) << name;
        }
    }
    nlohmann::json Listing(const std::string& image) {
        const CommandResult ls = RunCommand(Cli("ls --json " + Quote(dir / image)));
        EXPECT_EQ(ls.status, 0) << ls.out;
        return nlohmann::json::parse(ls.out);
    }
    TempDir dir;
};

// A 720K disk whose boot sector holds no specification: LibDsk guesses 40 x 1
// from the blank boot sector, the container holds 80 x 2. Read as 180K, the
// next add wrote a 180K directory over the 720K disk's files.
TEST_F(CpmtoolsFolder, DoubleSidedDiskWithoutSpecificationKeepsItsFiles) {
    MakeRaw("source.img", 1440, "cf2dd");
    AddFiles("source.img", "cf2dd", 12);
    for (const char* type : {"dsk", "edsk", "raw"}) {
        SCOPED_TRACE(type);
        const std::string image = std::string("disk.") + type;
        if (std::string(type) == "raw")
            std::filesystem::copy_file(dir / "source.img", dir / image,
                                       std::filesystem::copy_options::overwrite_existing);
        else
            ASSERT_EQ(Here("dsktrans -itype raw -format pcw720 -otype " + std::string(type) +
                           " source.img " + image).status, 0);
        const std::string fsckBefore = FsckErrors(image, "cf2dd");
        const nlohmann::json listing = Listing(image);
        EXPECT_EQ(listing["files"].size(), 12u);
        EXPECT_EQ(listing["capacity"], 720 * 1024);
        WriteFile(dir / "NEW.BIN", PatternBytes(5000, 99));
        const CommandResult put = RunCommand(Cli("put " + Quote(dir / image) + " " + Quote(dir / "NEW.BIN")), true);
        ASSERT_EQ(put.status, 0) << put.out;
        ExpectSoundAndWhole(image, "cf2dd", 12, fsckBefore);
        ASSERT_EQ(Here("cpmcp -f cf2dd " + image + " 0:NEW.BIN out.bin").status, 0);
        const auto back = ReadFile(dir / "out.bin");
        const auto sent = PatternBytes(5000, 99);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), back.begin()));
        EXPECT_EQ(Listing(image)["files"].size(), 13u);
    }
}

// 57 tracks of 1K blocks and one reserved track: 256 blocks counting the
// reserved track, 252 in the data area. CP/M (and cpmtools) number them in
// one byte; two-byte numbers made every file unreadable to them.
TEST_F(CpmtoolsFolder, BlockNumberWidthComesFromTheDataArea) {
    MakeRaw("disk.raw", 57 * 9, "p357");
    // A +3DOS specification for the same layout: 57 tracks, 1K blocks.
    std::vector<unsigned char> raw = ReadFile(dir / "disk.raw");
    const unsigned char spec[] = {0, 0, 57, 9, 2, 1, 3, 2, 0x2A, 0x52};
    std::copy(std::begin(spec), std::end(spec), raw.begin());
    WriteFile(dir / "disk.raw", raw);
    AddFiles("disk.raw", "p357", 3);
    ASSERT_EQ(Here("dsktrans -itype raw -otype dsk disk.raw disk.dsk").status, 0);
    EXPECT_EQ(Listing("disk.dsk")["files"].size(), 3u);
    const std::string fsckBefore = FsckErrors("disk.dsk", "p357");
    // 20 blocks: two entries of 16 one-byte block numbers.
    WriteFile(dir / "F4.BIN", PatternBytes(20000, 4));
    const CommandResult put = RunCommand(Cli("put " + Quote(dir / "disk.dsk") + " " + Quote(dir / "F4.BIN")), true);
    ASSERT_EQ(put.status, 0) << put.out;
    ExpectSoundAndWhole("disk.dsk", "p357", 4, fsckBefore);
}

} // namespace
