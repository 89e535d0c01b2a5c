// The file system on its own, over plain memory: no image, no library, no
// saving. What it writes must read back, and a change that fails half-way
// must leave the sectors, the directory and the map exactly as they were.

#include "CpmVolume.h"
#include "support/DiskBuilder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The data area of a +3 disk as logical sectors in memory; writes fail from
// the `failWritesFrom`th one on, when set.
class MemorySectors : public ILogicalSectors {
  public:
    static constexpr std::size_t kSectorSize = 512;
    explicit MemorySectors(std::size_t sectors) : bytes(sectors * kSectorSize, 0xE5) {}
    int ReadLogical(std::uint32_t logical, std::uint8_t* buffer) override {
        if ((logical + 1) * kSectorSize > bytes.size())
            return DSK_ERR_NOADDR;
        std::copy_n(bytes.begin() + logical * kSectorSize, kSectorSize, buffer);
        return DSK_ERR_OK;
    }
    int WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) override {
        if ((logical + 1) * kSectorSize > bytes.size() ||
            (failWritesFrom != 0 && ++writes >= failWritesFrom))
            return DSK_ERR_DATAERR;
        std::copy_n(buffer, kSectorSize, bytes.begin() + logical * kSectorSize);
        return DSK_ERR_OK;
    }
    std::vector<std::uint8_t> bytes;
    unsigned writes = 0;
    unsigned failWritesFrom = 0;
};

class Volume : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Plus3Figures(map, layout));
        map.SortTracks(layout);
        ASSERT_EQ(volume.Mount(layout, true), 0);
    }
    std::vector<std::string> Listed() const {
        Catalogue rows;
        volume.List(rows);
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < rows.count; ++i)
            shown.push_back(FileId::Of(rows[i]).Shown() + " " + std::to_string(rows[i].size));
        return shown;
    }
    std::vector<std::uint8_t> Read(const FileId& file) {
        std::vector<std::uint8_t> data;
        const Status read = volume.ReadFile(file, [&](const std::uint8_t* bytes, std::size_t size) {
            data.insert(data.end(), bytes, bytes + size);
            return true;
        });
        EXPECT_FALSE(read.Failed()) << read.Text();
        return data;
    }

    MemorySectors sectors{39 * 9};
    CSectorMap map;
    DiskLayout layout;
    CCpmVolume volume{sectors, map};
};

TEST_F(Volume, WhatItWritesReadsBackAndNamesMoveWithTheirFiles) {
    std::vector<std::uint8_t> data(3000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    const FileId hello = Id(0, "HELLO   ", "TXT");
    ASSERT_FALSE(volume.WriteFile(hello, data, false).Failed());
    EXPECT_EQ(Listed(), (std::vector<std::string>{"0:HELLO.TXT 3072"}));
    std::vector<std::uint8_t> expected = data;
    expected.resize(3072, 0x1A); // the last record filled out as CP/M fills it
    EXPECT_EQ(Read(hello), expected);
    EXPECT_EQ(volume.WriteFile(hello, data, false).reason, FailReason::FileExists);

    const FileId play = Id(3, "PLAY    ", "COM");
    ASSERT_FALSE(volume.Rename(hello, play).Failed());
    EXPECT_EQ(Listed(), (std::vector<std::string>{"3:PLAY.COM 3072"}));
    EXPECT_EQ(volume.ReadFile(hello, [](const std::uint8_t*, std::size_t) { return true; }).reason,
              FailReason::FileNotFound);
    EXPECT_EQ(Read(play), expected);

    // What a fresh volume reads from the same sectors is what this one wrote.
    CCpmVolume again{sectors, map};
    ASSERT_EQ(again.Mount(layout, true), 0);
    Catalogue rows;
    again.List(rows);
    ASSERT_EQ(rows.count, 1u);
    EXPECT_EQ(FileId::Of(rows[0]), play);
    EXPECT_EQ(again.GetUsedSpace(), volume.GetUsedSpace());

    ASSERT_FALSE(volume.Erase(play).Failed());
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(volume.GetUsedSpace(), 0u);
}

TEST_F(Volume, AFileStartsInItsLowestExtentWhereverThatEntryLies) {
    std::vector<std::uint8_t> big(20000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 13 + i / 512);
    ASSERT_FALSE(volume.WriteFile(Id(0, "BIG     ", "BIN"), big, false).Failed());
    ASSERT_FALSE(
        volume.WriteFile(Id(2, "SMALL   ", "   "), std::vector<std::uint8_t>(100, 9), false).Failed());
    // CP/M leaves a file's entries in any order: its second extent first.
    ASSERT_EQ(CpmEntry::RawExtent(&sectors.bytes[0]), 0u);
    ASSERT_EQ(CpmEntry::RawExtent(&sectors.bytes[kDirEntrySize]), 1u);
    std::swap_ranges(sectors.bytes.begin(), sectors.bytes.begin() + kDirEntrySize,
                     sectors.bytes.begin() + kDirEntrySize);

    CCpmVolume again{sectors, map};
    ASSERT_EQ(again.Mount(layout, true), 0);
    Catalogue listed;
    again.List(listed);
    std::vector<FileEntry> rows(listed.begin(), listed.begin() + static_cast<long>(listed.count));
    ASSERT_EQ(rows.size(), 2u);
    FileEntry absent = rows[1];
    absent.user = 5;
    rows.push_back(absent);
    const auto starts = again.FileStarts(rows);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0], std::vector<std::uint8_t>(big.begin(), big.begin() + 512));
    // No more than the file holds: its one record, padded.
    std::vector<std::uint8_t> small(128, 0x1A);
    std::fill_n(small.begin(), 100, 9);
    EXPECT_EQ(starts[1], small);
    EXPECT_TRUE(starts[2].empty());
}

TEST_F(Volume, AChangeThatFailsLeavesSectorsDirectoryAndMapAsTheyWere) {
    ASSERT_FALSE(
        volume.WriteFile(Id(0, "KEEP    ", "BIN"), std::vector<std::uint8_t>(5000, 1), false)
            .Failed());
    const std::vector<std::uint8_t> disk = sectors.bytes;
    const std::vector<std::uint8_t> directory(volume.DirectoryBuffer(),
                                              volume.DirectoryBuffer() + kDirBufferSize);
    const std::uint32_t used = volume.GetUsedSpace();
    // The new file's blocks go out, then its directory sector fails: the
    // blocks it took are free again and nothing else moved.
    for (unsigned failAt : {1u, 2u, 7u, 12u, 13u}) {
        sectors.writes = 0;
        sectors.failWritesFrom = failAt;
        const Status status =
            volume.WriteFile(Id(0, "NEW     ", "BIN"), std::vector<std::uint8_t>(6000, 2), false);
        EXPECT_EQ(status.reason, FailReason::DiskWrite) << failAt;
        EXPECT_EQ(std::vector<std::uint8_t>(volume.DirectoryBuffer(),
                                            volume.DirectoryBuffer() + kDirBufferSize),
                  directory)
            << failAt;
        EXPECT_EQ(volume.GetUsedSpace(), used) << failAt;
        EXPECT_EQ(Listed(), (std::vector<std::string>{"0:KEEP.BIN 5120"})) << failAt;
    }
    sectors.failWritesFrom = 0;
    // Blocks written before the failure hold the failed file's data, but
    // they are free: the directory region itself is untouched.
    const std::size_t directoryBytes = std::size_t{layout.directoryBlocks} * layout.blockSize;
    EXPECT_TRUE(std::equal(disk.begin(), disk.begin() + static_cast<long>(directoryBytes),
                           sectors.bytes.begin()));
    sectors.failWritesFrom = 1;
    sectors.writes = 0;
    EXPECT_EQ(volume.Erase(Id(0, "KEEP    ", "BIN")).reason, FailReason::DiskWrite);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"0:KEEP.BIN 5120"}));
    EXPECT_EQ(volume.GetUsedSpace(), used);
}

} // namespace
