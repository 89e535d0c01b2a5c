// The sector map: where logical sectors lie, and which tracks are not the
// layout's, from the sectors each track of the container lists.

#include "SectorMap.h"
#include "support/DiskBuilder.h"

#include <gtest/gtest.h>

namespace {

ContainerTrack Track(std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> sectors) {
    ContainerTrack track;
    for (const auto& [id, sizeCode] : sectors) {
        track.ids[track.count] = id;
        track.sizeCodes[track.count] = sizeCode;
        ++track.count;
    }
    return track;
}

ContainerTrack NineOf512(std::uint8_t first = 1) {
    ContainerTrack track;
    for (std::uint8_t k = 0; k < 9; ++k) {
        track.ids[k] = static_cast<std::uint8_t>(first + k);
        track.sizeCodes[k] = 2;
    }
    track.count = 9;
    return track;
}

class SectorMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Plus3Figures(map, layout)); // +3 180K
        map.containerTracks.assign(40, NineOf512());
    }
    using Kind = CSectorMap::TrackKind;
    // Blocks of 1K: block b on logical track b * 2 / 9.
    bool On(std::uint16_t block, Kind least) const { return map.BlockOnTrackOfKind(block, 2, least); }

    CSectorMap map;
    DiskLayout layout;
};

TEST_F(SectorMapTest, EveryTrackOfTheLayoutIsTheLayouts) {
    map.SortTracks(layout);
    EXPECT_EQ(map.ForeignTrack(), "");
    for (std::uint16_t b = 0; b < 175; ++b)
        ASSERT_FALSE(On(b, Kind::OtherSectors)) << b;
}

TEST_F(SectorMapTest, TracksAreSortedAndTheFirstNamed) {
    map.containerTracks[3] = Track({{1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}}); // five of 1024
    map.containerTracks[5] = NineOf512();
    map.containerTracks[5].count = 8; // id 9 missing
    map.containerTracks[7] = Track({{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {8, 2},
                                    {9, 2}, {9, 2}}); // id 9 twice: harmless
    map.containerTracks[9] = ContainerTrack{}; // unformatted
    map.SortTracks(layout);
    EXPECT_EQ(map.ForeignTrack(), "track 3 holds 5 sectors of 1024 bytes");
    // Cylinder 3 is logical track 2 (one reserved track): blocks 9 to 13.
    EXPECT_FALSE(On(8, Kind::OtherSectors));
    for (std::uint16_t b = 9; b <= 13; ++b) {
        EXPECT_TRUE(On(b, Kind::OtherSizes)) << b;
    }
    // Cylinder 5, logical track 4, blocks 18 to 22: lacking a sector, readable.
    EXPECT_TRUE(On(19, Kind::OtherSectors));
    EXPECT_FALSE(On(19, Kind::OtherSizes));
    EXPECT_FALSE(On(28, Kind::OtherSectors)); // cylinder 7
    EXPECT_TRUE(On(37, Kind::OtherSectors));  // cylinder 9
}

TEST_F(SectorMapTest, SidesAndSuccessiveOrder) {
    map.cylinders = 80;
    map.heads = 2;
    std::vector<std::uint8_t> boot(512, 0xE5);
    const std::uint8_t successive[] = {3, 0x82, 80, 9, 2, 1, 4, 4};
    std::copy(std::begin(successive), std::end(successive), boot.begin());
    ASSERT_TRUE(DeriveLayout({80, 2, 9, 512, 1, {}}, boot.data(), layout));
    // Side 0 outwards from the reserved track, then side 1 back in.
    const SectorAddress first = map.AddressOf(0, layout);
    EXPECT_EQ(first.cylinder, 1);
    EXPECT_EQ(first.head, 0);
    EXPECT_EQ(first.sector, 1);
    const SectorAddress turn = map.AddressOf(79 * 9 + 4, layout);
    EXPECT_EQ(turn.cylinder, 79);
    EXPECT_EQ(turn.head, 1);
    EXPECT_EQ(turn.sector, 5);
    map.containerTracks.assign(160, NineOf512());
    map.containerTracks[79 * 2 + 1] = Track({{1, 2}});
    map.SortTracks(layout);
    EXPECT_EQ(map.ForeignTrack(), "track 79 side 1 holds 1 sectors of 512 bytes");
}

} // namespace
