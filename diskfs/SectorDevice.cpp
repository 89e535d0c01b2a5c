#include "SectorDevice.h"

#include "Formats.h"

#include <cstdlib>
#include <set>
#include <string_view>

dsk_err_t CSectorDevice::Close() {
    partition.Close();
    dsk_err_t closed = DSK_ERR_OK;
    if (m_Handle != nullptr) {
        auto close = m_Owner.LibraryTable().dsk_close;
        closed = close != nullptr ? close(&m_Handle) : kNoEntry;
    }
    m_Handle = nullptr;
    return closed;
}

dsk_err_t CSectorDevice::Open(const std::string& path, OpenFacts* facts) {
    Close();
    const DiskLibraryTable& lib = m_Owner.LibraryTable();
    dsk_err_t err = kNoEntry;
    if (facts != nullptr && lib.open_image != nullptr)
        err = lib.open_image(&m_Handle, path.c_str(), facts);
    else if (lib.dsk_open != nullptr)
        err = lib.dsk_open(&m_Handle, path.c_str(), nullptr, nullptr);
    if (err != DSK_ERR_OK)
        m_Handle = nullptr;
    return err;
}

dsk_err_t CSectorDevice::Create(const std::string& path) {
    Close();
    auto create = m_Owner.LibraryTable().dsk_creat;
    const dsk_err_t err =
        create != nullptr ? create(&m_Handle, path.c_str(), "dsk", nullptr) : kNoEntry;
    if (err != DSK_ERR_OK)
        m_Handle = nullptr;
    return err;
}

std::uint32_t CSectorDevice::PartitionSector(std::uint16_t cylinder, std::uint8_t head,
                                             std::uint16_t sector) const {
    if (sector < map.firstSectorId || sector - map.firstSectorId >= map.sectorsPerTrack)
        return UINT32_MAX;
    return (std::uint32_t{cylinder} * map.heads + head) * map.sectorsPerTrack +
           (sector - map.firstSectorId);
}

bool CSectorDevice::Ready() {
    return m_Handle != nullptr || (reopen && reopen());
}

dsk_err_t CSectorDevice::ReadSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                                    std::uint8_t* buffer) {
    if (partition.IsOpen())
        return partition.Read(PartitionSector(cylinder, head, sector), buffer) ? DSK_ERR_OK
                                                                               : DSK_ERR_NOADDR;
    const DiskLibraryTable& lib = m_Owner.LibraryTable();
    if (!Ready() || lib.dsk_pread == nullptr || !geometryValid)
        return kNoEntry;
    if (map.stepping == 1)
        return lib.dsk_pread(m_Handle, &geometry, buffer, cylinder, head, sector);
    // A double-stepped dump: the container's cylinder 2c, whose id fields
    // name cylinder c.
    if (lib.dsk_xread == nullptr)
        return kNoEntry;
    int deleted = 0;
    return lib.dsk_xread(m_Handle, &geometry, buffer, cylinder * map.stepping, head, cylinder, head,
                         sector, geometry.dg_secsize, &deleted);
}

dsk_err_t CSectorDevice::WriteSector(std::uint16_t cylinder, std::uint8_t head,
                                     std::uint16_t sector, const std::uint8_t* buffer) {
    if (partition.IsOpen())
        return partition.Write(PartitionSector(cylinder, head, sector), buffer) ? DSK_ERR_OK
                                                                                : DSK_ERR_RDONLY;
    const DiskLibraryTable& lib = m_Owner.LibraryTable();
    if (!Ready() || lib.dsk_pwrite == nullptr || !geometryValid)
        return kNoEntry;
    if (map.stepping == 1)
        return lib.dsk_pwrite(m_Handle, &geometry, buffer, cylinder, head, sector);
    if (lib.dsk_xwrite == nullptr)
        return kNoEntry;
    // Both readings of the track a double-stepped dump holds get the new
    // bytes, so that the image keeps its shape and never two versions.
    const unsigned first = cylinder * map.stepping;
    const dsk_err_t err = lib.dsk_xwrite(m_Handle, &geometry, buffer, first, head, cylinder, head,
                                         sector, geometry.dg_secsize, 0);
    if (err != DSK_ERR_OK || !map.HasSecondReading(cylinder, head))
        return err;
    return lib.dsk_xwrite(m_Handle, &geometry, buffer, first + 1, head, cylinder, head, sector,
                          geometry.dg_secsize, 0);
}

std::uint16_t CSectorDevice::TrackFirstSectorId(std::uint16_t cylinder, std::uint8_t head,
                                                std::uint16_t guess) {
    auto trackIds = m_Owner.LibraryTable().dsk_ptrackids;
    if (trackIds == nullptr || m_Handle == nullptr || cylinder >= map.cylinders)
        return guess;
    dsk_psect_t count = 0;
    DSK_FORMAT* ids = nullptr;
    if (trackIds(m_Handle, &geometry, cylinder * map.stepping, head, &count, &ids) != DSK_ERR_OK)
        count = 0;
    std::set<unsigned> present;
    for (dsk_psect_t i = 0; ids != nullptr && i < count; ++i)
        present.insert(ids[i].fmt_sector);
    std::free(ids); // allocated by LibDsk with malloc
    // A run of sectors-per-track ids from `first` on, all on the track.
    auto holdsRun = [&](unsigned first) {
        for (unsigned k = 0; k < map.sectorsPerTrack; ++k)
            if (present.count(first + k) == 0)
                return false;
        return true;
    };
    if (present.empty() || holdsRun(guess))
        return guess;
    const unsigned lowest = *present.begin();
    return lowest <= 0xFFFF && holdsRun(lowest) ? static_cast<std::uint16_t>(lowest) : guess;
}

int CSectorDevice::ReadLogical(std::uint32_t logical, std::uint8_t* buffer) {
    const SectorAddress at = map.AddressOf(logical, *layout);
    return ReadSector(at.cylinder, at.head, at.sector, buffer);
}

int CSectorDevice::WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) {
    const SectorAddress at = map.AddressOf(logical, *layout);
    return WriteSector(at.cylinder, at.head, at.sector, buffer);
}

std::string CSectorDevice::ErrorText(dsk_err_t err) const {
    if (auto describe = m_Owner.LibraryTable().dsk_strerror) {
        if (const char* text = describe(err))
            return text;
    }
    return "library error " + std::to_string(err);
}

std::string CSectorDevice::FaultText(std::uint32_t logical, int error) const {
    const SectorAddress at = map.AddressOf(logical, *layout);
    return "cylinder " + std::to_string(at.cylinder) + ", head " + std::to_string(at.head) +
           ", sector " + std::to_string(at.sector) + ": " +
           ErrorText(static_cast<dsk_err_t>(error));
}

// LibDsk's geometry for the format: its own for those it knows (pcw180,
// pcw720, cpcdata, cpcsys), else the format's figures with the gaps of a
// track of nine or ten sectors.
dsk_err_t GeometryOfFormat(const DiskFormat& format, const DiskLibraryTable& lib,
                           DSK_GEOMETRY& geometry) {
    const struct {
        const char* name;
        dsk_format_t library;
    } known[] = {{"plus3", FMT_180K},
                 {"pcw720", FMT_720K},
                 {"cpcdata", FMT_CPCDATA},
                 {"cpcsys", FMT_CPCSYS}};
    for (const auto& k : known)
        if (std::string_view(format.name) == k.name)
            return lib.dg_stdformat != nullptr
                       ? lib.dg_stdformat(&geometry, k.library, nullptr, nullptr)
                       : DSK_ERR_NOTIMPL;
    geometry = {};
    geometry.dg_sidedness = SIDES_ALT;
    geometry.dg_cylinders = format.tracksPerSide;
    geometry.dg_heads = format.sides;
    geometry.dg_sectors = format.sectorsPerTrack;
    geometry.dg_secbase = format.firstSectorId;
    geometry.dg_secsize = format.sectorSize;
    geometry.dg_datarate = RATE_SD;
    geometry.dg_rwgap = format.sectorsPerTrack > 9 ? 0x0C : 0x2A;
    geometry.dg_fmtgap = format.sectorsPerTrack > 9 ? 0x17 : 0x52;
    geometry.dg_fm = RECMODE_MFM;
    return DSK_ERR_OK;
}
