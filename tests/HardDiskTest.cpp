// +3e hard-disk images: a +3DOS partition made by mkfs.cpm and filled by
// cpmcp, put byte by byte into an IDEDOS partition table in each kind of
// image, is listed, extracted and changed as cpmtools does; everything
// outside the partition stays as it was; a change killed at every write,
// sync and removal leaves the old image or the new one.

#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <unistd.h>

namespace {

// The partition: 40 tracks of 32 sectors of 512 bytes, 2K blocks, 256
// directory entries, one reserved track (as its XDPB says).
constexpr std::size_t kVolumeBytes = 40 * 32 * 512;
constexpr unsigned kHeads = 4, kSectorsPerTrack = 32;

struct ImageKind {
    const char* name;
    bool rsIde;
    unsigned version; // 0x10, 0x11
    bool halved;
    bool eightBitWords;
    // The table on head 1, behind a PC's master boot record.
    bool tableOnHead1 = false;
    unsigned SectorBytes() const { return halved || eightBitWords ? 256 : 512; }
};

void PutWord(std::vector<unsigned char>& out, std::size_t at, unsigned value) {
    out[at] = static_cast<unsigned char>(value);
    out[at + 1] = static_cast<unsigned char>(value >> 8);
}

std::vector<unsigned char> Entry(const std::string& name, unsigned type, unsigned firstTrack,
                                 unsigned lastTrack) {
    std::vector<unsigned char> e(64, 0);
    for (std::size_t i = 0; i < 16; ++i)
        e[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : ' ';
    e[16] = static_cast<unsigned char>(type);
    PutWord(e, 17, firstTrack / kHeads);
    e[19] = static_cast<unsigned char>(firstTrack % kHeads);
    PutWord(e, 20, lastTrack / kHeads);
    e[22] = static_cast<unsigned char>(lastTrack % kHeads);
    return e;
}

// The image file holding `volume` as partition FILES, a FAT16 partition
// DOCS after it and free space to the end.
std::vector<unsigned char> BuildImage(const ImageKind& kind,
                                      const std::vector<unsigned char>& volume) {
    const unsigned trackBytes = kSectorsPerTrack * kind.SectorBytes();
    const unsigned volumeTracks = static_cast<unsigned>(kVolumeBytes / trackBytes);
    const unsigned filesFirst = kHeads, filesLast = filesFirst + volumeTracks - 1;
    const unsigned docsFirst = filesLast + 1, docsLast = docsFirst + 2 * kHeads - 1;
    const unsigned cylinders = (docsLast + 1) / kHeads + 2;
    std::vector<unsigned char> disk(std::size_t{cylinders} * kHeads * trackBytes, 0);

    const unsigned tableTrack = kind.tableOnHead1 ? 1 : 0;
    auto system = Entry("PLUSIDEDOS", 1, tableTrack, tableTrack);
    PutWord(system, 32, cylinders);
    system[34] = kHeads;
    system[35] = kSectorsPerTrack;
    PutWord(system, 36, kHeads * kSectorsPerTrack);
    PutWord(system, 38, 3); // entries 0 to 3
    auto files = Entry("FILES", 3, filesFirst, filesLast);
    // XDPB: SPT 128, BSH 4, BLM 15, EXM 0, DSM 311, DRM 255, AL0 F0, OFF 1.
    PutWord(files, 32, 128);
    files[34] = 4;
    files[35] = 15;
    PutWord(files, 37, 311);
    PutWord(files, 39, 255);
    files[41] = 0xF0;
    PutWord(files, 45, 1);
    files[47] = 2;
    files[48] = 3;
    auto docs = Entry("DOCS", 0x10, docsFirst, docsLast);
    auto free = Entry("", 0xFF, docsLast + 1, cylinders * kHeads - 1);
    std::size_t at = std::size_t{tableTrack} * trackBytes;
    if (kind.tableOnHead1) {
        disk[510] = 0x55;
        disk[511] = 0xAA;
    }
    for (const std::vector<unsigned char>* e : {&system, &files, &docs, &free}) {
        std::copy(e->begin(), e->end(), disk.begin() + static_cast<std::ptrdiff_t>(at));
        at += 64;
    }
    std::copy(volume.begin(), volume.end(),
              disk.begin() + static_cast<std::ptrdiff_t>(std::size_t{filesFirst} * trackBytes));
    // The DOCS partition's bytes, which nothing may touch.
    for (std::size_t i = 0; i < 2 * kHeads * trackBytes; ++i)
        disk[std::size_t{docsFirst} * trackBytes + i] = static_cast<unsigned char>(i * 7);

    std::vector<unsigned char> file;
    if (kind.rsIde) {
        const unsigned offset = kind.version == 0x11 ? 0x216 : 0x80;
        file.assign(offset, 0);
        const char signature[] = "RS-IDE\x1A";
        std::copy(signature, signature + 7, file.begin());
        file[7] = static_cast<unsigned char>(kind.version);
        file[8] = kind.halved ? 1 : 0;
        PutWord(file, 9, offset);
        PutWord(file, 0x16 + 2, cylinders);
        PutWord(file, 0x16 + 6, kHeads);
        PutWord(file, 0x16 + 12, kSectorsPerTrack);
    }
    for (unsigned char byte : disk) {
        file.push_back(byte);
        if (kind.eightBitWords)
            file.push_back(0xA5); // the high byte of the word, kept as it is
    }
    return file;
}

// The partition's volume back out of an image built so.
std::vector<unsigned char> VolumeOf(const ImageKind& kind, const std::vector<unsigned char>& file) {
    const std::size_t header = !kind.rsIde ? 0 : kind.version == 0x11 ? 0x216 : 0x80;
    const std::size_t start = std::size_t{kHeads} * kSectorsPerTrack * kind.SectorBytes();
    std::vector<unsigned char> volume(kVolumeBytes);
    for (std::size_t i = 0; i < kVolumeBytes; ++i)
        volume[i] = kind.eightBitWords ? file[header + (start + i) * 2] : file[header + start + i];
    return volume;
}

class HardDiskImages : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveProgram("mkfs.cpm") || !HaveProgram("cpmcp") || !HaveProgram("fsck.cpm"))
            GTEST_SKIP() << "cpmtools is not installed";
        std::ofstream(dir / "diskdefs")
            << "diskdef tlpart\n  seclen 512\n  tracks 40\n  sectrk 32\n"
               "  blocksize 2048\n  maxdir 256\n  skew 1\n  boottrk 1\n"
               "  os 2.2\nend\n";
        WriteFile(dir / "volume", std::vector<unsigned char>(kVolumeBytes, 0xE5));
        ASSERT_EQ(Tool("mkfs.cpm", Quote(dir / "volume")).status, 0);
        WriteFile(dir / "big.bin", PatternBytes(70000, 1));
        WriteFile(dir / "notes.txt", PatternBytes(3000, 2));
        ASSERT_EQ(Tool("cpmcp", Quote(dir / "volume") + " big.bin notes.txt 0:").status, 0);
        ASSERT_EQ(Tool("cpmcp", Quote(dir / "volume") + " notes.txt 3:").status, 0);
        volume = ReadFile(dir / "volume");
    }
    // A cpmtools program run with the partition's diskdef.
    CommandResult Tool(const std::string& tool, const std::string& args) const {
        return RunCommand("cd " + Quote(dir.Path().string()) + " && " + tool + " -f tlpart " + args,
                          true);
    }

    TempDir dir;
    std::vector<unsigned char> volume;
};

TEST_F(HardDiskImages, PartitionsListExtractAndChangeAsCpmtoolsDoes) {
    const ImageKind kinds[] = {
        {"RS-IDE v1.1", true, 0x11, false, false},
        {"RS-IDE v1.0 halved", true, 0x10, true, false},
        {"RS-IDE v1.0 8-bit", true, 0x10, false, true},
        {"raw", false, 0, false, false},
        {"raw 8-bit", false, 0, false, true},
        {"raw, table on head 1", false, 0, false, false, true},
        {"RS-IDE v1.1, table on head 1", true, 0x11, false, false, true},
    };
    for (const ImageKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string image = dir / "disk.hdf";
        WriteFile(image, BuildImage(kind, volume));
        const std::string files = Quote(image + ":files"); // named in any case

        const auto table =
            nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out);
        std::vector<std::string> partitions;
        for (const auto& p : table["partitions"])
            partitions.push_back(p["name"].get<std::string>() + " " + p["type"].get<std::string>());
        EXPECT_EQ(partitions, (std::vector<std::string>{"PLUSIDEDOS system", "FILES +3DOS",
                                                        "DOCS FAT16", " free space"}));
        const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + files)).out);
        EXPECT_EQ(listing["writable"], true);
        std::vector<std::string> names;
        for (const auto& file : listing["files"])
            names.push_back(std::to_string(file["user"].get<int>()) + ":" +
                            file["name"].get<std::string>() + "." +
                            file["type"].get<std::string>());
        EXPECT_EQ(names, (std::vector<std::string>{"0:BIG.BIN", "0:NOTES.TXT", "3:NOTES.TXT"}));
        for (const char* name : {"0:BIG.BIN", "0:NOTES.TXT", "3:NOTES.TXT"}) {
            ASSERT_EQ(Tool("cpmcp", Quote(dir / "volume") + " " + name + " copy").status, 0);
            const auto expected = ReadFile(dir / "copy");
            EXPECT_TRUE(RunCommand(Cli("get --exact " + files + " - " + name)).out ==
                        std::string(expected.begin(), expected.end()))
                << name;
        }

        // Changed here, checked there; nothing outside the volume touched.
        WriteFile(dir / "new.bin", PatternBytes(25000, 3));
        ASSERT_EQ(RunCommand(Cli("put " + files + " " + Quote(dir / "new.bin"))).status, 0);
        ASSERT_EQ(RunCommand(Cli("rm " + files + " 0:BIG.BIN")).status, 0);
        EXPECT_FALSE(std::filesystem::exists(image + "-journal"));
        const auto after = ReadFile(image);
        const auto changed = VolumeOf(kind, after);
        EXPECT_TRUE(after == BuildImage(kind, changed)) << "bytes outside the partition changed";
        WriteFile(dir / "changed", changed);
        EXPECT_EQ(Tool("fsck.cpm", "-n changed").status, 0) << Tool("fsck.cpm", "-n changed").out;
        EXPECT_EQ(Tool("cpmls", "-l changed").out.find("big.bin"), std::string::npos);
        ASSERT_EQ(Tool("cpmcp", "changed 0:new.bin back").status, 0);
        auto padded = PatternBytes(25000, 3);
        padded.resize(25088, 0x1A);
        EXPECT_TRUE(ReadFile(dir / "back") == padded);
    }
}

TEST_F(HardDiskImages, WhatIsNotAPlus3PartitionIsRefusedAndNeverWritten) {
    const ImageKind kind{"RS-IDE v1.1", true, 0x11, false, false};
    const std::string image = dir / "disk.hdf";
    WriteFile(image, BuildImage(kind, volume));
    WriteFile(dir / "new.bin", PatternBytes(2000, 4));
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {"ls " + Quote(image), "is a hard-disk image: name one of its partitions, as " + image +
                                   ":NAME (its +3DOS partitions: FILES)"},
        {"ls " + Quote(image + ":GAMES"), "has no partition named \"GAMES\""},
        {"put " + Quote(image + ":DOCS") + " " + Quote(dir / "new.bin"),
         "partition DOCS is a FAT16 partition; only +3DOS partitions are read as volumes"},
        {"boot-read " + Quote(image + ":FILES") + " " + Quote(dir / "boot.bin"),
         "This disk has no boot sector"},
        {"convert " + Quote(image + ":FILES") + " " + Quote(dir / "out.dsk"),
         "a hard-disk image or partition is not converted"},
    };
    for (const auto& [command, text] : refusals) {
        const CommandResult result = RunCommand(Cli(command), true);
        EXPECT_NE(result.status, 0) << command;
        EXPECT_NE(result.out.find(text), std::string::npos) << result.out;
    }
    EXPECT_TRUE(ReadFile(image) == BuildImage(kind, volume));
    // A volume larger than its partition says so.
    auto bigger = BuildImage(kind, volume);
    PutWord(bigger, 0x216 + 64 + 37, 400);
    WriteFile(image, bigger);
    const std::string refused = RunCommand(Cli("ls " + Quote(image + ":FILES")), true).out;
    EXPECT_NE(refused.find("partition FILES: its XDPB gives 837632 bytes of volume; the "
                           "partition holds 655360"),
              std::string::npos)
        << refused;
}

// A walk takes each +3DOS partition of the hard-disk images it meets as an
// image of its own.
TEST_F(HardDiskImages, AWalkTakesEachPartition) {
    std::filesystem::create_directory(dir / "walk");
    WriteFile(dir / "walk/disk.hdf", BuildImage({"raw", false, 0, false, false}, volume));
    std::vector<std::string> images;
    const std::string lines = RunCommand(Cli("ls --json -r " + Quote(dir / "walk"))).out;
    for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
        images.push_back(nlohmann::json::parse(lines.substr(at, end - at))["image"]);
    EXPECT_EQ(images, std::vector<std::string>{dir / "walk/disk.hdf:FILES"});
    ASSERT_EQ(RunCommand(Cli("get -r " + Quote(dir / "walk") + " " + Quote(dir / "out"))).status,
              0);
    // (Two users: a folder for each.)
    EXPECT_EQ(ReadFile(dir / "out/disk/FILES/0/BIG.BIN").size(), 70016u);
}

// Killed by strace on entering each write, sync and removal of a put in
// turn: after any of them the next command finds the old image or the new
// one, and no journal stays.
TEST_F(HardDiskImages, KilledAtEveryStepLeavesTheOldImageOrTheNew) {
    if (!HaveProgram("strace"))
        GTEST_SKIP() << "strace is not installed";
    const ImageKind kind{"RS-IDE v1.1", true, 0x11, false, false};
    const std::string image = dir / "disk.hdf";
    const auto before = BuildImage(kind, volume);
    WriteFile(dir / "new.bin", PatternBytes(25000, 5));
    WriteFile(image, before);
    ASSERT_EQ(
        RunCommand(Cli("put " + Quote(image + ":FILES") + " " + Quote(dir / "new.bin"))).status, 0);
    const auto after = ReadFile(image);
    ASSERT_FALSE(after == before);
    unsigned killed = 0, oldOnes = 0, newOnes = 0;
    for (const char* call : {"write", "pwrite64", "fsync", "unlink"}) {
        for (unsigned n = 1; n < 40; ++n) {
            WriteFile(image, before);
            const std::string trace = std::string("strace -f -o /dev/null -e trace=") + call +
                                      " -e inject=" + call +
                                      ":signal=SIGKILL:when=" + std::to_string(n) + " ";
            const CommandResult put = RunCommand(
                trace + Cli("put " + Quote(image + ":FILES") + " " + Quote(dir / "new.bin")));
            if (put.status == 0)
                break; // the put made fewer such calls
            ++killed;
            EXPECT_EQ(RunCommand(Cli("ls " + Quote(image + ":FILES"))).status, 0);
            EXPECT_FALSE(std::filesystem::exists(image + "-journal")) << call << " " << n;
            const auto now = ReadFile(image);
            EXPECT_TRUE(now == before || now == after) << "killed at " << call << " " << n;
            oldOnes += now == before;
            newOnes += now == after;
        }
    }
    // Killed before the journal's removal: rolled back; after it: saved.
    EXPECT_GT(killed, 4u);
    EXPECT_GT(oldOnes, 0u);
    EXPECT_GT(newOnes, 0u);

    // A journal that names another size of image is not this one's: the
    // image is refused, and neither it nor the journal is touched.
    WriteFile(image, before);
    RunCommand(
        "strace -f -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=SIGKILL:when=2 " +
        Cli("put " + Quote(image + ":FILES") + " " + Quote(dir / "new.bin")));
    auto journal = ReadFile(image + "-journal");
    ASSERT_GT(journal.size(), 32u);
    journal[16] ^= 1; // the image's size, as the journal has it
    WriteFile(image + "-journal", journal);
    const auto torn = ReadFile(image);
    const CommandResult refused = RunCommand(Cli("ls " + Quote(image + ":FILES")), true);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.out.find("does not fit the image"), std::string::npos) << refused.out;
    EXPECT_TRUE(ReadFile(image) == torn);
    EXPECT_TRUE(ReadFile(image + "-journal") == journal);
    // Nor is a folder, or a file larger than any change of the image.
    std::filesystem::remove(image + "-journal");
    std::filesystem::create_directory(image + "-journal");
    EXPECT_NE(RunCommand(Cli("ls " + Quote(image + ":FILES"))).status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(image + "-journal"));
    std::filesystem::remove(image + "-journal");
    WriteFile(image + "-journal", {});
    std::filesystem::resize_file(image + "-journal", 3 * torn.size());
    const CommandResult tooLarge = RunCommand(Cli("ls " + Quote(image + ":FILES")), true);
    EXPECT_NE(tooLarge.out.find("is no journal of this image"), std::string::npos) << tooLarge.out;
    EXPECT_EQ(std::filesystem::file_size(image + "-journal"), 3 * torn.size());
    EXPECT_TRUE(ReadFile(image) == torn);
}

} // namespace
