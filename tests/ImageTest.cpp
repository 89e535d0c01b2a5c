// Opening images: parameters derived from the boot sector, refused formats,
// failures of the library, and the geometry report.

#include "support/DiskBuilder.h"

#include <optional>

namespace {

class BlankImage : public ImageFixture {};

// The geometry report as the user is shown it.
std::string ShownGeometry(CDiskImage& image) {
    image.ShowGeometry();
    return LastText(image);
}

// A small file stored: what any change of the directory needs.
int StoreOne(CDiskImage& image) {
    return image.ImportData({Id(0, "NEW     ", "TXT")}, std::vector<std::uint8_t>(10, 1));
}

TEST_F(BlankImage, AllE5BootSectorGetsFortyCylinderDefaults) {
    ASSERT_EQ(Load(), 1);
    EXPECT_TRUE(image.IsOpen());
    EXPECT_EQ(image.Layout().blockSize, 1024);
    EXPECT_EQ(image.Layout().sectorsPerBlock, 2);
    EXPECT_EQ(image.Layout().directoryBlocks, 2);
    EXPECT_EQ(image.Layout().totalBlocks, 180);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Type], 0);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Sides], 0);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::ReservedTracks], 1);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::TracksPerSide], 40);
    // Bytes that are not replaced keep what was read.
    EXPECT_EQ(image.Layout().spec.bytes[3], 0xE5);
    EXPECT_EQ(image.Volume().GetCapacity(), 180u * 1024);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 0u);
    EXPECT_TRUE(image.Notices().empty());
}

// LibDsk's guess from the boot sector can name a first sector id that the
// disk does not start at; the walks go by the ids the track holds.
TEST_F(BlankImage, FirstSectorIdComesFromTheTrack) {
    disk.geometry.dg_secbase = 2;
    const DirEntry entry = MakeEntry(0, "HELLO", "TXT", 8, {2});
    std::memcpy(disk.Logical(1, 0), &entry, sizeof entry);
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Map().firstSectorId, 1);
    EXPECT_EQ(image.Map().dataFirstSectorId, 1);
    EXPECT_EQ(List().size(), 1u);
}

TEST_F(BlankImage, GeometryReportOfBlankImage) {
    ASSERT_EQ(Load(), 1);
    image.ShowGeometry();
    ASSERT_EQ(image.Notices().size(), 1u);
    EXPECT_EQ(image.Notices()[0].icon, MessageIcon::None); // a report, not a failure
    // What the user reads in it: this image and its figures.
    const std::string report = image.Notices()[0].text;
    for (const char* line :
         {"Image name\t: mem.dsk", "Image type\t: PCW SS SD (+3)", "Image format\t: Single Sided",
          "Cylinders\t\t: 40", "Sectors per Block\t: 2", "Reserved Tracks\t: 1",
          "Total Blocks\t: 180"})
        EXPECT_NE(report.find(line), std::string::npos) << line;
}

TEST_F(BlankImage, ReportBeforeAnyImageShowsZeros) {
    const std::string report = ShownGeometry(image);
    EXPECT_NE(report.find("Image name\t:  \r\n"), std::string::npos);
    EXPECT_NE(report.find("Total Blocks\t: 0\r\n"), std::string::npos);
}

TEST_F(BlankImage, ReportAfterCloseKeepsLastImage) {
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.CloseImage(), 1);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_NE(ShownGeometry(image).find("mem.dsk"), std::string::npos);
    EXPECT_NE(ShownGeometry(image).find("Total Blocks\t: 180"), std::string::npos);
}

TEST_F(BlankImage, TracksPerSideFortyToEightyIsValid) {
    for (std::uint8_t tracks : {39, 40, 80, 81}) {
        SetSpec(disk, {0, 0, tracks, 9, 2, 1, 4, 3});
        ASSERT_EQ(Load(), 1);
        const bool valid = tracks >= 40 && tracks <= 80;
        EXPECT_EQ(image.Layout().blockSize, valid ? 2048 : 1024) << int{tracks};
        EXPECT_EQ(image.Layout().directoryBlocks, valid ? 3 : 2) << int{tracks};
        EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::TracksPerSide], valid ? tracks : 40);
    }
}

TEST_F(BlankImage, ValidSpecBlockShiftsGiveBlockSizes) {
    SetSpec(disk, kPlus3Spec);
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Layout().blockSize, 1024);
    EXPECT_EQ(image.Layout().sectorsPerBlock, 2);
    // The total counts the reserved track too.
    EXPECT_EQ(image.Layout().totalBlocks, 180);
    SetSpec(disk, {0, 0, 40, 9, 2, 1, 4, 2});
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Layout().blockSize, 2048);
    EXPECT_EQ(image.Layout().sectorsPerBlock, 4);
    EXPECT_EQ(image.Layout().totalBlocks, 90);
}

TEST_F(BlankImage, DirectoryEntriesPassTheValidityTestByByteTwo) {
    // A boot sector holding anything with byte 2 in 40..80 is taken as a spec.
    SetSpec(disk, {0, 'R', 'O', 'M', 2, 1, 3, 2});
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::TracksPerSide], 'O');
}

TEST_F(BlankImage, OpeningSecondImageClosesFirst) {
    MemDisk other(40, 1, 9, 1, 512);
    other.Register("other.dsk");
    ASSERT_EQ(Load(), 1);
    ASSERT_EQ(image.LoadImage("other.dsk"), 1);
    EXPECT_EQ(disk.closes, disk.opens); // no handle left on the first
    EXPECT_EQ(image.ImagePath(), "other.dsk");
    // The image's handle is this test's disk: closed while it still exists.
    image.CloseImage();
}

TEST_F(BlankImage, OpenRefusedShowsMessageAndLeavesNothingOpen) {
    disk.failOpen = true;
    EXPECT_EQ(Load(), 0);
    EXPECT_FALSE(image.IsOpen());
    ASSERT_EQ(image.Notices().size(), 1u);
    EXPECT_EQ(image.Notices()[0].text, "Unable to load disk image");
    EXPECT_EQ(image.Notices()[0].caption, "ERROR");
    EXPECT_EQ(image.Notices()[0].icon, MessageIcon::Error);
    EXPECT_EQ(image.ImagePath(), "mem.dsk");
}

TEST_F(BlankImage, GeometryAndBootSectorFailuresLeaveNothingOpen) {
    ASSERT_EQ(Load(), 1);
    disk.failGeometry = true;
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(LastText(image), "Unable to fetch disk geometry");
    EXPECT_FALSE(image.IsOpen());
    disk.failGeometry = false;
    disk.unreadable.insert({0, 0, 1});
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(LastText(image), "Unable to read boot sector");
    EXPECT_FALSE(image.Notices().back().cause.empty()); // the library's words
    EXPECT_FALSE(image.IsOpen());
    EXPECT_FALSE(image.IsMapped());
    Catalogue list;
    ClearCatalogue(list);
    image.ReadCatalogue(list);
    EXPECT_EQ(CatalogueLength(list), 0u);
    EXPECT_EQ(StoreOne(image), 0);
    EXPECT_TRUE(disk.written.empty());
}

TEST_F(BlankImage, MissingLibraryFailsLikeARefusal) {
    TestOwner empty{DiskLibraryTable{}};
    CDiskImage lonely(&empty);
    EXPECT_EQ(lonely.LoadImage(kPath), 0);
    EXPECT_EQ(LastText(lonely), "Unable to load disk image");
    EXPECT_FALSE(lonely.IsOpen());
    Catalogue list;
    ClearCatalogue(list);
    EXPECT_EQ(lonely.ReadCatalogue(list), 1);
    EXPECT_EQ(CatalogueLength(list), 0u);
    EXPECT_EQ(StoreOne(lonely), 0);
    EXPECT_EQ(lonely.LastStatus().reason, FailReason::NoImage);
    EXPECT_EQ(disk.opens, 0u);
}

TEST(TrackMapping, OneReservedTrackTwoHeads) {
    MemDisk disk(80, 2, 9, 1, 512);
    disk.Register("ds.dsk");
    TestOwner owner;
    CDiskImage image(&owner);
    ASSERT_EQ(image.LoadImage("ds.dsk"), 1);
    EXPECT_EQ(image.Map().CylinderOfTrack(0, image.Layout()), 0);
    EXPECT_EQ(image.Map().HeadOfTrack(0, image.Layout()), 1);
    EXPECT_EQ(image.Map().CylinderOfTrack(1, image.Layout()), 1);
    EXPECT_EQ(image.Map().HeadOfTrack(1, image.Layout()), 0);
    MemDisk::UnregisterAll();
}

TEST(TrackMapping, OneHeadAddsReservedTracks) {
    MemDisk disk(40, 1, 9, 1, 512);
    disk.Register("ss.dsk");
    TestOwner owner;
    CDiskImage image(&owner);
    ASSERT_EQ(image.LoadImage("ss.dsk"), 1);
    EXPECT_EQ(image.Map().CylinderOfTrack(5, image.Layout()), 6);
    EXPECT_EQ(image.Map().HeadOfTrack(5, image.Layout()), 0);
    MemDisk::UnregisterAll();
}

class OtherGeometries : public ::testing::Test {
protected:
    ~OtherGeometries() override { MemDisk::UnregisterAll(); }
    // The test's disk: kept by the fixture, so that the image (declared
    // after it) closes its handle before the disk goes.
    template <typename... Args> MemDisk& Disk(Args&&... args) {
        image.CloseImage();
        return m_Disk.emplace(std::forward<Args>(args)...);
    }
    int Open(MemDisk& disk) {
        disk.Register("g.dsk");
        return image.LoadImage("g.dsk");
    }
    std::optional<MemDisk> m_Disk;
    TestOwner owner;
    CDiskImage image{&owner};
};

// A single-sided disk without a specification is a 180K one whatever its
// track count: the 720K set's directory would lie over its files.
TEST_F(OtherGeometries, FortyTwoSingleSidedCylindersGetTheSingleSidedSet) {
    MemDisk& disk = Disk(42, 1, 9, 1, 512);
    ASSERT_EQ(Open(disk), 1);
    EXPECT_EQ(image.Layout().blockSize, 1024);
    EXPECT_EQ(image.Layout().sectorsPerBlock, 2);
    EXPECT_EQ(image.Layout().directoryBlocks, 2);
    EXPECT_EQ(image.Layout().totalBlocks, 180);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Type], 0);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Sides], 0x00);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::TracksPerSide], 42);
}

TEST_F(OtherGeometries, EightyByTwoWithoutSpecReportsDoubleSided) {
    MemDisk& disk = Disk(80, 2, 9, 1, 512);
    ASSERT_EQ(Open(disk), 1);
    const std::string report = ShownGeometry(image);
    EXPECT_NE(report.find("Image type\t: PCW DS DD\r\n"), std::string::npos);
    EXPECT_NE(report.find("Image format\t: Double Sided Alternate, Double Density\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("Tracks per Side\t: 40\r\n"), std::string::npos);
}

TEST_F(OtherGeometries, CpcSystemFormatIsRecognisedByFirstSectorId) {
    MemDisk& disk = Disk(40, 1, 9, 0x41, 512);
    SetSpec(disk, {0xF3, 0x31, 0x00});
    // Directory on track 2 (two reserved tracks), sectors 0x41 onwards.
    PutEntry(disk, 2, 0, MakeEntry(0, "DISC", "BAS", 5, {2}));
    PutEntry(disk, 2, 17, MakeEntry(0, "LOGO1", "BIN", 42, {3, 4, 5}));
    ASSERT_EQ(Open(disk), 1);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Type], 1);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::ReservedTracks], 2);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Sides], 0);
    EXPECT_EQ(image.Layout().blockSize, 1024);
    EXPECT_EQ(image.Layout().directoryBlocks, 2);
    EXPECT_EQ(image.Layout().totalBlocks, 180);
    EXPECT_NE(ShownGeometry(image).find("CPC System SS SD"), std::string::npos);
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    ASSERT_EQ(CatalogueLength(rows), 2u);
    EXPECT_EQ(ShownFileName(rows[0]), "DISC.BAS");
    EXPECT_EQ(rows[1].size, 42u * 128);
    EXPECT_EQ(image.Volume().GetUsedSpace(), 4u * 1024);
}

TEST_F(OtherGeometries, CpcDataFormatHasNoReservedTracks) {
    MemDisk& disk = Disk(40, 1, 9, 0xC1, 512);
    // The first directory sector passes the 40..80 test; it must not be used.
    PutEntry(disk, 0, 0, MakeEntry(0, "DISKEDIT", "BAS", 57, {2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_EQ(Open(disk), 1);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::Type], 2);
    EXPECT_EQ(image.Layout().spec.bytes[DiskSpec::ReservedTracks], 0);
    EXPECT_EQ(image.Layout().blockSize, 1024);
    EXPECT_NE(ShownGeometry(image).find("CPC Data SS SD"), std::string::npos);
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    ASSERT_EQ(CatalogueLength(rows), 1u);
    EXPECT_EQ(rows[0].size, 57u * 128);
}

struct Unmappable {
    const char* what;
    unsigned cylinders, heads, sectors, sectorSize;
    std::initializer_list<std::uint8_t> spec;
};

TEST_F(OtherGeometries, UnmappableFormatsAreRefused) {
    const Unmappable cases[] = {
        {"no heads", 40, 0, 9, 512, {}},
        {"three heads", 40, 3, 9, 512, {}},
        {"no sectors", 40, 1, 0, 512, {}},
        {"1024-byte sectors", 40, 1, 9, 1024, {}},
        {"4096-byte sectors", 40, 1, 2, 4096, {}},
        {"block shift 8", 40, 1, 9, 512, {0, 0, 40, 9, 2, 1, 8, 2}},
        {"block shift 9", 40, 1, 9, 512, {0, 0, 40, 9, 2, 1, 9, 2}},
        {"block smaller than sector", 40, 1, 9, 512, {0, 0, 40, 9, 2, 1, 1, 2}},
        {"directory over 1024 entries", 80, 2, 9, 512, {3, 0x81, 80, 9, 2, 1, 4, 17}},
        {"256-byte sectors with default blocks", 40, 1, 16, 256, {}},
    };
    for (const Unmappable& c : cases) {
        MemDisk& disk = Disk(c.cylinders, std::max(c.heads, 1u), std::max(c.sectors, 1u), 1,
                     c.sectorSize);
        disk.geometry.dg_heads = c.heads;
        disk.geometry.dg_sectors = c.sectors;
        if (c.spec.size() != 0)
            SetSpec(disk, c.spec);
        image.TakeNotices();
        EXPECT_EQ(Open(disk), 0) << c.what;
        EXPECT_FALSE(image.IsOpen()) << c.what;
        EXPECT_EQ(LastText(image), "Unsupported disk format") << c.what;
        EXPECT_EQ(disk.closes, disk.opens) << c.what;
    }
}

TEST_F(OtherGeometries, DirectoryOfExactly1024EntriesIsAccepted) {
    MemDisk& disk = Disk(80, 2, 9, 1, 512);
    SetSpec(disk, {3, 0x81, 80, 9, 2, 1, 4, 16});
    ASSERT_EQ(Open(disk), 1);
    EXPECT_EQ(image.Volume().DirectoryEntries(), 1024u);
}

TEST_F(OtherGeometries, SmallerSectorsWithMatchingSpecWork) {
    MemDisk& disk = Disk(40, 1, 16, 1, 256);
    SetSpec(disk, {0, 0, 40, 16, 1, 1, 3, 2});
    ASSERT_EQ(Open(disk), 1);
    EXPECT_EQ(image.Layout().sectorsPerBlock, 4);
    EXPECT_EQ(image.Volume().DirectoryEntries(), 64u);
}

TEST_F(OtherGeometries, UnreadableDirectorySectorKeepsImageOpenForReading) {
    MemDisk& disk = Disk(40, 1, 9, 1, 512);
    PutEntry(disk, 1, 0, MakeEntry(0, "FIRST", "BIN", 8, {2}));
    PutEntry(disk, 1, 16, MakeEntry(0, "LOST", "BIN", 8, {3}));
    PutEntry(disk, 1, 32, MakeEntry(0, "THIRD", "BIN", 8, {4}));
    disk.unreadable.insert({1, 0, 2}); // entries 16..31
    EXPECT_EQ(Open(disk), 0);
    EXPECT_EQ(LastText(image), "Unable to read directory");
    EXPECT_EQ(image.Notices().back().icon, MessageIcon::Error);
    EXPECT_TRUE(image.IsOpen());
    EXPECT_TRUE(image.IsReadOnly());
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    ASSERT_EQ(CatalogueLength(rows), 2u);
    EXPECT_EQ(ShownFileName(rows[0]), "FIRST.BIN");
    EXPECT_EQ(ShownFileName(rows[1]), "THIRD.BIN");
    const unsigned writesBefore = disk.writes;
    EXPECT_EQ(StoreOne(image), 0);
    EXPECT_EQ(image.LastStatus().reason, FailReason::ReadOnly);
    EXPECT_EQ(disk.writes, writesBefore);
    // A later good load lifts the restriction.
    disk.unreadable.clear();
    EXPECT_EQ(Open(disk), 1);
    EXPECT_FALSE(image.IsReadOnly());
}

} // namespace
