// Extraction, deletion, new images and the boot sector.

#include "support/DiskBuilder.h"
#include "support/HostTools.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Fills block b (1K blocks, one reserved track) with one byte value.
void FillBlock(MemDisk& disk, unsigned block, std::uint8_t value) {
    std::memset(disk.Logical(1, block * 2), value, 512);
    std::memset(disk.Logical(1, block * 2 + 1), value, 512);
}

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Extract : public ImageFixture {
protected:
    void Ready() {
        ASSERT_EQ(Load(), 1);
        List();
    }
    std::string Folder() const { return out.Path().string(); }
    TempDir out;
};

TEST_F(Extract, PaddedHostNameAndCutAtRecordCount) {
    FillBlock(disk, 2, 'a');
    FillBlock(disk, 3, 'b');
    FillBlock(disk, 4, 'c');
    FillBlock(disk, 5, 'd');
    Put(0, MakeEntry(0, "README", "TXT", 25, {2, 3, 4, 5}));
    Ready();
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "README  ", "TXT")), 1);
    const auto data = ReadFile(out / "README  .TXT");
    ASSERT_EQ(data.size(), 25u * 128);
    EXPECT_EQ(data[0], 'a');
    EXPECT_EQ(data[3 * 1024 - 1], 'c');
    EXPECT_EQ(data[3 * 1024], 'd');
}

TEST_F(Extract, TrimmedNamesAndAttributeBitsCleared) {
    DirEntry e = MakeEntry(0, "GAME", "", 1, {2});
    e.name[0] |= 0x80;
    Put(0, e);
    DirEntry ro = MakeEntry(0, "LOCKED", "BIN", 1, {3});
    ro.type[0] |= 0x80;
    Put(1, ro);
    Ready();
    ASSERT_EQ(image.ExtractFile(Folder(), Row(e), CDiskImage::HostNames::Trimmed), 1);
    ASSERT_EQ(image.ExtractFile(Folder(), Row(ro)), 1);
    EXPECT_EQ(Listing(out.Path()), (std::vector<std::string>{"GAME", "LOCKED  .BIN"}));
    // Attribute bits play no part in the name: the plain bytes find the file.
    EXPECT_EQ(image.ExtractFile(Folder(), Row(0, "LOCKED  ", "BIN")), 1);
}

// Entries are taken in extent order, whatever their directory order, and
// only those of the file's own user number.
TEST_F(Extract, ExtentOrderAndOneUserOnly) {
    FillBlock(disk, 2, '1');
    FillBlock(disk, 3, '2');
    FillBlock(disk, 4, '3');
    Put(0, MakeEntry(0, "JOIN", "", 8, {3}, false, 1));
    Put(1, MakeEntry(4, "JOIN", "", 8, {4}));
    Put(2, MakeEntry(0, "JOIN", "", 8, {2}, false, 0));
    Ready();
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "JOIN    ", "   ")), 1);
    // Extent 1's data starts at 16K: the records extent 0 lacks are zeros.
    auto data = ReadFile(out / "JOIN    .   ");
    ASSERT_EQ(data.size(), 16384u + 1024);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 1024, '1'), 1024);
    EXPECT_EQ(std::count(data.begin() + 1024, data.begin() + 16384, 0), 16384 - 1024);
    EXPECT_EQ(std::count(data.begin() + 16384, data.end(), '2'), 1024);
    ASSERT_EQ(image.ExtractFile(Folder(), Row(4, "JOIN    ", "   ")), 1);
    data = ReadFile(out / "JOIN    .   ");
    EXPECT_EQ(data, std::vector<unsigned char>(1024, '3'));
}

TEST_F(Extract, RecordsWithoutBlocksReadAsZeros) {
    FillBlock(disk, 2, 'S');
    Put(0, MakeEntry(0, "SHORT", "", 24, {2}));
    Put(1, MakeEntry(0, "NONE", "", 0));
    Ready();
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "SHORT   ", "   ")), 1);
    const auto data = ReadFile(out / "SHORT   .   ");
    ASSERT_EQ(data.size(), 3072u);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 1024, 'S'), 1024);
    EXPECT_EQ(std::count(data.begin() + 1024, data.end(), 0), 2048);
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "NONE    ", "   ")), 1);
    EXPECT_EQ(fs::file_size(out / "NONE    .   "), 0u);
}

// A slash (which other tools store) becomes '_' and so does 0x7F; names that
// would still leave the folder or cut the path are refused before anything
// is created.
TEST_F(Extract, NamesThatWouldLeaveTheFolderAreRefusedBeforeAnythingIsCreated) {
    Put(0, MakeEntry(0, "../ETC", "X", 1, {2}));
    DirEntry slashInType = MakeEntry(0, "A", "B/C", 1, {2});
    Put(1, slashInType);
    DirEntry nul = MakeEntry(0, "NUL", "BIN", 1, {2});
    nul.name[3] = 0x80; // bit 7 cleared: a NUL byte
    Put(2, nul);
    DirEntry dots = MakeEntry(0, "..", "", 1, {2});
    Put(3, dots);
    DirEntry rubout = MakeEntry(0, "KEY", "A", 1, {2});
    rubout.type[1] = 0x7F;
    Put(4, rubout);
    Ready();
    EXPECT_EQ(image.ExtractFile(Folder(), Row(0, "../ETC  ", "X  ")), 1);
    EXPECT_EQ(image.ExtractFile(Folder(), Row(slashInType)), 1);
    EXPECT_EQ(image.ExtractFile(Folder(), Row(rubout), CDiskImage::HostNames::Trimmed), 1);
    EXPECT_EQ(image.ExtractFile(Folder(), Row(nul)), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::BadName);
    EXPECT_EQ(image.ExtractFile(Folder(), Row(dots), CDiskImage::HostNames::Trimmed),
              0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::BadName);
    EXPECT_EQ(Listing(out.Path()),
              (std::vector<std::string>{".._ETC  .X  ", "A       .B_C", "KEY.A_"}));
}

TEST_F(Extract, FailedBlockReadLeavesNoFileAndExistingFileUntouched) {
    Put(0, MakeEntry(0, "DATA", "BIN", 16, {2, 3}));
    Ready();
    WriteFile(out / "DATA    .BIN", PatternBytes(77, 3));
    for (unsigned k = 1; k <= 4; ++k) {
        disk.failReadAt = disk.reads + k;
        EXPECT_EQ(image.ExtractFile(Folder(), Row(0, "DATA    ", "BIN")), 0) << k;
        EXPECT_EQ(image.LastStatus().reason, FailReason::DiskRead);
        EXPECT_EQ(image.LastStatus().file, "0:DATA.BIN");
        // The library's error, with the sector it concerns.
        EXPECT_NE(image.LastStatus().libraryError, 0);
        EXPECT_EQ(image.LastStatus().cause.rfind("cylinder ", 0), 0u) << image.LastStatus().cause;
        EXPECT_EQ(Listing(out.Path()), std::vector<std::string>{"DATA    .BIN"});
        EXPECT_EQ(ReadFile(out / "DATA    .BIN"), PatternBytes(77, 3));
    }
    disk.failReadAt = 0;
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "DATA    ", "BIN")), 1);
    EXPECT_EQ(fs::file_size(out / "DATA    .BIN"), 2048u);
}

TEST_F(Extract, MissingFolderAndNoImage) {
    Put(0, MakeEntry(0, "A", "", 1, {2}));
    Ready();
    EXPECT_EQ(image.ExtractFile(out / "absent", Row(0, "A       ", "   ")), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::HostOpen);
    image.CloseImage();
    EXPECT_EQ(image.ExtractFile(Folder(), Row(0, "A       ", "   ")), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::NoImage);
}

class Erase : public ImageFixture {
protected:
    void Ready() {
        ASSERT_EQ(Load(), 1);
        List();
    }
};

TEST_F(Erase, RemovesEveryEntryOfThatUserAndFreesItsBlocks) {
    Put(0, MakeEntry(0, "KEEP", "", 8, {2}));
    Put(1, MakeEntry(5, "GONE", "BIN", 128, {3, 4, 0, 5}, false, 1));
    Put(2, MakeEntry(5, "GONE", "BIN", 128, {6}, false, 0));
    Put(3, MakeEntry(0, "GONE", "BIN", 8, {7}));
    Ready();
    EXPECT_EQ(image.Volume().GetUsedSpace(), 6u * 1024);
    const DirEntry before = GetEntry(disk, 1, 1);
    ASSERT_EQ(image.EraseFile(Row(5, "GONE    ", "BIN")), 1);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 2u * 1024);
    std::uint16_t block;
    ASSERT_EQ(image.Volume().FindFreeBlock(block), 1);
    EXPECT_EQ(block, 3);
    // Only the user byte changes on the disk.
    DirEntry after = GetEntry(disk, 1, 1);
    EXPECT_EQ(after.user, 0xE5);
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<const std::uint8_t*>(&after) + 1,
                             reinterpret_cast<const std::uint8_t*>(&before) + 1, 31));
    EXPECT_EQ(List(), (std::vector<std::string>{"KEEP", "GONE.BIN"}));
    EXPECT_EQ(rows[1].user, 0);
}

TEST_F(Erase, UnknownNameChangesNothing) {
    Put(0, MakeEntry(0, "KEEP", "", 8, {2}));
    Ready();
    const auto before = disk.Contents();
    EXPECT_EQ(image.EraseFile(Row(0, "NOPE    ", "   ")), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::FileNotFound);
    EXPECT_EQ(image.EraseFile(Row(1, "KEEP    ", "   ")), 0);
    EXPECT_TRUE(disk.Contents() == before);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 1024u);
    // The next operation's status is its own: nothing of the refusal is left.
    ASSERT_EQ(image.EraseFile(Row(0, "KEEP    ", "   ")), 1);
    EXPECT_FALSE(image.LastStatus().Failed());
    EXPECT_EQ(image.LastStatus().Text(), "no error");
}

// A read-only or system entry is part of its file like any other.
TEST_F(Erase, AttributeBitsPlayNoPartInTheName) {
    DirEntry ro = MakeEntry(0, "FILE", "BIN", 128, {2}, false, 0);
    ro.type[0] |= 0x80;
    Put(0, ro);
    Put(1, MakeEntry(0, "FILE", "BIN", 8, {3}, false, 1));
    Ready();
    ASSERT_EQ(List().size(), 1u);
    EXPECT_TRUE(rows[0].readOnly);
    ASSERT_EQ(image.EraseFile(Row(0, "FILE    ", "BIN")), 1);
    EXPECT_TRUE(List().empty());
}

TEST_F(Erase, BlockSharedWithAnotherLiveFileStaysInUse) {
    Put(0, MakeEntry(0, "ONE", "", 8, {2, 3}));
    Put(1, MakeEntry(0, "TWO", "", 8, {3, 4}));
    Ready();
    ASSERT_EQ(image.EraseFile(Row(0, "ONE     ", "   ")), 1);
    EXPECT_TRUE(image.Volume().IsBlockFree(2));
    EXPECT_FALSE(image.Volume().IsBlockFree(3));
    EXPECT_FALSE(image.Volume().IsBlockFree(4));
}

TEST_F(Erase, FailedWriteBackRestoresEverything) {
    Put(0, MakeEntry(0, "GONE", "", 8, {2}));
    Ready();
    const auto before = disk.Contents();
    disk.failWriteAt = disk.writes + 1;
    EXPECT_EQ(image.EraseFile(Row(0, "GONE    ", "   ")), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::DiskWrite);
    EXPECT_EQ(image.LastStatus().file, "0:GONE");
    EXPECT_FALSE(image.Volume().IsBlockFree(2));
    EXPECT_TRUE(disk.Contents() == before);
    std::uint16_t pos = 0;
    EXPECT_EQ(image.Volume().FindExtent(Id(0, "GONE    ", "   "), pos), 1);
}

TEST(CreateImage, FormatsFortyTracksOfHeadZeroAndLeavesNothingOpen) {
    MemDisk old(40, 1, 9, 1, 512);
    old.Register("old.dsk");
    TestOwner owner;
    CDiskImage image(&owner);
    ASSERT_EQ(image.LoadImage("old.dsk"), 1);
    ASSERT_EQ(image.CreateImage("new.dsk"), 1);
    EXPECT_EQ(old.closes, old.opens);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_EQ(image.ImagePath(), "new.dsk");
    MemDisk* made = MemDisk::Find("new.dsk");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->written.size(), 40u);
    for (unsigned c = 0; c < 40; ++c)
        EXPECT_EQ(made->written[c], std::make_tuple(c, 0u, 0u));
    EXPECT_EQ(made->closes, made->opens);
    EXPECT_EQ(made->Sector(39, 0, 9)[511], 0xE5);
    EXPECT_TRUE(image.Notices().empty());
    // Opened as the New command does, it is a blank +3 disk.
    ASSERT_EQ(image.LoadImage("new.dsk"), 1);
    EXPECT_EQ(image.Volume().GetCapacity(), 180u * 1024);
    EXPECT_EQ(image.Layout().totalBlocks, 180);
    image.CloseImage();
    MemDisk::UnregisterAll();
}

TEST(CreateImage, RefusalsShowTheirMessages) {
    DiskLibraryTable table = MemDisk::Table();
    table.dsk_creat = nullptr;
    TestOwner noCreate(table);
    CDiskImage a(&noCreate);
    EXPECT_EQ(a.CreateImage("x.dsk"), 0);
    EXPECT_EQ(LastText(a), "Unable to create disk");
    EXPECT_EQ(a.ImagePath(), "x.dsk");
    table = MemDisk::Table();
    table.dg_stdformat = nullptr;
    TestOwner noFormat(table);
    CDiskImage b(&noFormat);
    EXPECT_EQ(b.CreateImage("y.dsk"), 0);
    EXPECT_EQ(LastText(b), "Unable to create standard format");
    EXPECT_FALSE(b.IsOpen());
    EXPECT_EQ(MemDisk::Find("y.dsk")->closes, MemDisk::Find("y.dsk")->opens);
    table = MemDisk::Table();
    table.dsk_apform = nullptr;
    TestOwner noTrack(table);
    CDiskImage c(&noTrack);
    EXPECT_EQ(c.CreateImage("z.dsk"), 0);
    EXPECT_EQ(LastText(c), "Unable to format track");
    EXPECT_FALSE(c.IsOpen());
    MemDisk::UnregisterAll();
}

class BootSector : public ImageFixture {
protected:
    void Ready() {
        ASSERT_EQ(Load(), 1);
        List();
    }
    TempDir host;
};

TEST_F(BootSector, ShortAndLongHostFiles) {
    for (int i = 0; i < 512; ++i)
        disk.Sector(0, 0, 1)[i] = static_cast<std::uint8_t>(i);
    Ready();
    WriteFile(host / "short.bin", std::vector<unsigned char>(100, 0xAA));
    const auto force = CDiskImage::BootWrite::ChangeFormat;
    // Without leave, bytes that change the disk specification are refused.
    ASSERT_EQ(image.WriteBootSector(host / "short.bin"), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::ChangesFormat);
    EXPECT_TRUE(disk.written.empty());
    ASSERT_EQ(image.WriteBootSector(host / "short.bin", force), 1);
    EXPECT_EQ(disk.Sector(0, 0, 1)[99], 0xAA);
    EXPECT_EQ(disk.Sector(0, 0, 1)[100], 100);
    EXPECT_EQ(disk.Sector(0, 0, 1)[511], 511 & 0xFF);
    WriteFile(host / "long.bin", std::vector<unsigned char>(600, 0x55));
    ASSERT_EQ(image.WriteBootSector(host / "long.bin", force), 1);
    EXPECT_EQ(disk.Sector(0, 0, 1)[511], 0x55);
    EXPECT_EQ(disk.Sector(0, 0, 2)[0], 0xE5);
    // The figures stay those of the last load.
    EXPECT_EQ(image.Layout().blockSize, 1024);
}

TEST_F(BootSector, ReadReplacesHostFileWithExactly512Bytes) {
    Ready();
    WriteFile(host / "boot.bin", PatternBytes(2000, 1));
    ASSERT_EQ(image.ReadBootSector(host / "boot.bin"), 1);
    EXPECT_EQ(ReadFile(host / "boot.bin"), std::vector<unsigned char>(512, 0xE5));
    EXPECT_EQ(image.ReadBootSector(host / "absent/boot.bin"), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::HostOpen);
}

TEST_F(BootSector, NoImageTouchesNothing) {
    WriteFile(host / "boot.bin", PatternBytes(512, 1));
    EXPECT_EQ(image.WriteBootSector(host / "boot.bin"), 0);
    EXPECT_EQ(image.ReadBootSector(host / "other.bin"), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::NoImage);
    EXPECT_FALSE(fs::exists(host / "other.bin"));
    EXPECT_TRUE(image.Notices().empty());
}

TEST_F(BootSector, LibraryFailuresShowTheirMessages) {
    Ready();
    WriteFile(host / "boot.bin", PatternBytes(512, 1));
    disk.failWriteAt = disk.writes + 1;
    EXPECT_EQ(image.WriteBootSector(host / "boot.bin", CDiskImage::BootWrite::ChangeFormat), 0);
    EXPECT_EQ(LastText(image), "Unable to write boot sector");
    disk.failReadAt = disk.reads + 1;
    EXPECT_EQ(image.ReadBootSector(host / "saved.bin"), 0);
    EXPECT_EQ(LastText(image), "Unable to read boot sector");
    EXPECT_FALSE(fs::exists(host / "saved.bin"));
}

TEST_F(BootSector, KeepsTheFormatAndNeverWritesADirectorySector) {
    Ready();
    // The same disk specification with other code after it is written.
    std::vector<unsigned char> same(512, 0xE5);
    same[200] = 0xC9;
    WriteFile(host / "same.bin", same);
    EXPECT_EQ(image.WriteBootSector(host / "same.bin"), 1);
    EXPECT_EQ(disk.Sector(0, 0, 1)[200], 0xC9);

    // On a CPC data disk the first sector is the first directory sector.
    MemDisk cpc(40, 1, 9, 0xC1, 512);
    cpc.Register("cpc.dsk");
    ASSERT_EQ(image.LoadImage("cpc.dsk"), 1);
    const std::vector<std::uint8_t> before = cpc.Contents();
    EXPECT_EQ(image.WriteBootSector(host / "same.bin", CDiskImage::BootWrite::ChangeFormat), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::NoBootSector);
    EXPECT_EQ(LastText(image), "This disk has no boot sector");
    EXPECT_EQ(cpc.Contents(), before);
    // The image's handle is this test's disk: closed while it still exists.
    image.CloseImage();
}

TEST_F(BootSector, UnreadableHostFileWritesNothing) {
    Ready();
    EXPECT_EQ(image.WriteBootSector(host.Path().string()), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::HostOpen);
    EXPECT_TRUE(disk.written.empty());
}

} // namespace

namespace {

// A random-access file with a hole: extents 0 and 2, no extent 1. Each
// extent's data lies at its own offset and the hole reads as zeros, as
// cpmcp gives it; two entries for one extent are refused by name.
TEST_F(Extract, HolesAndDuplicateExtents) {
    FillBlock(disk, 2, 'A');
    FillBlock(disk, 3, 'C');
    Put(0, MakeEntry(0, "RANDOM", "DAT", 8, {2}, false, 0));
    Put(1, MakeEntry(0, "RANDOM", "DAT", 8, {3}, false, 2));
    Put(2, MakeEntry(0, "TWICE", "DAT", 8, {4}, false, 0));
    Put(3, MakeEntry(0, "TWICE", "DAT", 8, {5}, false, 0));
    Ready();
    EXPECT_EQ(rows[0].size, 33792u);
    ASSERT_EQ(image.ExtractFile(Folder(), Row(0, "RANDOM  ", "DAT")), 1);
    const auto data = ReadFile(out / "RANDOM  .DAT");
    ASSERT_EQ(data.size(), 33792u);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 1024, 'A'), 1024);
    EXPECT_EQ(std::count(data.begin() + 1024, data.begin() + 32768, 0), 32768 - 1024);
    EXPECT_EQ(std::count(data.begin() + 32768, data.end(), 'C'), 1024);
    EXPECT_EQ(image.ExtractFile(Folder(), Row(0, "TWICE   ", "DAT")), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::DuplicateExtent);
    EXPECT_FALSE(fs::exists(out / "TWICE   .DAT"));
}

} // namespace
