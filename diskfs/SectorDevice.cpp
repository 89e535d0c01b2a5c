#include "SectorDevice.h"

#include <cstdlib>
#include <set>

void CSectorDevice::Close() {
    if (handle != nullptr) {
        if (auto close = m_Owner.LibraryTable().dsk_close)
            close(&handle);
    }
    handle = nullptr;
}

bool CSectorDevice::Ready() {
    return handle != nullptr || (reopen && reopen());
}

dsk_err_t CSectorDevice::ReadSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                                    std::uint8_t* buffer) {
    auto read = m_Owner.LibraryTable().dsk_pread;
    if (!Ready() || read == nullptr || !geometryValid)
        return kNoEntry;
    return read(handle, &geometry, buffer, cylinder, head, sector);
}

dsk_err_t CSectorDevice::WriteSector(std::uint16_t cylinder, std::uint8_t head,
                                     std::uint16_t sector, const std::uint8_t* buffer) {
    auto write = m_Owner.LibraryTable().dsk_pwrite;
    if (!Ready() || write == nullptr || !geometryValid)
        return kNoEntry;
    return write(handle, &geometry, buffer, cylinder, head, sector);
}

std::uint16_t CSectorDevice::TrackFirstSectorId(std::uint16_t cylinder, std::uint8_t head,
                                                std::uint16_t guess) {
    auto trackIds = m_Owner.LibraryTable().dsk_ptrackids;
    if (trackIds == nullptr || handle == nullptr || cylinder >= map.cylinders)
        return guess;
    dsk_psect_t count = 0;
    DSK_FORMAT* ids = nullptr;
    if (trackIds(handle, &geometry, cylinder, head, &count, &ids) != DSK_ERR_OK)
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

bool CSectorDevice::ReadLogical(std::uint32_t logical, std::uint8_t* buffer) {
    const SectorAddress at = map.AddressOf(logical, *layout);
    return ReadSector(at.cylinder, at.head, at.sector, buffer) == DSK_ERR_OK;
}

bool CSectorDevice::WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) {
    const SectorAddress at = map.AddressOf(logical, *layout);
    return WriteSector(at.cylinder, at.head, at.sector, buffer) == DSK_ERR_OK;
}
