// Hostile and damaged images, built byte by byte, through tarnlight-cli and
// the real LibDsk: each ends in a clear message and exit status 1 (or, where
// nothing is wrong for a reader, in a sound listing), never a crash or hang.

#include "CDiskImage.h"
#include "DskContainer.h"
#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <sys/stat.h>

namespace {

class Hostile : public ::testing::Test {
protected:
    // A +3 180K disk without a specification (one reserved track) holding
    // GOOD.BIN (blocks 2-3) and LAST.TXT (block 4).
    Hostile() : disk(40) {
        for (std::uint8_t b : {2, 3})
            for (unsigned half = 0; half < 2; ++half)
                std::fill_n(disk.Logical(1, b * 2 + half).begin(), 512, 'G');
        std::fill_n(disk.Logical(1, 8).begin(), 512, 'L');
        Put(0, MakeEntry(0, "GOOD", "BIN", 16, {2, 3}));
        Put(1, MakeEntry(0, "LAST", "TXT", 4, {4}));
    }
    void Put(unsigned index, const DirEntry& entry) { disk.PutEntry(1, index, &entry); }
    // Damage is a warning for ls (exit 0) and a named problem for check (exit 1).
    void ExpectDamage(const CommandResult& ls, const std::string& warning,
                      const std::string& problem) {
        EXPECT_EQ(ls.status, 0) << ls.out;
        EXPECT_NE(ls.out.find("WARNING: " + image + ": " + warning), std::string::npos) << ls.out;
        const CommandResult check = Run("check");
        EXPECT_EQ(check.status, 1) << check.out;
        EXPECT_NE(check.out.find(image + ": " + problem), std::string::npos) << check.out;
    }
    CommandResult Run(const std::string& command) {
        disk.Save(image);
        return RunCommand(Cli(command + " " + Quote(image)), true);
    }
    CommandResult Get() {
        std::filesystem::create_directories(dir.Path() / "out");
        disk.Save(image);
        return RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(dir / "out")), true);
    }

    TempDir dir;
    DskWriter disk;
    std::string image = dir / "hostile.dsk";
};

TEST_F(Hostile, SoundImageListsCleanly) {
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("GOOD      BIN  2 KB"), std::string::npos) << ls.out;
}

TEST_F(Hostile, BlockNumbersBeyondTheDisk) {
    Put(2, MakeEntry(0, "FAR", "BIN", 8, {250}));
    const CommandResult ls = Run("ls");
    ExpectDamage(ls, "Damaged directory: a file names blocks outside the disk",
                 "0:FAR.BIN: block 250 lies past the end of the disk");
    EXPECT_NE(ls.out.find("FAR"), std::string::npos);
    const CommandResult get = Get();
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("FAR.BIN: disk read error"), std::string::npos) << get.out;
    // Every readable file still comes out.
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN").size(), 2048u);
    EXPECT_EQ(ReadFile(dir / "out/LAST.TXT").size(), 512u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/FAR.BIN"));
}

TEST_F(Hostile, TwoFilesClaimTheSameBlock) {
    Put(2, MakeEntry(3, "THIEF", "BIN", 8, {3}));
    ExpectDamage(Run("ls"), "Damaged directory: two files use the same block",
                 "3:THIEF.BIN: block 3 is also used by 0:GOOD.BIN");
    // Deleting one never frees the block the other still uses.
    EXPECT_EQ(Run("rm").status, 2);
    disk.Save(image);
    RunCommand(Cli("rm " + Quote(image) + " thief.bin"));
    WriteFile(dir / "NEW.BIN", PatternBytes(1024, 5));
    RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW.BIN")));
    std::filesystem::create_directories(dir.Path() / "out");
    RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(dir / "out") + " good.bin"));
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN"), std::vector<unsigned char>(2048, 'G'));
}

TEST_F(Hostile, RecordCountWithTooFewBlocks) {
    Put(2, MakeEntry(0, "SHORT", "", 255, {5}));
    ExpectDamage(Run("ls"), "Damaged directory: a file has fewer blocks than records",
                 "0:SHORT: extent 0: 255 records, but its blocks hold 8");
    // Records without a block read as zeros, as in a random-access file, up
    // to what the entry's 16 block numbers can hold.
    Get();
    const auto data = ReadFile(dir / "out/SHORT");
    ASSERT_EQ(data.size(), 16u * 1024);
    EXPECT_EQ(std::count(data.begin() + 1024, data.end(), 0), 15 * 1024);
}

TEST_F(Hostile, UserBytesThatAreNeitherLiveNorFree) {
    for (unsigned i = 0; i < 64; ++i)
        Put(i, MakeEntry(static_cast<std::uint8_t>(32 + i * 3), "JUNK", "", 128, {2, 3, 4}));
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("Total in use : 0 KB"), std::string::npos) << ls.out;
    // 0x20 is CP/M 3's directory label; 0x23 is nothing.
    const CommandResult check = Run("check");
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out.find("entry 0:"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("entry 1: user byte 0x23 is neither a user number nor free"),
              std::string::npos)
        << check.out;
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 1));
    const CommandResult put = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW.BIN")), true);
    EXPECT_EQ(put.status, 1);
    EXPECT_NE(put.out.find("NEW.BIN: directory full"), std::string::npos) << put.out;
}

TEST_F(Hostile, SpecificationClaimingMoreTracksThanTheImageHas) {
    // 80 tracks in the disk specification, 40 in the container: LibDsk takes
    // 80, the container's own 40 x 1 decide.
    disk.SetBootBytes({0, 0, 80, 9, 2, 1, 3, 2, 0x2A, 0x52});
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("Maximum : 180 KB"), std::string::npos) << ls.out;
    // Nothing can be written past the real last track.
    const auto before = ReadFile(image);
    WriteFile(dir / "BIG.BIN", PatternBytes(300 * 1024, 2));
    const CommandResult put = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "BIG.BIN")), true);
    EXPECT_EQ(put.status, 1);
    EXPECT_NE(put.out.find("ERROR: "), std::string::npos);
    EXPECT_EQ(RunCommand(Cli("ls " + Quote(image)), true).out, ls.out);
    EXPECT_EQ(std::filesystem::file_size(image), before.size());
}

TEST_F(Hostile, SectorMissingFromTheDirectoryTrack) {
    Put(20, MakeEntry(0, "LOST", "BIN", 8, {6}));
    auto& sectors = disk.Track(1).sectors;
    sectors.erase(sectors.begin() + 1); // id 2: directory entries 16..31
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.out.find(": Unable to read directory"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("GOOD"), std::string::npos);
    EXPECT_EQ(ls.out.find("LOST"), std::string::npos);
    // Readable files come out; nothing is written to such an image.
    const CommandResult get = Get();
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN").size(), 2048u);
    const auto before = ReadFile(image);
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 1));
    const CommandResult put = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW.BIN")), true);
    EXPECT_EQ(put.status, 1);
    EXPECT_NE(put.out.find(": Unable to read directory"), std::string::npos) << put.out;
    EXPECT_EQ(RunCommand(Cli("rm " + Quote(image) + " good.bin"), true).status, 1);
    EXPECT_EQ(ReadFile(image), before);
}

// Readable files come out; the disk, whose track is not the layout's, is
// never written.
TEST_F(Hostile, SectorMissingFromADataTrack) {
    auto& sectors = disk.Track(1).sectors;
    sectors.erase(sectors.begin() + 5); // id 6: block 2's second half
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0);
    EXPECT_NE(ls.out.find("WARNING: " + image + ": track 1 holds 8 sectors of 512 bytes: a disk "
                          "with a format of its own can be listed, not changed"),
              std::string::npos)
        << ls.out;
    const auto before = ReadFile(image);
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 1));
    const CommandResult put = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW.BIN")), true);
    EXPECT_EQ(put.status, 1) << put.out;
    EXPECT_EQ(ReadFile(image), before);
    const CommandResult get = Get();
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("GOOD.BIN: disk read error"), std::string::npos) << get.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/GOOD.BIN"));
    EXPECT_EQ(ReadFile(dir / "out/LAST.TXT").size(), 512u);
}

TEST_F(Hostile, SectorIdsOutOfOrderAreFoundByTheirIds) {
    // Interleaved ids are how many real disks are formatted: nothing is wrong.
    for (unsigned c : {0u, 1u, 2u}) {
        auto& sectors = disk.Track(c).sectors;
        std::swap(sectors[0], sectors[5]);
        std::swap(sectors[2], sectors[7]);
    }
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    Get();
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN"), std::vector<unsigned char>(2048, 'G'));
}

TEST_F(Hostile, DirectorySectorOfTheWrongSize) {
    DskSector& small = disk.Track(1).sectors[0];
    small.sizeCode = 1;
    small.data.resize(256);
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 1) << ls.out;
    EXPECT_NE(ls.out.find("ERROR: "), std::string::npos) << ls.out;
}

TEST_F(Hostile, TrackWithNoSectors) {
    disk.Track(1).sectors.clear();
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.out.find(": Unable to read directory"), std::string::npos) << ls.out;
}

TEST_F(Hostile, EmptyTruncatedAndForeignFiles) {
    disk.Save(image);
    const auto bytes = ReadFile(image);
    struct Case {
        const char* name;
        std::vector<unsigned char> data;
    };
    const Case cases[] = {
        {"empty.dsk", {}},
        {"truncated.dsk", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 300)},
        {"text.dsk", std::vector<unsigned char>(2000, 'x')},
    };
    for (const Case& c : cases) {
        WriteFile(dir / c.name, c.data);
        for (const char* command : {"ls ", "info "}) {
            const CommandResult r = RunCommand(Cli(command + Quote(dir / c.name)), true);
            EXPECT_EQ(r.status, 1) << c.name << " " << command << r.out;
            EXPECT_NE(r.out.find("ERROR: "), std::string::npos) << c.name << r.out;
        }
    }
}

TEST(ContainerCheck, RefusesWhatLibDskWouldMishandle) {
    std::uint8_t boot[512];
    std::fill_n(boot, 512, 0xE5);
    EXPECT_TRUE(BootSectorIsSafe(boot));
    const std::uint8_t plus3[] = {0, 0, 40, 9, 2, 1, 3, 2, 0x2A, 0x52};
    std::copy(std::begin(plus3), std::end(plus3), boot);
    EXPECT_TRUE(BootSectorIsSafe(boot));
    boot[4] = 3; // 1K sectors claimed in a PCW specification
    EXPECT_FALSE(BootSectorIsSafe(boot));
    boot[4] = 2;
    boot[6] = 0xFF; // block shift LibDsk divides by
    EXPECT_FALSE(BootSectorIsSafe(boot));
    // An Apricot-looking label with 9472-byte sectors.
    std::fill_n(boot, 512, 0);
    std::copy_n("M V- CPC", 8, boot);
    boot[0x0F] = 0x25;
    boot[0x10] = 0x2D;
    boot[0x16] = 10;
    EXPECT_FALSE(BootSectorIsSafe(boot));
    // A DOS boot sector with 512-byte sectors is fine, one with 1024 is not.
    std::fill_n(boot, 512, 0);
    boot[0] = 0xEB;
    boot[11] = 0;
    boot[12] = 2;
    boot[24] = 9;
    boot[26] = 2;
    EXPECT_TRUE(BootSectorIsSafe(boot));
    boot[12] = 4;
    EXPECT_FALSE(BootSectorIsSafe(boot));

    const std::string corpus = CorpusDir();
    if (!corpus.empty()) {
        for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
            const bool broken = entry.path().filename().string().find("bad_header") != std::string::npos;
            if (entry.path().extension() == ".dsk" && !broken) {
                EXPECT_TRUE(DskContainerIsSound(entry.path().string())) << entry.path();
            }
        }
    }
}

} // namespace

namespace {

// What is not a disk image never reaches LibDsk: every kind is refused at
// once with one line naming it, and nothing in or behind it changes.
TEST(FileKinds, OnlyDiskImagesReachLibDsk) {
    TempDir dir;
    const std::string image = dir / "good.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    const std::string folder = dir / "folder";
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/KEEP.TXT", {'k'});
    WriteFile(dir / "boot.bin", std::vector<unsigned char>(512, 0xE5));
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto run = [&](const std::string& args) {
        // A hang shows as timeout's status 124.
        return RunCommand("timeout 20 " + Cli(args), true);
    };
    for (const std::string& args : std::vector<std::string>{
             "info " + Quote(folder), "rm " + Quote(folder) + " '*'",
          "put " + Quote(folder) + " " + Quote(dir / "boot.bin"),
          "boot-write " + Quote(folder) + " " + Quote(dir / "boot.bin"), "ls " + Quote(fifo),
          std::string("info /dev/zero"), "put " + Quote(image) + " " + Quote(fifo),
          "boot-write --force " + Quote(image) + " " + Quote(fifo)}) {
        const CommandResult r = run(args);
        EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << args << "\n" << r.out;
        EXPECT_EQ(r.out.rfind("ERROR: ", 0), 0u) << args << "\n" << r.out;
    }
    EXPECT_NE(run("info " + Quote(folder)).out.find("not a regular file"), std::string::npos);
    EXPECT_EQ(ReadFile(folder + "/KEEP.TXT"), std::vector<unsigned char>{'k'});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);

    // Compressed images name their kind.
    for (const auto& [tool, kind] : {std::pair{"gzip", "gzip-compressed"},
                                     std::pair{"bzip2", "bzip2-compressed"}}) {
        if (!HaveProgram(tool))
            continue;
        const std::string packed = dir / (std::string("packed.") + tool);
        RunCommand(std::string(tool) + " -c " + Quote(image) + " > " + Quote(packed));
        const CommandResult r = run("ls " + Quote(packed));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(packed + ": Unsupported disk format: " + kind), std::string::npos)
            << r.out;
    }

    // Other systems' containers, compressors and random bytes behind them.
    const std::vector<std::string> magics = {
        "IMD ",        "TD",         "td",         "CQ\x14",     "LBS\x01", "\x1f\x8b",
        "\x1f\x9d",    "BZh91AY",    "\x76\xff",   "<CPM_Disk>", "SAP",     "JV3",
        "ACT Apricot", "\xfd" "7zXZ", "PK\x03\x04", "MV - CPC",   "EXTENDED CPC DSK File\r\n"};
    std::mt19937 random(7);
    std::string paths;
    for (unsigned i = 0; i < 200; ++i) {
        const std::string& magic = magics[i % magics.size()];
        std::vector<unsigned char> bytes(magic.begin(), magic.end());
        const std::size_t extra = 100 + random() % 20000;
        for (std::size_t k = 0; k < extra; ++k)
            bytes.push_back(static_cast<unsigned char>(random()));
        const std::string path = dir / ("magic" + std::to_string(i) + ".dsk");
        WriteFile(path, bytes);
        paths += " " + Quote(path);
    }
    const CommandResult all = run("ls" + paths);
    EXPECT_EQ(all.status, 1);
    std::size_t errors = 0;
    for (std::size_t at = all.out.find("ERROR: "); at != std::string::npos;
         at = all.out.find("ERROR: ", at + 1))
        ++errors;
    EXPECT_EQ(errors, 200u) << all.out;
    EXPECT_EQ(all.out.find("Filename"), std::string::npos) << all.out;
}

// Captures can hold a sector entry with size code 0 and no stored data; it
// takes no room in the track block, for LibDsk as for the container check.
TEST_F(Hostile, SectorEntryWithoutDataTakesNoRoom) {
    DskSector empty;
    empty.id = 0xF0;
    empty.sizeCode = 0;
    auto& directory = disk.Track(1).sectors;
    directory.insert(directory.begin() + 3, empty);
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("GOOD      BIN  2 KB"), std::string::npos) << ls.out;
    Get();
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN"), std::vector<unsigned char>(2048, 'G'));
}

} // namespace

namespace {

// A container cut short (a dump stopped at a bad track) is listed and read
// where it holds the files, with a warning naming the missing tracks, and
// never changed; a file on the missing tracks fails naming the sector.
// LibDsk's own progress lines never reach the terminal.
TEST_F(Hostile, ContainerCutShortIsReadWhereItHoldsTheFiles) {
    Put(2, MakeEntry(0, "FAR", "BIN", 8, {150})); // logical sectors 300-301: track 34
    disk.Save(image);
    std::vector<unsigned char> bytes = ReadFile(image);
    // The disk header, then 23 whole tracks of 256 + 9 * 512 bytes.
    bytes.resize(0x100 + 23 * (0x100 + 9 * 512) + 100);
    WriteFile(image, bytes);
    const std::string warning = "WARNING: " + image +
                                ": the container is cut short: 40 tracks "
                                "promised, 23 present (tracks 23 to 39 missing): it can be "
                                "listed and read, not changed";
    for (const std::string& command : {Cli("ls " + Quote(image)), Cli("ls -r " + Quote(dir.Path().string()))}) {
        const CommandResult ls = RunCommand(command, true);
        EXPECT_EQ(ls.status, 0) << ls.out;
        EXPECT_NE(ls.out.find(warning), std::string::npos) << ls.out;
        EXPECT_NE(ls.out.find("GOOD      BIN  2 KB"), std::string::npos) << ls.out;
        EXPECT_EQ(ls.out.find("Checking"), std::string::npos) << ls.out;
        EXPECT_EQ(ls.out.find("Parsing"), std::string::npos) << ls.out;
    }
    std::filesystem::create_directories(dir / "out");
    const CommandResult get =
        RunCommand(Cli("get " + Quote(image) + " " + Quote(dir / "out")), true);
    EXPECT_EQ(get.status, 1) << get.out;
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN"), std::vector<unsigned char>(2048, 'G'));
    EXPECT_NE(get.out.find("0:FAR.BIN: disk read error: cylinder 34, head 0, sector 4: "),
              std::string::npos)
        << get.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/FAR.BIN"));
    for (const char* change : {"rm ", "put "}) {
        const CommandResult r = RunCommand(
            Cli(change + Quote(image) +
                (std::string(change) == "rm " ? " GOOD.BIN" : " " + Quote(dir / "out/GOOD.BIN"))),
            true);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("image is read-only: the container is cut short"), std::string::npos)
            << r.out;
    }
    EXPECT_EQ(ReadFile(image), bytes);
}

} // namespace

namespace {

// A +3 adventure writer stores its files with a 0x7F in the type, so that
// they cannot be typed: they are files, listed escaped and extracted with
// '_' in the host name, not damage.
TEST_F(Hostile, RuboutInANameIsAFile) {
    DirEntry hidden = MakeEntry(0, "PART1", "A", 4, {5});
    hidden.type[1] = 0x7F;
    Put(2, hidden);
    std::fill_n(disk.Logical(1, 10).begin(), 512, 'R');
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_EQ(ls.out.find("WARNING"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("PART1     A\\x7f"), std::string::npos) << ls.out;
    EXPECT_EQ(Run("check").status, 0);
    const CommandResult get = Get();
    EXPECT_EQ(get.status, 0) << get.out;
    const auto data = ReadFile(dir / "out/PART1.A_");
    ASSERT_EQ(data.size(), 512u);
    EXPECT_EQ(data[0], 'R');
}

} // namespace

namespace {

// A game disk whose tracks 3 on hold five 1024-byte sectors, read by its own
// loader: an add wrote 512-byte sectors there and LibDsk rewrote the track
// too small. Such tracks are named; their blocks are not free space; the
// disk is listed, not changed; a file on them is refused by name.
TEST_F(Hostile, TracksOfAnotherFormatAreNeverWritten) {
    disk.FiveSectorsOf1024From(3);
    // Blocks 20 on lie on track 3 (nine 512-byte sectors a track, track 1 first).
    Put(2, MakeEntry(0, "GAME", "BIN", 8, {20}));
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("WARNING: " + image + ": track 3 holds 5 sectors of 1024 bytes: a disk "
                          "with a format of its own can be listed, not changed"),
              std::string::npos)
        << ls.out;
    // Tracks 1 and 2 only: 9 blocks, 2 of the directory, 3 of GOOD and LAST.
    EXPECT_NE(ls.out.find("Free : 4 KB"), std::string::npos) << ls.out;
    const auto before = ReadFile(image);
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 1));
    for (const std::string& command : {"put " + Quote(image) + " " + Quote(dir / "NEW.BIN"),
                                       "rm " + Quote(image) + " GOOD.BIN"}) {
        const CommandResult change = RunCommand(Cli(command), true);
        EXPECT_EQ(change.status, 1) << change.out;
        EXPECT_NE(change.out.find("track 3 holds 5 sectors of 1024 bytes"), std::string::npos)
            << change.out;
    }
    EXPECT_EQ(ReadFile(image), before);
    const CommandResult get = Get();
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("0:GAME.BIN: its data lies on a track of another format: track 3 "
                           "holds 5 sectors of 1024 bytes"),
              std::string::npos)
        << get.out;
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN").size(), 2048u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/GAME.BIN"));
    const CommandResult check = Run("check");
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("0:GAME.BIN: block 20 lies on a track of another format"), std::string::npos)
        << check.out;
    // Where every file is read, the read-only disk is no failure: get, as
    // ls, exits 0 (the warning says why it is not changed).
    Put(2, MakeEntry(0xE5, "GAME", "BIN", 8, {20}));
    std::filesystem::remove_all(dir / "out");
    const CommandResult whole = Get();
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_NE(whole.out.find("WARNING: "), std::string::npos) << whole.out;
    EXPECT_EQ(ReadFile(dir / "out/GOOD.BIN").size(), 2048u);
    EXPECT_EQ(ReadFile(dir / "out/LAST.TXT").size(), 512u);
}

// LocoScript names its groups with entries of extent 32 that hold no
// record and no block: 0-byte rows, no data written, no damage. An entry of
// that extent that is no group is named by check: no disk holds it.
TEST_F(Hostile, EntriesThatHoldNothingAddNothing) {
    DirEntry group = MakeEntry(0, "GROUP0", "GRP", 0, {});
    group.ex = 0x20;
    Put(2, group);
    // A second extent with no block and no record after a file's data
    // makes no hole either.
    DirEntry empty = MakeEntry(0, "LAST", "TXT", 0, {});
    empty.ex = 3;
    Put(3, empty);
    const CommandResult ls = Run("ls");
    EXPECT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("GROUP0    GRP  0 Bytes"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("LAST      TXT  512 Bytes"), std::string::npos) << ls.out;
    const CommandResult get = Get();
    EXPECT_EQ(get.status, 0) << get.out;
    EXPECT_EQ(ReadFile(dir / "out/GROUP0.GRP").size(), 0u);
    EXPECT_EQ(ReadFile(dir / "out/LAST.TXT"), std::vector<unsigned char>(512, 'L'));
    EXPECT_EQ(Run("check").status, 0);
    for (const auto& [user, type] : {std::pair{std::uint8_t{8}, "GRP"}, {std::uint8_t{0}, "BIN"}}) {
        DirEntry other = MakeEntry(user, "GROUP0", type, 0, {});
        other.ex = 0x20;
        Put(2, other);
        const CommandResult check = Run("check");
        EXPECT_EQ(check.status, 1) << check.out;
        EXPECT_NE(check.out.find(std::to_string(user) + ":GROUP0." + type +
                                 ": an entry with extent byte EX 0x20 and S2 0x00: no disk "
                                 "holds that extent"),
                  std::string::npos)
            << check.out;
    }
}

} // namespace

namespace {

// A FAT boot record (MSX-DOS's jump, then the BIOS parameter block of a
// 720K disk), in place of a disk specification.
std::vector<std::uint8_t> FatBootSector() {
    std::vector<std::uint8_t> boot(512, 0);
    const std::uint8_t start[] = {0xEB, 0xFE, 0x90, 'M', 'S', 'X', '_', 'D', 'O', 'S', ' ',
                                  0x00, 0x02, // bytes per sector
                                  0x02,       // sectors per cluster
                                  0x01, 0x00, // reserved sectors
                                  0x02,       // FATs
                                  0x70, 0x00, // root entries
                                  0xA0, 0x05, // sectors
                                  0xF9};      // media
    std::copy(std::begin(start), std::end(start), boot.begin());
    return boot;
}

// Another system's disk is refused, never taken for an empty CP/M one and
// written over; a +3 specification beside a PC-DOS parameter block stays a
// +3 disk (the corpus's Solo Forth disk, checked by the corpus tests).
TEST_F(Hostile, AnotherSystemsDiskIsRefusedAndNeverWritten) {
    const std::vector<std::uint8_t> boot = FatBootSector();
    std::copy(boot.begin(), boot.end(), disk.Sector(0, 1).begin());
    disk.Save(image);
    const std::string big = dir / "big.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f pcw720 " + Quote(big))).status, 0);
    std::vector<unsigned char> bytes = ReadFile(big);
    // The boot sector: after the disk header and the first track's header.
    std::copy(boot.begin(), boot.end(), bytes.begin() + 512);
    WriteFile(big, bytes);
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 1));
    for (const std::string& path : {image, big}) {
        SCOPED_TRACE(path);
        const auto before = ReadFile(path);
        for (const std::string& command : {"ls " + Quote(path), "put " + Quote(path) + " " + Quote(dir / "NEW.BIN")}) {
            const CommandResult r = RunCommand(Cli(command), true);
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_NE(r.out.find(path + ": Unsupported disk format: an MS-DOS/MSX-DOS (FAT) disk, not a CP/M one"),
                      std::string::npos)
                << r.out;
        }
        EXPECT_EQ(ReadFile(path), before);
    }
}

} // namespace
