// The directory walk, the allocation map and the directory primitives.

#include "SectorDevice.h"
#include "support/DiskBuilder.h"

#include <cstring>

namespace {

class Directory : public ImageFixture {};

// The file system mounted straight on the disk, as the image mounts it, for
// the primitives that only a change of the image uses.
class Primitives : public ImageFixture {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Plus3Figures(device.map, layout));
        device.map.SortTracks(layout);
        device.layout = &volume.Layout();
        ASSERT_EQ(device.Open(kPath), DSK_ERR_OK);
        ASSERT_EQ(owner.LibraryTable().dsk_getgeom(device.Handle(), &device.geometry), DSK_ERR_OK);
        device.geometryValid = true;
    }
    void TearDown() override { device.Close(); }
    int Mount() { return volume.Mount(layout, true); }
    const DirEntry* Entries() const {
        return reinterpret_cast<const DirEntry*>(volume.DirectoryBuffer());
    }

    CSectorDevice device{owner};
    DiskLayout layout;
    CCpmVolume volume{device, device.map};
};

TEST_F(Directory, WalkFillsFourSectorsAndLeavesTheRestFree) {
    for (unsigned i = 0; i < 64; ++i)
        Put(i, MakeEntry(40, "X", "Y", 0)); // neither live nor free
    ASSERT_EQ(Load(), 1);
    List();
    const auto* entries = reinterpret_cast<const DirEntry*>(image.Volume().DirectoryBuffer());
    for (unsigned i = 0; i < 64; ++i)
        EXPECT_EQ(entries[i].user, 40) << i;
    for (unsigned i = 64; i < kMaxDirEntries; ++i)
        ASSERT_EQ(entries[i].user, 0xE5) << i;
}

TEST_F(Directory, FreshDiskHasOnlyItsDirectoryInUseAndFirstFreeBlockFollowsIt) {
    ASSERT_EQ(Load(), 1);
    for (std::uint16_t b = 0; b < kMapBlocks; ++b)
        ASSERT_EQ(image.Volume().IsBlockFree(b), b >= 2) << b;
    EXPECT_EQ(image.Volume().GetUsedSpace(), 0u);
    std::uint16_t block = 0;
    EXPECT_EQ(image.Volume().FindFreeBlock(block), 1);
    EXPECT_EQ(block, 2);
}

TEST_F(Directory, OnlyLiveEntriesMarkBlocksAndBlockZeroMeansNone) {
    Put(0, MakeEntry(0, "A", "", 8, {0, 5, 0, 6}));
    Put(1, MakeEntry(15, "B", "", 8, {7}));
    // A CP/M Plus password record: its "blocks" are the password.
    Put(5, MakeEntry(31, "B", "", 8, {11}));
    Put(2, MakeEntry(32, "C", "", 8, {8}));
    Put(3, MakeEntry(0xE4, "D", "", 8, {9}));
    Put(4, MakeEntry(0xE6, "E", "", 8, {10}));
    ASSERT_EQ(Load(), 1);
    EXPECT_FALSE(image.Volume().IsBlockFree(0)); // the directory's
    EXPECT_FALSE(image.Volume().IsBlockFree(5));
    EXPECT_FALSE(image.Volume().IsBlockFree(6));
    EXPECT_FALSE(image.Volume().IsBlockFree(7));
    EXPECT_TRUE(image.Volume().IsBlockFree(8));
    EXPECT_TRUE(image.Volume().IsBlockFree(9));
    EXPECT_TRUE(image.Volume().IsBlockFree(10));
    EXPECT_TRUE(image.Volume().IsBlockFree(11));
    EXPECT_EQ(image.Volume().GetUsedSpace(), 3u * 1024);
}

TEST_F(Primitives, AllocDirEntrySkipsEntriesThatAreNeitherLiveNorFree) {
    Put(0, MakeEntry(0xE4, "D", "", 0));
    Put(1, MakeEntry(0xE6, "E", "", 0));
    ASSERT_EQ(Mount(), 0);
    std::uint16_t index = 99;
    ASSERT_EQ(volume.AllocDirEntry(Id(0, "NEW     ", "TXT"), index), 1);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(Entries()[2].user, 0);
    EXPECT_EQ(0, std::memcmp(Entries()[2].name, "NEW     ", 8));
    EXPECT_EQ(Entries()[2].rc, 0);
}

TEST_F(Primitives, AllocDirEntryNeverTakesPositionsPastTheRegion) {
    for (unsigned i = 0; i < 64; ++i)
        Put(i, MakeEntry(0, "F" + std::to_string(i), "", 1));
    ASSERT_EQ(Mount(), 0);
    std::uint16_t index = 7;
    EXPECT_EQ(volume.AllocDirEntry(Id(0, "NEW     ", "TXT"), index), 0);
    EXPECT_EQ(index, 7);
}

// A file is its user number, name and type; attribute bits play no part in
// the name (cpmtools' isMatching).
TEST_F(Directory, FindExtentMatchesUserAndMasksAttributeBits) {
    Put(2, MakeEntry(0, "SAME", "BIN", 1));
    DirEntry other = MakeEntry(3, "SAME", "BIN", 1);
    other.type[0] |= 0x80; // read-only
    other.name[0] |= 0x80; // f1
    Put(5, other);
    ASSERT_EQ(Load(), 1);
    List();
    std::uint16_t pos = 0;
    ASSERT_EQ(image.Volume().FindExtent(Id(0, "SAME    ", "BIN"), pos), 1);
    EXPECT_EQ(pos, 2);
    pos = 3;
    EXPECT_EQ(image.Volume().FindExtent(Id(0, "SAME    ", "BIN"), pos), 0);
    EXPECT_EQ(pos, 3);
    pos = 0;
    ASSERT_EQ(image.Volume().FindExtent(Id(3, "SAME    ", "BIN"), pos), 1);
    EXPECT_EQ(pos, 5);
    EXPECT_TRUE(image.Volume().NameInUse(Id(7, "SAME    ", "BIN")));
    EXPECT_FALSE(image.Volume().NameInUse(Id(7, "SAME    ", "TXT")));
    // Two rows, one per user, each with its own attributes.
    ASSERT_EQ(List(), (std::vector<std::string>{"SAME.BIN", "SAME.BIN"}));
    EXPECT_EQ(rows[0].user, 0);
    EXPECT_FALSE(rows[0].readOnly);
    EXPECT_EQ(rows[1].user, 3);
    EXPECT_TRUE(rows[1].readOnly);
    EXPECT_EQ(rows[1].name[0], 'S');
}

TEST_F(Directory, FreeBlocksNeverLiePastTheLastTrack) {
    // 180 blocks in the figures, but the 39 data tracks hold only blocks 0..174.
    unsigned entry = 0;
    for (unsigned b = 2; b < 174; b += 16, ++entry) {
        DirEntry e = MakeEntry(0, "F" + std::to_string(entry), "", 128);
        for (unsigned s = 0; s < 16 && b + s < 174; ++s)
            e.blocks[s] = static_cast<std::uint8_t>(b + s);
        Put(entry, e);
    }
    ASSERT_EQ(Load(), 1);
    std::uint16_t block = 0;
    ASSERT_EQ(image.Volume().FindFreeBlock(block), 1);
    EXPECT_EQ(block, 174);
    EXPECT_TRUE(image.Volume().BlockOnDisk(174));
    EXPECT_FALSE(image.Volume().BlockOnDisk(175));
    Put(entry, MakeEntry(0, "LAST", "", 8, {174}));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Volume().FindFreeBlock(block), 0);
    EXPECT_EQ(image.Volume().GetCapacity(), 180u * 1024);
}

class WideDirectory : public ImageFixture {
protected:
    WideDirectory() : ImageFixture(80, 2, 9, 1, 512) { SetSpec(disk, kPlus3720Spec); }
};

TEST_F(WideDirectory, TwoByteBlockNumbersFrom256Blocks) {
    // 80x2x9 sectors of 512 with 2K blocks: 360 blocks, two-byte numbers.
    PutEntry(disk, 2, 0, MakeEntry(0, "BIG", "", 16, {0x104, 0x0005}, true));
    // Numbers past the map are ignored, never touching memory outside it.
    constexpr auto kPastMap = static_cast<std::uint16_t>(kMapBlocks);
    PutEntry(disk, 2, 1, MakeEntry(0, "ODD", "", 16, {0xFFFF, kPastMap, kPastMap - 1}, true));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Layout().totalBlocks, 360);
    EXPECT_FALSE(image.Volume().IsBlockFree(0x104));
    EXPECT_FALSE(image.Volume().IsBlockFree(5));
    EXPECT_TRUE(image.Volume().IsBlockFree(4));
    EXPECT_FALSE(image.Volume().IsBlockFree(kPastMap - 1));
    EXPECT_EQ(image.Volume().GetUsedSpace(), 3u * 2048);
}

TEST(BlockLayout, TwoHundredFiftyFiveBlocksUseOneByteNumbers) {
    // 255 blocks of 1K: 51 cylinders of 10 sectors of 512 bytes, one head.
    MemDisk disk(51, 1, 10, 1, 512);
    SetSpec(disk, {0, 0, 51, 10, 2, 1, 3, 2});
    PutEntry(disk, 1, 0, MakeEntry(0, "ONE", "", 8, {0x04, 0x01}));
    disk.Register("b.dsk");
    TestOwner owner;
    CDiskImage image(&owner);
    ASSERT_EQ(image.LoadImage("b.dsk"), 1);
    EXPECT_EQ(image.Layout().totalBlocks, 255);
    EXPECT_FALSE(image.Volume().IsBlockFree(4));
    EXPECT_FALSE(image.Volume().IsBlockFree(1));
    EXPECT_TRUE(image.Volume().IsBlockFree(0x104));
    MemDisk::UnregisterAll();
}

TEST_F(Primitives, WriteDirectoryWritesOnlyChangedSectors) {
    ASSERT_EQ(Mount(), 0);
    EXPECT_FALSE(volume.WriteDirectory().Failed());
    // Only sectors that differ from the disk are written.
    EXPECT_EQ(disk.written.size(), 0u);
    std::uint16_t index;
    ASSERT_EQ(volume.AllocDirEntry(Id(0, "NEW     ", "TXT"), index), 1);
    EXPECT_FALSE(volume.WriteDirectory().Failed());
    EXPECT_EQ(disk.written.size(), 1u);
}

TEST_F(Primitives, FailedWriteBackPutsOldSectorsBack) {
    Put(0, MakeEntry(0, "OLD", "TXT", 1, {2}));
    ASSERT_EQ(Mount(), 0);
    const auto before = disk.Contents();
    std::uint16_t index;
    // 41 entries fill three of the four directory sectors.
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(volume.AllocDirEntry(Id(0, "NEW     ", "TXT"), index), 1);
    for (unsigned k = 1; k <= 3; ++k) {
        disk.failWriteAt = disk.writes + k;
        EXPECT_EQ(volume.WriteDirectory().reason, FailReason::DiskWrite) << k;
        EXPECT_TRUE(disk.Contents() == before) << "torn directory after failing write " << k;
    }
}

TEST_F(Primitives, BlockTransfersStopAtFirstFailure) {
    ASSERT_EQ(Mount(), 0);
    std::vector<std::uint8_t> buffer(1024, 0x11);
    EXPECT_EQ(volume.WriteBlock(10, buffer.data()), 1);
    std::vector<std::uint8_t> back(1024, 0);
    EXPECT_EQ(volume.ReadBlock(10, back.data()), 1);
    EXPECT_EQ(back, buffer);
    // Block 10 = logical sectors 20, 21: track 3 (cyl 3), ids 3 and 4.
    EXPECT_EQ(disk.Sector(3, 0, 3)[0], 0x11);
    disk.failReadAt = disk.reads + 2;
    EXPECT_EQ(volume.ReadBlock(10, back.data()), 0);
    disk.failWriteAt = disk.writes + 1;
    EXPECT_EQ(volume.WriteBlock(11, buffer.data()), 0);
    EXPECT_EQ(disk.written.size(), 2u);
}

} // namespace

namespace {

struct DamageCase {
    const char* what;
    std::vector<DirEntry> entries;
    CCpmVolume::Damage damage;
    const char* message;
};

class DamagedDirectory : public ImageFixture {};

TEST_F(DamagedDirectory, IsListedWithAClearMessageAndNamedBlocksStayUsed) {
    const DamageCase cases[] = {
        {"block past the total",
         {MakeEntry(0, "FAR", "", 8, {200})},
         CCpmVolume::Damage::BlocksOutsideDisk,
         "Damaged directory: a file names blocks outside the disk"},
        {"block past the last track",
         {MakeEntry(0, "FAR", "", 8, {177})},
         CCpmVolume::Damage::BlocksOutsideDisk,
         "Damaged directory: a file names blocks outside the disk"},
        {"block inside the directory",
         {MakeEntry(0, "DIR", "", 8, {1})},
         CCpmVolume::Damage::BlocksOutsideDisk,
         "Damaged directory: a file names blocks outside the disk"},
        {"shared block",
         {MakeEntry(0, "ONE", "", 8, {5}), MakeEntry(3, "TWO", "", 8, {5})},
         CCpmVolume::Damage::SharedBlocks,
         "Damaged directory: two files use the same block"},
        {"RC 255 with one block",
         {MakeEntry(0, "LONG", "", 255, {6})},
         CCpmVolume::Damage::MissingBlocks,
         "Damaged directory: a file has fewer blocks than records"},
    };
    for (const DamageCase& c : cases) {
        disk.Restore(std::vector<std::uint8_t>(disk.Contents().size(), 0xE5));
        for (unsigned i = 0; i < c.entries.size(); ++i)
            Put(i, c.entries[i]);
        image.TakeNotices();
        ASSERT_EQ(Load(), 1) << c.what;
        EXPECT_EQ(image.Volume().DirectoryDamage(), c.damage) << c.what;
        ASSERT_EQ(image.Notices().size(), 1u) << c.what;
        EXPECT_EQ(image.Notices()[0].text, c.message) << c.what;
        EXPECT_EQ(image.Notices()[0].caption, "ERROR");
        EXPECT_EQ(List().size(), c.entries.size()) << c.what;
        for (const DirEntry& e : c.entries) {
            for (auto b : e.blocks) {
                if (b > 0 && b < kMapBlocks) {
                    EXPECT_FALSE(image.Volume().IsBlockFree(b)) << c.what;
                }
            }
        }
    }
}

TEST_F(DamagedDirectory, SoundDirectoriesRaiseNothing) {
    Put(0, MakeEntry(0, "FULL", "", 128, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
    Put(1, MakeEntry(0, "EMPTY", "", 0, {}));
    Put(2, MakeEntry(0, "EDGE", "", 8, {174}));
    Put(3, MakeEntry(0x21, "", "", 255, {1, 1, 200})); // a date-stamp entry is not a file
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Volume().DirectoryDamage(), CCpmVolume::Damage::None);
    EXPECT_TRUE(image.Notices().empty());
}

} // namespace

namespace {

// CP/M Plus keeps a file's password in a record of status user + 16 with
// the file's name; the password and its mode sit where an entry's extent
// and blocks would. Such a record is no file: not listed, its bytes no
// blocks; it goes with its file when the file is renamed or erased, and
// nothing else of the directory changes.
class PasswordRecords : public ImageFixture {
protected:
    void SetUp() override {
        Put(0, MakeEntry(2, "GAME", "BIN", 8, {2}));
        DirEntry password = MakeEntry(18, "GAME", "BIN", 0, {'S', 'E', 'C', 'R', 'E', 'T', ' ', ' '});
        password.ex = 0x80; // read mode
        Put(1, password);
        Put(2, MakeEntry(3, "GAME", "BIN", 8, {3}));
        Put(3, MakeEntry(19, "GAME", "BIN", 0, {'O', 'T', 'H', 'E', 'R'}));
        ASSERT_EQ(Load(), 1);
        expected = Region();
    }
    // The whole directory region as the disk holds it.
    std::vector<std::uint8_t> Region() {
        std::vector<std::uint8_t> bytes;
        for (unsigned k = 0; k < 4; ++k)
            bytes.insert(bytes.end(), disk.Logical(1, k), disk.Logical(1, k) + 512);
        return bytes;
    }
    std::uint8_t& At(unsigned entry, unsigned byte) { return expected[entry * 32 + byte]; }
    std::vector<std::uint8_t> expected;
};

TEST_F(PasswordRecords, AreNeitherFilesNorBlocks) {
    EXPECT_EQ(List(), (std::vector<std::string>{"GAME.BIN", "GAME.BIN"}));
    EXPECT_EQ(rows[0].user, 2);
    EXPECT_EQ(rows[1].user, 3);
    EXPECT_EQ(image.Volume().DirectoryDamage(), CCpmVolume::Damage::None);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 2u * 1024);
    EXPECT_TRUE(image.CheckFileSystem().empty());
}

TEST_F(PasswordRecords, GoWithTheirFileWhenErased) {
    ASSERT_EQ(image.EraseFile(Row(2, "GAME    ", "BIN")), 1);
    At(0, 0) = 0xE5;
    At(1, 0) = 0xE5;
    EXPECT_EQ(Region(), expected);
    EXPECT_EQ(List(), (std::vector<std::string>{"GAME.BIN"}));
}

TEST_F(PasswordRecords, GoWithTheirFileWhenRenamed) {
    FileId renamed;
    ASSERT_EQ(ParseCpmName("PLAY.COM", NameCase::Upper, renamed), NameCheck::Valid);
    renamed.user = 5;
    ASSERT_EQ(image.RenameFile(Row(2, "GAME    ", "BIN"), renamed), 1);
    for (unsigned entry : {0u, 1u}) {
        At(entry, 0) = entry == 0 ? 5 : 21;
        std::memcpy(&At(entry, 1), "PLAY    COM", 11);
    }
    EXPECT_EQ(Region(), expected);
}

TEST_F(PasswordRecords, NoFileIsStoredUnderTheirStatus) {
    CDiskImage::ImportTarget target;
    target.file.user = 16;
    ASSERT_EQ(ParseCpmName("NEW.BIN", NameCase::Upper, target.file), NameCheck::Valid);
    EXPECT_EQ(image.ImportData(target, {1, 2, 3}), 0);
    EXPECT_EQ(Region(), expected);
}

} // namespace
