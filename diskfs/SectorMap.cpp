#include "SectorMap.h"

#include <algorithm>

SectorAddress CSectorMap::AddressOf(std::uint32_t logical, const DiskLayout& layout) const {
    SectorAddress at = AddressOfTrack(logical / sectorsPerTrack + layout.reservedTracks, layout);
    at.sector = static_cast<std::uint16_t>(dataFirstSectorId + logical % sectorsPerTrack);
    return at;
}

SectorAddress CSectorMap::AddressOfTrack(std::uint32_t absolute, const DiskLayout& layout) const {
    if (heads == 0)
        return {};
    if (layout.sides == SideOrder::FirstSide)
        return {static_cast<std::uint16_t>(absolute), 0, 0};
    if (layout.sides == SideOrder::Successive && heads == 2) {
        const std::uint32_t perSide = cylinders;
        if (absolute < perSide)
            return {static_cast<std::uint16_t>(absolute), 0, 0};
        return {static_cast<std::uint16_t>(2 * perSide - 1 - absolute), 1, 0};
    }
    return {static_cast<std::uint16_t>(absolute / heads),
            static_cast<std::uint8_t>(absolute & (heads - 1u)), 0};
}

CSectorMap::TrackKind CSectorMap::KindOfTrack(const ContainerTrack& track,
                                              std::uint16_t firstId) const {
    const unsigned sizeCode = SizeCode(sectorSize);
    // Every sector the layout reads must be there, and every sector of the
    // track of the layout's size: LibDsk rewrites a track whose sizes change
    // whole. (Extra sectors of that size, as some protected disks hold, take
    // no harm from a write.)
    for (unsigned i = 0; i < track.count; ++i)
        if (track.sizeCodes[i] != sizeCode)
            return TrackKind::OtherSizes;
    for (unsigned k = 0; k < sectorsPerTrack; ++k)
        if (std::find(track.ids, track.ids + track.count, firstId + k) == track.ids + track.count)
            return TrackKind::OtherSectors;
    return TrackKind::Layout;
}

void CSectorMap::SortTracks(const DiskLayout& layout) {
    m_TrackKinds.clear();
    m_strForeignTrack.clear();
    if (containerTracks.empty() || sectorsPerTrack == 0)
        return;
    const std::uint32_t dataSectors = layout.usableBlocks * std::uint32_t{layout.sectorsPerBlock};
    const std::uint32_t tracks = (dataSectors + sectorsPerTrack - 1) / sectorsPerTrack;
    m_TrackKinds.assign(tracks, TrackKind::Layout);
    for (std::uint32_t t = 0; t < tracks; ++t) {
        const SectorAddress at = AddressOf(t * sectorsPerTrack, layout);
        const std::size_t index = std::size_t{at.cylinder} * heads + at.head;
        const ContainerTrack none;
        const ContainerTrack& track =
            index < containerTracks.size() ? containerTracks[index] : none;
        // Sectors of the layout's size are read as usual (a missing one is
        // a read error); others might hand back what is not the file's.
        m_TrackKinds[t] = KindOfTrack(track, dataFirstSectorId);
        if (m_TrackKinds[t] == TrackKind::Layout)
            continue;
        if (!m_strForeignTrack.empty())
            continue;
        m_strForeignTrack = "track " + std::to_string(at.cylinder);
        if (heads > 1)
            m_strForeignTrack += " side " + std::to_string(at.head);
        // "holds 5 sectors of 1024 bytes", "... of 8192 and 512 bytes"
        std::vector<std::uint32_t> sizes;
        for (unsigned i = 0; i < track.count; ++i)
            sizes.push_back(SectorBytesOfCode(track.sizeCodes[i]));
        m_strForeignTrack += track.count == 0
                                 ? " holds no sectors"
                                 : " holds " + std::to_string(track.count) + " sectors of " +
                                       SectorSizesText(sizes) + " bytes";
    }
}

bool CSectorMap::BlockOnTrackOfKind(std::uint16_t block, std::uint16_t sectorsPerBlock,
                                    TrackKind least) const {
    if (m_TrackKinds.empty() || sectorsPerTrack == 0)
        return false;
    const std::uint32_t first = std::uint32_t{block} * sectorsPerBlock;
    for (std::uint32_t s = first; s < first + sectorsPerBlock; ++s) {
        const std::uint32_t t = s / sectorsPerTrack;
        if (t < m_TrackKinds.size() && m_TrackKinds[t] >= least)
            return true;
    }
    return false;
}

