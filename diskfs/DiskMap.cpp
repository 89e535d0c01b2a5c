// The map of a disk: every sector of every track the container holds, each
// given the part of the file system it belongs to by the layout (the same
// mapping of logical sectors that every read and write uses), and tried by
// a read where it is one of the layout's.

#include "DiskMap.h"
#include "CDiskImage.h"
#include "DskContainer.h"

#include <algorithm>
#include <map>

const char* SectorUseName(SectorUse use) {
    switch (use) {
    case SectorUse::Boot:
        return "boot";
    case SectorUse::Reserved:
        return "reserved";
    case SectorUse::Directory:
        return "directory";
    case SectorUse::File:
        return "file";
    case SectorUse::Shared:
        return "shared";
    case SectorUse::Free:
        return "free";
    case SectorUse::Unused:
        return "unused";
    case SectorUse::Other:
        break;
    }
    return "other";
}

namespace {

using SectorKey = std::uint64_t;
SectorKey KeyOf(std::uint16_t cylinder, std::uint8_t head, std::uint16_t id) {
    return std::uint64_t{cylinder} << 24 | std::uint64_t{head} << 16 | id;
}

// What the layout puts at a sector.
struct Role {
    SectorUse use;
    std::uint32_t block;
};

// "9 sectors of 512 bytes, ids 1-9"; ids that do not run in order are listed.
std::string DescribeTrack(const std::vector<MapSector>& sectors) {
    if (sectors.empty())
        return "no sectors";
    std::vector<std::uint32_t> sizes;
    for (const MapSector& sector : sectors)
        sizes.push_back(sector.size);
    std::string text = std::to_string(sectors.size()) +
                       (sectors.size() == 1 ? " sector" : " sectors") + " of " +
                       SectorSizesText(sizes) + " bytes, ";
    std::vector<std::uint16_t> ids;
    for (const MapSector& sector : sectors)
        ids.push_back(sector.id);
    bool run = true;
    for (std::size_t i = 1; i < ids.size(); ++i)
        run = run && ids[i] == ids[i - 1] + 1;
    std::vector<std::uint16_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    bool sortedRun = std::adjacent_find(sorted.begin(), sorted.end(),
                                        [](auto a, auto b) { return b != a + 1; }) == sorted.end();
    if ((run || sortedRun) && ids.size() > 1) {
        text += "ids " + std::to_string(sorted.front()) + "-" + std::to_string(sorted.back());
        if (!run)
            text += " interleaved";
        return text;
    }
    text += ids.size() == 1 ? "id" : "ids";
    for (std::size_t i = 0; i < ids.size(); ++i)
        text += (i == 0 ? " " : ",") + std::to_string(ids[i]);
    return text;
}

MapSector FromRecord(const SectorRecord& record) {
    MapSector sector;
    sector.id = record.id;
    sector.size = record.Size();
    sector.weak = record.Weak();
    sector.errorStatus = record.ErrorStatus();
    sector.deleted = record.Deleted();
    // An entry without data cannot be read.
    sector.unreadable = record.stored == 0;
    return sector;
}

// A disk with no file system to place (its boot sector or geometry could
// not be read): its tracks as the container records them.
bool MapTracksOnly(const std::string& path, DiskMap& diskMap) {
    unsigned heads = 1;
    const std::vector<TrackRecord> records = ReadTrackRecords(path, true, &heads);
    if (records.empty() || heads == 0)
        return false;
    diskMap.protection = NameProtection(records, heads);
    for (std::size_t t = 0; t < records.size(); ++t) {
        MapTrack track;
        track.cylinder = static_cast<std::uint16_t>(t / heads);
        track.head = static_cast<std::uint8_t>(t % heads);
        track.formatted = records[t].formatted;
        for (const SectorRecord& record : records[t].sectors)
            track.sectors.push_back(FromRecord(record));
        track.description = track.formatted ? DescribeTrack(track.sectors) : "unformatted";
        diskMap.tracks.push_back(std::move(track));
    }
    return true;
}

} // namespace

std::optional<ProtectionFinding> CDiskImage::ReadProtection() const {
    // Whether or not a file system could be found on it: a protected disk
    // often has none that CP/M can read.
    unsigned heads = 1;
    const std::vector<TrackRecord> records = ReadTrackRecords(m_strImagePath, true, &heads);
    return NameProtection(records, heads);
}

int CDiskImage::ReadDiskMap(DiskMap& diskMap) {
    m_Status = {};
    diskMap = {};
    if (!IsMapped())
        return MapTracksOnly(m_strImagePath, diskMap) ? 1 : Fail(FailReason::NoImage);
    if (!StillAsLoaded())
        return 0;
    const CSectorMap& map = m_Device.map;
    const DiskLayout& layout = m_Volume.Layout();
    diskMap.blockSize = layout.blockSize;
    diskMap.reservedTracks = layout.reservedTracks;
    diskMap.directoryBlocks = layout.directoryBlocks;
    diskMap.usableBlocks = layout.usableBlocks;

    // The files and the blocks they name.
    Catalogue rows;
    m_Volume.List(rows);
    std::vector<std::vector<std::uint16_t>> owners(layout.usableBlocks);
    std::vector<unsigned> namings(layout.usableBlocks, 0);
    for (std::uint32_t b = 0; b < layout.directoryBlocks && b < namings.size(); ++b)
        ++namings[b];
    for (std::size_t r = 0; r < rows.count; ++r) {
        MapFile file;
        file.file = FileId::Of(rows[r]);
        file.blocks = m_Volume.FileBlocks(file.file);
        for (const std::uint32_t block : file.blocks) {
            for (std::uint32_t s = 0; s < layout.sectorsPerBlock; ++s)
                file.sectors.push_back(map.AddressOf(block * layout.sectorsPerBlock + s, layout));
            if (block < owners.size()) {
                auto& named = owners[block];
                if (named.empty() || named.back() != diskMap.files.size())
                    named.push_back(static_cast<std::uint16_t>(diskMap.files.size()));
                ++namings[block];
            }
        }
        file.fragments = RunsOf(file.blocks);
        diskMap.files.push_back(std::move(file));
    }
    for (std::uint32_t b = 0; b < namings.size(); ++b)
        if (namings[b] > 1)
            diskMap.sharedBlocks.push_back(b);

    // Where the layout puts each of its sectors.
    const unsigned cylinders = std::max<unsigned>(map.containerCylinders, map.cylinders);
    const unsigned heads = std::max<unsigned>(map.containerHeads, map.heads);
    std::map<SectorKey, Role> roles;
    const std::uint32_t layoutTracks = std::uint32_t{map.cylinders} * map.heads;
    for (std::uint32_t t = 0; t < layout.reservedTracks && t < layoutTracks; ++t) {
        const SectorAddress at = map.AddressOfTrack(t, layout);
        for (unsigned k = 0; k < map.sectorsPerTrack; ++k) {
            const SectorUse use = t == 0 && k == 0 ? SectorUse::Boot : SectorUse::Reserved;
            roles[KeyOf(at.cylinder, at.head, static_cast<std::uint16_t>(map.firstSectorId + k))] =
                {use, 0};
        }
    }
    const std::uint32_t dataSectors =
        (layoutTracks > layout.reservedTracks ? layoutTracks - layout.reservedTracks : 0) *
        std::uint32_t{map.sectorsPerTrack};
    for (std::uint32_t logical = 0; logical < dataSectors; ++logical) {
        const SectorAddress at = map.AddressOf(logical, layout);
        const std::uint32_t block = logical / layout.sectorsPerBlock;
        SectorUse use = SectorUse::Unused;
        if (block < layout.usableBlocks) {
            if (namings[block] > 1)
                use = SectorUse::Shared;
            else if (block < layout.directoryBlocks)
                use = SectorUse::Directory;
            else
                use = owners[block].empty() ? SectorUse::Free : SectorUse::File;
        }
        roles[KeyOf(at.cylinder, at.head, at.sector)] = {use, block};
    }

    // A sector the layout places takes its part, its block and the files
    // naming that block.
    const auto place = [&](MapSector& sector, const Role& role) {
        sector.use = role.use;
        sector.block = role.block;
        if (sector.use == SectorUse::File || sector.use == SectorUse::Shared)
            sector.files = owners[sector.block];
    };

    // Every track as the container holds it: its own records where it is a
    // CPCEMU container, else the ids it lists, else the layout's.
    unsigned recordHeads = 1;
    const std::vector<TrackRecord> records = ReadTrackRecords(m_strImagePath, true, &recordHeads);
    diskMap.protection = NameProtection(records, recordHeads);
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(map.sectorSize, 32768));
    for (unsigned c = 0; c < cylinders; ++c) {
        for (unsigned h = 0; h < heads; ++h) {
            MapTrack track;
            track.cylinder = static_cast<std::uint16_t>(c);
            track.head = static_cast<std::uint8_t>(h);
            const std::size_t index = std::size_t{c} * heads + h;
            // A double-stepped dump's disk cylinder is every other one of
            // the container (the others, second readings, are no part of
            // the layout's).
            const bool reading = c % map.stepping == 0;
            const auto diskCylinder = static_cast<std::uint16_t>(c / map.stepping);
            const std::size_t diskIndex = std::size_t{diskCylinder} * map.heads + h;
            const bool layoutTrack = reading && diskCylinder < map.cylinders && h < map.heads;
            if (index < records.size()) {
                track.formatted = records[index].formatted;
                for (const SectorRecord& record : records[index].sectors)
                    track.sectors.push_back(FromRecord(record));
            } else if (map.stepping == 1 && index < map.containerTracks.size()) {
                const ContainerTrack& listed = map.containerTracks[index];
                track.formatted = listed.count != 0;
                for (unsigned i = 0; i < listed.count; ++i) {
                    MapSector sector;
                    sector.id = listed.ids[i];
                    sector.size = SectorBytesOfCode(listed.sizeCodes[i]);
                    track.sectors.push_back(sector);
                }
            } else if (layoutTrack) {
                const bool first = c == 0 && h == 0;
                for (unsigned k = 0; k < map.sectorsPerTrack; ++k) {
                    MapSector sector;
                    sector.id = static_cast<std::uint16_t>(
                        (first ? map.firstSectorId : map.dataFirstSectorId) + k);
                    sector.size = map.sectorSize;
                    track.sectors.push_back(sector);
                }
            } else {
                track.formatted = false;
            }
            // The layout's sectors are only read on a track of its sizes.
            bool otherSizes = false;
            for (const MapSector& sector : track.sectors)
                otherSizes = otherSizes || sector.size != map.sectorSize;
            for (MapSector& sector : track.sectors) {
                const auto role = roles.find(KeyOf(diskCylinder, track.head, sector.id));
                if (!reading || role == roles.end() || sector.size != map.sectorSize)
                    continue;
                place(sector, role->second);
                if (!otherSizes && !sector.unreadable)
                    sector.unreadable = m_Device.ReadSector(diskCylinder, track.head, sector.id,
                                                            buffer.data()) != DSK_ERR_OK;
            }
            track.description = track.formatted ? DescribeTrack(track.sectors) : "unformatted";
            // The layout's sectors the track lacks, after those it holds.
            if (track.formatted && layoutTrack) {
                const SectorKey trackKey = KeyOf(diskCylinder, track.head, 0);
                for (auto role = roles.lower_bound(trackKey);
                     role != roles.end() && (role->first >> 16) == (trackKey >> 16); ++role) {
                    const auto id = static_cast<std::uint16_t>(role->first & 0xFFFF);
                    if (std::any_of(track.sectors.begin(), track.sectors.end(),
                                    [&](const MapSector& held) { return held.id == id; }))
                        continue;
                    MapSector sector;
                    sector.id = id;
                    sector.size = map.sectorSize;
                    place(sector, role->second);
                    sector.missing = sector.unreadable = true;
                    track.sectors.push_back(sector);
                }
            }
            // Within the layout's tracks, one that lacks the layout's sectors
            // or holds others' sizes is of a format of its own (the rule the
            // map of sectors goes by).
            if (track.formatted && layoutTrack && diskIndex < map.containerTracks.size()) {
                const bool first = c == 0 && h == 0;
                track.ownFormat =
                    map.KindOfTrack(map.containerTracks[diskIndex],
                                    first ? map.firstSectorId : map.dataFirstSectorId) !=
                    CSectorMap::TrackKind::Layout;
            }
            diskMap.tracks.push_back(std::move(track));
        }
    }
    return 1;
}
