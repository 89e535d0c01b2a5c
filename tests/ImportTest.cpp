// Adding host files: names, entries byte by byte, refusals, and that every
// failure leaves the directory and the map as they were.

#include "support/DiskBuilder.h"
#include "support/HostTools.h"

namespace {

const DirEntry& At(const CDiskImage& image, unsigned index) {
    return reinterpret_cast<const DirEntry*>(image.Volume().DirectoryBuffer())[index];
}

std::string Field(const std::uint8_t* bytes, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(bytes), width);
}

class Import : public ImageFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(Load(), 1);
        List();
    }
    std::string Host(const std::string& name, std::size_t size, unsigned seed = 1) {
        const std::string path = host / name;
        WriteFile(path, PatternBytes(size, seed));
        return path;
    }
    TempDir host;
};

TEST_F(Import, EmptyFileGetsOneEntryWithoutBlocks) {
    ASSERT_EQ(image.ImportFile(Host("EMPTY", 0)), 1);
    const DirEntry& e = At(image, 0);
    EXPECT_EQ(e.user, 0);
    EXPECT_EQ(Field(e.name, 8), "EMPTY   ");
    EXPECT_EQ(Field(e.type, 3), "   ");
    EXPECT_EQ(e.rc, 0);
    for (auto b : e.blocks)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(At(image, 1).user, 0xE5);
}

TEST_F(Import, ShortFileIsPaddedWithFillerAndComesBackInWholeRecords) {
    const std::string path = Host("F300.BIN", 300);
    ASSERT_EQ(image.ImportFile(path), 1);
    const DirEntry& e = At(image, 0);
    EXPECT_EQ(e.rc, 3);
    EXPECT_EQ(e.blocks[0], 2);
    EXPECT_EQ(e.blocks[1], 0);
    // Block 2 = logical sectors 4 and 5 (track 1, ids 5 and 6).
    const std::uint8_t* data = disk.Logical(1, 4);
    const auto original = ReadFile(path);
    EXPECT_EQ(0, std::memcmp(data, original.data(), 300));
    for (int i = 300; i < 512; ++i)
        ASSERT_EQ(data[i], 0x1A) << i;
    EXPECT_EQ(disk.Logical(1, 5)[511], 0x1A);
    TempDir out;
    ASSERT_EQ(image.ExtractFile(out.Path().string(), Row(e)), 1);
    const auto back = ReadFile(out / "F300    .BIN");
    ASSERT_EQ(back.size(), 384u);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), back.begin()));
    for (std::size_t i = 300; i < 384; ++i)
        EXPECT_EQ(back[i], 0x1A);
}

TEST_F(Import, FullEntryHoldsSixteenBlocksAndOneMoreByteStartsExtentOne) {
    ASSERT_EQ(image.ImportFile(Host("EXACT.BIN", 16 * 1024)), 1);
    EXPECT_EQ(At(image, 0).rc, 128);
    EXPECT_EQ(At(image, 0).blocks[15], 17);
    EXPECT_EQ(At(image, 1).user, 0xE5);
    ASSERT_EQ(image.ImportFile(Host("MORE.BIN", 16 * 1024 + 1)), 1);
    EXPECT_EQ(At(image, 1).rc, 128);
    const DirEntry& second = At(image, 2);
    EXPECT_EQ(Field(second.name, 8), "MORE    ");
    EXPECT_EQ(second.ex, 1);
    EXPECT_EQ(second.s2, 0);
    EXPECT_EQ(second.rc, 1);
    EXPECT_EQ(second.blocks[0], 34);
    EXPECT_EQ(second.blocks[1], 0);
    // What reached the disk is what is in memory.
    const DirEntry onDisk = GetEntry(disk, 1, 2);
    EXPECT_EQ(0, std::memcmp(&onDisk, &second, 32));
}

// A dropped file's name is stored only when CP/M can address it and it can
// come back out: upper-cased, cut to 8.3; anything else is refused, the
// disk untouched (such names were stored and then hidden as damage).
TEST_F(Import, NamesComeFromTheFinalPathComponentUpperCased) {
    struct Case {
        const char* file;
        const char* name;
        const char* type;
    };
    const Case cases[] = {
        {"letter.txt", "LETTER  ", "TXT"},
        {"README", "README  ", "   "},
        {"verylongname.basic", "VERYLONG", "BAS"},
        {"Game-1.Bin", "GAME-1  ", "BIN"},
        // The last dot begins the type; the others are left out.
        {"archive.tar.gz", "ARCHIVET", "GZ "},
    };
    unsigned index = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(image.ImportFile(Host(c.file, 10)), 1) << c.file;
        EXPECT_EQ(Field(At(image, index).name, 8), c.name) << c.file;
        EXPECT_EQ(Field(At(image, index).type, 3), c.type) << c.file;
        ++index;
    }
    std::filesystem::create_directories(host.Path() / "a.b");
    WriteFile(host / "a.b/PLAIN", PatternBytes(5, 1));
    ASSERT_EQ(image.ImportFile(host / "a.b/PLAIN"), 1);
    EXPECT_EQ(Field(At(image, index).name, 8), "PLAIN   ");
    EXPECT_EQ(Field(At(image, index).type, 3), "   ");

    const auto before = disk.Contents();
    for (const char* file : {"Stra\xc3\x9f" "e.txt", "a\tb.txt", "hello world.txt", "a\\b.txt",
                             ".profile", "x<y.txt", "del\x7f.txt"}) {
        EXPECT_EQ(image.ImportFile(Host(file, 10)), 0) << file;
        EXPECT_EQ(image.LastStatus().reason, FailReason::UnstorableName) << file;
    }
    EXPECT_TRUE(disk.Contents() == before);
}

TEST_F(Import, ExistingNameUnderAnyUserRefusesWithoutChange) {
    ASSERT_EQ(image.ImportFile(Host("GAME.BIN", 100)), 1);
    const auto disk1 = disk.Contents();
    const std::uint32_t used = image.Volume().GetUsedSpace();
    // Lower case is the same name: CP/M upper-cases what is typed.
    for (const char* same : {"GAME.BIN", "game.bin"}) {
        EXPECT_EQ(image.ImportFile(Host(same, 100)), 0) << same;
        EXPECT_EQ(image.LastStatus().reason, FailReason::FileExists);
        EXPECT_TRUE(disk.Contents() == disk1);
        EXPECT_EQ(image.Volume().GetUsedSpace(), used);
    }
    Put(10, MakeEntry(3, "USER3", "BIN", 1, {40}));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.ImportFile(Host("USER3.BIN", 10)), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::FileExists);
}

TEST_F(Import, MissingHostFileOrFolderIsRefused) {
    EXPECT_EQ(image.ImportFile(host / "nothing"), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::HostOpen);
    EXPECT_EQ(image.LastStatus().cause, "No such file or directory");
    // The cause is the failing step's, never one left over.
    EXPECT_EQ(image.ImportFile(host.Path().string()), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::HostOpen);
    EXPECT_EQ(image.LastStatus().cause, "a folder, not a file");
    EXPECT_TRUE(disk.written.empty());
}

TEST_F(Import, DiskFullRestoresDirectoryAndMap) {
    // 173 blocks of 1K are on the disk above the directory (2..174).
    ASSERT_EQ(image.ImportFile(Host("FILL.BIN", 170 * 1024)), 1);
    const auto before = disk.Contents();
    const std::uint32_t used = image.Volume().GetUsedSpace();
    const std::vector<std::uint8_t> dirBefore(image.Volume().DirectoryBuffer(),
                                              image.Volume().DirectoryBuffer() + kDirBufferSize);
    EXPECT_EQ(image.ImportFile(Host("BIG.BIN", 4 * 1024)), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::DiskFull);
    EXPECT_EQ(image.Volume().GetUsedSpace(), used);
    EXPECT_TRUE(std::equal(dirBefore.begin(), dirBefore.end(), image.Volume().DirectoryBuffer()));
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(disk.Logical(1, i), before.data() + (9 + i) * 512, 512));
    // Every sector written lies on the disk; none past the last track.
    EXPECT_EQ(disk.written.size(), disk.writes);
    ASSERT_EQ(image.ImportFile(Host("LAST.BIN", 3 * 1024)), 1);
    std::uint16_t block;
    EXPECT_EQ(image.Volume().FindFreeBlock(block), 0);
}

TEST_F(Import, DirectoryFullRefusesAndRestores) {
    for (unsigned i = 0; i < 63; ++i)
        Put(i, MakeEntry(0, "F" + std::to_string(i), "", 0));
    ASSERT_EQ(Load(), 1);
    // Needs two entries: the first fits, the second does not.
    EXPECT_EQ(image.ImportFile(Host("TWO.BIN", 17 * 1024)), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::DirectoryFull);
    EXPECT_EQ(At(image, 63).user, 0xE5);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 0u);
    std::uint16_t block;
    ASSERT_EQ(image.Volume().FindFreeBlock(block), 1);
    EXPECT_EQ(block, 2);
}

TEST_F(Import, NoImageOrUnwritableImageIsRefused) {
    image.CloseImage();
    EXPECT_EQ(image.ImportFile(Host("A.BIN", 10)), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::NoImage);
}

class WideImport : public ImageFixture {
protected:
    WideImport() : ImageFixture(80, 2, 9, 1, 512) { SetSpec(disk, kPlus3720Spec); }
    void SetUp() override {
        ASSERT_EQ(Load(), 1);
        List();
    }
    TempDir host;
};

TEST_F(WideImport, TwoByteSlotsHoldEightBlocksAndThirtyThirdEntryCarriesS2) {
    const std::string path = host / "HUGE.BIN";
    WriteFile(path, PatternBytes(32 * 16384 + 1, 7));
    ASSERT_EQ(image.ImportFile(path), 1);
    const DirEntry& first = At(image, 0);
    EXPECT_EQ(first.rc, 128);
    EXPECT_EQ(first.blocks[0], 4);
    EXPECT_EQ(first.blocks[1], 0);
    EXPECT_EQ(first.blocks[14], 11);
    const DirEntry& second = At(image, 1);
    EXPECT_EQ(second.ex, 1);
    EXPECT_EQ(second.blocks[0], 12);
    const DirEntry& last = At(image, 32);
    EXPECT_EQ(last.ex, 0);
    EXPECT_EQ(last.s2, 1);
    EXPECT_EQ(last.rc, 1);
    TempDir out;
    ASSERT_EQ(image.ExtractFile(out.Path().string(), Row(first)), 1);
    auto back = ReadFile(out / "HUGE    .BIN");
    const auto original = ReadFile(path);
    ASSERT_EQ(back.size(), original.size() + 127);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), back.begin()));
}

// 2K blocks with one-byte numbers: an entry holds two logical 16K extents
// (extent mask 1), filled as CP/M fills them.
TEST(ImportBlockSize, EntriesHoldTwoLogicalExtentsOnTwoKilobyteBlocks) {
    MemDisk disk(40, 1, 9, 1, 512);
    SetSpec(disk, {0, 0, 40, 9, 2, 1, 4, 2});
    disk.Register("w.dsk");
    TestOwner owner;
    CDiskImage image(&owner);
    ASSERT_EQ(image.LoadImage("w.dsk"), 1);
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    TempDir host;
    WriteFile(host / "A.BIN", PatternBytes(40960, 1));
    ASSERT_EQ(image.ImportFile(host / "A.BIN"), 1);
    // 20 blocks: 16 (32K, extents 0 and 1) in the first entry, 4 in the second.
    const DirEntry& first = At(image, 0);
    EXPECT_EQ(first.ex, 1);
    EXPECT_EQ(first.rc, 128);
    EXPECT_EQ(first.blocks[15], 17);
    const DirEntry& second = At(image, 1);
    EXPECT_EQ(second.ex, 2);
    EXPECT_EQ(second.rc, 64);
    EXPECT_EQ(second.blocks[3], 21);
    EXPECT_EQ(second.blocks[4], 0);
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    EXPECT_EQ(rows[0].size, 40960u);
    TempDir out;
    ASSERT_EQ(image.ExtractFile(out.Path().string(), rows[0]), 1);
    EXPECT_EQ(ReadFile(out / "A       .BIN"), PatternBytes(40960, 1));
    MemDisk::UnregisterAll();
}

} // namespace

namespace {

// A command is one change: where one of the files it names cannot be
// stored, deleted or changed, the image is left byte for byte as it was and
// the file that stopped it is named; --keep-going keeps what succeeded.
TEST(OneChange, ACommandThatFailsPartWayLeavesTheImageAsItWas) {
    TempDir dir;
    const std::string image = dir / "p.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    WriteFile(dir / "KEEP.BIN", PatternBytes(2000, 1));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "KEEP.BIN"))).status, 0);
    WriteFile(dir / "BIG1.BIN", PatternBytes(100 * 1024, 2));
    WriteFile(dir / "BIG2.BIN", PatternBytes(100 * 1024, 3));
    WriteFile(dir / "SMALL.BIN", PatternBytes(300, 4));
    const std::string files = Quote(dir / "BIG1.BIN") + " " + Quote(dir / "BIG2.BIN") + " " + Quote(dir / "SMALL.BIN");
    struct Case {
        std::string args;
        std::string named;                // the failure's line
        std::vector<std::string> present; // in ls -l after --keep-going
        std::string absent;               // not in it
    };
    const std::vector<Case> cases = {
        {"put " + Quote(image) + " " + files,
         "BIG2.BIN: disk full (needs 100 KB, 71 KB free): nothing stored", {"BIG1", "SMALL", "KEEP"},
         "BIG2"},
        {"rm " + Quote(image) + " KEEP.BIN NOSUCH.BIN", "nothing deleted", {}, "KEEP"},
        {"attr --set r " + Quote(image) + " KEEP.BIN NOSUCH.BIN", "no attribute changed",
         {"KEEP", "R/O"}, "BIG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::vector<unsigned char> before = ReadFile(image);
        const CommandResult r = RunCommand(Cli(c.args), true);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << r.out;
        EXPECT_EQ(ReadFile(image), before);
        // The same with --keep-going: what succeeded is kept, and the
        // command still fails.
        const std::string verb = c.args.substr(0, c.args.find(' '));
        const CommandResult kept =
            RunCommand(Cli(verb + " --keep-going" + c.args.substr(verb.size())), true);
        EXPECT_EQ(kept.status, 1) << kept.out;
        const std::string listing = RunCommand(Cli("ls -l " + Quote(image))).out;
        for (const std::string& text : c.present)
            EXPECT_NE(listing.find(text), std::string::npos) << listing;
        EXPECT_EQ(listing.find(c.absent), std::string::npos) << listing;
        ASSERT_EQ(RunCommand(Cli("new --force " + Quote(image))).status, 0);
        ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "KEEP.BIN"))).status, 0);
    }
}

} // namespace
