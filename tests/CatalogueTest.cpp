// The catalogue: one row per name and type, sizes from record counts, and
// how the rows are shown.

#include "support/DiskBuilder.h"
#include "support/HostTools.h"

namespace {

class CatalogueRows : public ImageFixture {};

TEST_F(CatalogueRows, EmptyDirectoryEndsAtRowZero) {
    ASSERT_EQ(Load(), 1);
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(rows[0].name[0], 0);
    EXPECT_EQ(rows[0].size, 0u);
}

TEST_F(CatalogueRows, SizeIsRecordsTimes128OverAllEntries) {
    Put(0, MakeEntry(0, "BIG", "BIN", 128, {2}, false, 0));
    Put(1, MakeEntry(0, "BIG", "BIN", 128, {3}, false, 1));
    Put(2, MakeEntry(0, "BIG", "BIN", 5, {4}, false, 2));
    Put(3, MakeEntry(0, "EMPTY", "", 0));
    ASSERT_EQ(Load(), 1);
    ASSERT_EQ(List(), (std::vector<std::string>{"BIG.BIN", "EMPTY"}));
    EXPECT_EQ(rows[0].size, 261u * 128);
    EXPECT_EQ(rows[1].size, 0u);
}

TEST_F(CatalogueRows, SameNameUnderTwoUsersIsTwoFiles) {
    Put(1, MakeEntry(1, "SHARED", "BAS", 3));
    Put(3, MakeEntry(0, "SHARED", "BAS", 4));
    ASSERT_EQ(Load(), 1);
    ASSERT_EQ(List().size(), 2u);
    EXPECT_EQ(rows[0].user, 1);
    EXPECT_EQ(rows[0].size, 3u * 128);
    EXPECT_EQ(rows[1].user, 0);
    EXPECT_EQ(rows[1].size, 4u * 128);
}

TEST_F(CatalogueRows, OutOfOrderExtentsArePlacedByFirstEntry) {
    Put(0, MakeEntry(0, "OTHER", "", 1));
    Put(1, MakeEntry(0, "SPLIT", "", 2, {}, false, 1));
    Put(2, MakeEntry(0, "SPLIT", "", 128, {}, false, 0));
    ASSERT_EQ(Load(), 1);
    ASSERT_EQ(List(), (std::vector<std::string>{"OTHER", "SPLIT"}));
    EXPECT_EQ(rows[1].size, 130u * 128);
}

TEST_F(CatalogueRows, EntriesThatAreNotLiveAreNeitherListedNorCounted) {
    Put(0, MakeEntry(0, "REAL", "", 1));
    for (unsigned user = 32; user < 0x100; user += 37)
        Put(1 + user % 60, MakeEntry(static_cast<std::uint8_t>(user), "REAL", "", 100));
    Put(62, MakeEntry(0xE5, "REAL", "", 100));
    ASSERT_EQ(Load(), 1);
    ASSERT_EQ(List().size(), 1u);
    EXPECT_EQ(rows[0].size, 128u);
}

TEST_F(CatalogueRows, RowsLeftFromAnEarlierListingHideNothing) {
    Put(0, MakeEntry(0, "A", "", 1));
    Put(1, MakeEntry(0, "B", "", 1));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(List().size(), 2u);
    EXPECT_EQ(List().size(), 2u);
    image.ReadCatalogue(rows); // not cleared first
    EXPECT_EQ(CatalogueLength(rows), 2u);
}

// An entry whose name holds bytes no name has is damage, reported at load,
// not a file; it hides nothing after it.
TEST_F(CatalogueRows, EntryWithAnInvalidNameIsDamageNotAFile) {
    DirEntry damaged = MakeEntry(0, "XBROKEN", "BIN", 1, {2});
    damaged.name[0] = 0;
    Put(0, MakeEntry(0, "FIRST", "", 1, {3}));
    Put(1, damaged);
    Put(2, MakeEntry(0, "AFTER", "TXT", 2, {4}));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(LastText(image), "Damaged directory: an entry has an invalid name");
    EXPECT_EQ(List(), (std::vector<std::string>{"FIRST", "AFTER.TXT"}));
    EXPECT_EQ(rows[1].size, 256u);
    EXPECT_FALSE(image.Volume().IsBlockFree(2)); // still in use: nothing is written over it
    TempDir out;
    EXPECT_EQ(image.ExtractFile(out.Path().string(), rows[1]), 1);
}

// Free is what can be allocated: not the directory, not the blocks past the
// last track; used and maximum keep their figures (as CAT shows them).
TEST_F(CatalogueRows, FreeSpaceIsWhatCanBeAllocated) {
    ASSERT_EQ(Load(), 1);
    const SpaceFigures blank = ComputeSpaceFigures(
        image.Volume().GetUsedSpace(), image.Volume().GetCapacity(), image.Volume().GetFreeSpace());
    EXPECT_EQ(blank.used, "0 KB");
    EXPECT_EQ(blank.maximum, "180 KB");
    EXPECT_EQ(blank.free, "173 KB");
    // Blocks 2..174 taken: nothing is free, and nothing can be found.
    unsigned index = 0;
    for (unsigned b = 2; b < 175; b += 16, ++index) {
        DirEntry e = MakeEntry(0, "F" + std::to_string(index), "", 128);
        for (unsigned k = 0; k < 16 && b + k < 175; ++k)
            e.blocks[k] = static_cast<std::uint8_t>(b + k);
        Put(index, e);
    }
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Volume().GetFreeSpace(), 0u);
    std::uint16_t block;
    EXPECT_EQ(image.Volume().FindFreeBlock(block), 0);
}

class FullCatalogue : public ImageFixture {
  protected:
    FullCatalogue() : ImageFixture(80, 2, 9, 1, 512) {
        SetSpec(disk, {3, 0x81, 80, 9, 2, 1, 4, 16});
    }
};

TEST_F(FullCatalogue, ThousandTwentyFourFilesStillEndWithTerminatingRow) {
    for (unsigned i = 0; i < 1024; ++i)
        PutEntry(disk, 1, i, MakeEntry(0, "F" + std::to_string(i), "", 1));
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(List().size(), 1024u);
    EXPECT_EQ(rows[1024].name[0], 0);
    EXPECT_EQ(ShownFileName(rows[1023]), "F1023");
}

TEST(CatalogueView, SizeColumnFormat) {
    EXPECT_EQ(FormatSize(0), "0 Bytes");
    EXPECT_EQ(FormatSize(1023), "1023 Bytes");
    EXPECT_EQ(FormatSize(1024), "1 KB");
    EXPECT_EQ(FormatSize(2047), "1 KB");
    EXPECT_EQ(FormatSize(89088), "87 KB");
}

TEST(CatalogueView, ShownNamesClearAttributeBits) {
    FileEntry row;
    std::memcpy(row.name, "README  ", 8);
    std::memcpy(row.type, "TXT", 3);
    row.name[0] |= 0x80;
    row.type[1] |= 0x80;
    EXPECT_EQ(ShownField(row.name, 8), "README  ");
    EXPECT_EQ(ShownField(row.type, 3), "TXT");
    EXPECT_EQ(ShownFileName(row), "README.TXT");
    std::memcpy(row.type, "   ", 3);
    EXPECT_EQ(ShownFileName(row), "README");
}

} // namespace
