#pragma once
// Where the file system's sectors lie on the disk: the disk's figures as it
// really has them (cylinders and heads from the container, sector ids as
// the tracks hold them), the mapping of logical sectors to cylinder, head
// and sector id, and the tracks that do not hold the sectors the layout
// reads (a disk with a format of its own on some tracks).

#include "DiskLibraryTable.h"
#include "Layout.h"

#include <cstdint>
#include <string>
#include <vector>

struct SectorAddress {
    std::uint16_t cylinder;
    std::uint8_t head;
    std::uint16_t sector;
};

class CSectorMap {
public:
    std::uint16_t cylinders = 0;
    std::uint8_t heads = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t sectorSize = 0;
    // The first sector id of cylinder 0, head 0 (the boot sector's), and of
    // the first data track (where the directory and block walks count from).
    std::uint16_t firstSectorId = 0;
    std::uint16_t dataFirstSectorId = 0;
    // The cylinders and heads the container holds (0 when it does not
    // say): LibDsk guesses them from the boot sector.
    unsigned containerCylinders = 0;
    unsigned containerHeads = 0;
    // The sectors each track of the container holds (cylinder * heads +
    // head); empty when the container does not list them.
    std::vector<ContainerTrack> containerTracks;
    // 2 for a double-stepped dump (IsDoubleStepped): the disk's cylinder c
    // is the container's cylinder 2c (and 2c + 1, its second reading, if
    // any). Everything above counts the disk's cylinders but
    // containerCylinders, which counts the container's.
    unsigned stepping = 1;
    // For a double-stepped dump, the disk's tracks (cylinder * heads + head)
    // whose second reading the container holds.
    std::vector<bool> secondReadings;
    bool HasSecondReading(std::uint16_t cylinder, std::uint8_t head) const {
        const std::size_t index = std::size_t{cylinder} * heads + head;
        return index < secondReadings.size() && secondReadings[index];
    }

    // Logical sector L lies on logical track L / sectors per track, at sector
    // id data first id + L % sectors per track; logical tracks follow the
    // reserved tracks, sides taken in turn, or (successive sides, as +3DOS
    // runs them) side 0 outwards, then side 1 back from the last cylinder.
    SectorAddress AddressOf(std::uint32_t logical, const DiskLayout& layout) const;
    // Where logical track `track` lies; 0 while no geometry is known.
    int CylinderOfTrack(std::uint16_t track, const DiskLayout& layout) const {
        return AddressOfTrack(track + std::uint32_t{layout.reservedTracks}, layout).cylinder;
    }
    int HeadOfTrack(std::uint16_t track, const DiskLayout& layout) const {
        return AddressOfTrack(track + std::uint32_t{layout.reservedTracks}, layout).head;
    }
    // Where the disk's track `absolute` lies, counting the reserved tracks
    // (sector 0 in the answer).
    SectorAddress AddressOfTrack(std::uint32_t absolute, const DiskLayout& layout) const;

    // Sorts the data tracks of the layout: Layout, holding every sector the
    // layout reads and only sectors of its size; OtherSectors, lacking one
    // (never written: not free space); OtherSizes, holding sectors of
    // another size (not read either: LibDsk might hand back what is not
    // the file's, and writes rewrite the track whole).
    enum class TrackKind : std::uint8_t { Layout, OtherSectors, OtherSizes };
    // A track of the container, whose run of the layout's sectors starts at
    // `firstId`.
    TrackKind KindOfTrack(const ContainerTrack& track, std::uint16_t firstId) const;
    void SortTracks(const DiskLayout& layout);
    // The block lies on a track of at least that kind.
    bool BlockOnTrackOfKind(std::uint16_t block, std::uint16_t sectorsPerBlock,
                            TrackKind least) const;
    // The first track not of the layout, described ("track 3 holds 5 sectors
    // of 1024 bytes"); empty when every track is the layout's.
    const std::string& ForeignTrack() const { return m_strForeignTrack; }

private:
    std::vector<TrackKind> m_TrackKinds; // per logical data track
    std::string m_strForeignTrack;
};
