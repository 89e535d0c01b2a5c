// Copies the boot sector (cylinder 0, head 0, the geometry's first sector id)
// between the image and a raw 512-byte host file, through the boot-sector
// buffer.

#include "CDiskImage.h"
#include "HostFile.h"

#include <cstring>

int CDiskImage::WriteBootSector(const std::string& hostPath, BootWrite mode, BootMachine bootable) {
    m_Status = {};
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    // An image that is not fully readable, or whose geometry is unknown, is
    // never written.
    if (m_bReadOnly)
        return Fail(FailReason::ReadOnly);
    // Without reserved tracks the first sector of the disk is the first
    // directory sector (CPC data disks): writing it would wipe the directory.
    // (A partition of a hard disk has none either.)
    if (m_Volume.Layout().spec.bytes[DiskSpec::ReservedTracks] == 0 || !m_strPartition.empty()) {
        TellError("This disk has no boot sector");
        return Fail(FailReason::NoBootSector);
    }
    return InChange([&] { return WriteBootFrom(hostPath, mode, bootable); });
}

int CDiskImage::WriteBootFrom(const std::string& hostPath, BootWrite mode, BootMachine bootable) {
    if (m_bReadOnly)
        return Fail(FailReason::ReadOnly);
    CHostFileReader host;
    if (!host.Open(hostPath)) {
        m_Status.cause = host.Cause();
        return Fail(FailReason::HostOpen);
    }
    // A short file replaces only its own length of the buffer.
    std::uint8_t incoming[kBootSectorSize];
    std::memcpy(incoming, m_BootSector, sizeof incoming);
    if (host.Read(incoming, sizeof incoming) < 0)
        return Fail(FailReason::HostRead);
    MakeBootableOn(incoming, bootable);
    // The disk specification's format bytes (0-9), or what LibDsk derives
    // from the boot sector, decide where every file lies: a change of either
    // may lose them all. Bytes 10-14 are reserved and 15 makes the sum that
    // boots the disk: they change freely.
    const bool specChanged = std::memcmp(incoming, m_BootSector, kSpecFormatBytes) != 0;
    if (specChanged && mode == BootWrite::KeepFormat)
        return Fail(FailReason::ChangesFormat);
    if (m_Device.WriteSector(0, 0, m_Device.map.firstSectorId, incoming) != DSK_ERR_OK) {
        TellError("Unable to write boot sector");
        return Fail(FailReason::DiskWrite);
    }
    // What LibDsk now derives from the boot sector, with the cylinders and
    // heads the container holds, as at load.
    auto getGeometry = m_pOwner->LibraryTable().dsk_getgeom;
    DSK_GEOMETRY derived{};
    const bool derivedAgain = mode == BootWrite::KeepFormat && getGeometry != nullptr &&
                              m_Device.Handle() != nullptr &&
                              getGeometry(m_Device.Handle(), &derived) == DSK_ERR_OK;
    if (derivedAgain)
        TakeContainerShape(derived);
    if (derivedAgain &&
        (derived.dg_cylinders != m_Device.geometry.dg_cylinders ||
         derived.dg_heads != m_Device.geometry.dg_heads || derived.dg_sectors != m_Device.geometry.dg_sectors ||
         derived.dg_secbase != m_Device.geometry.dg_secbase ||
         derived.dg_secsize != m_Device.geometry.dg_secsize)) {
        if (m_Device.WriteSector(0, 0, m_Device.map.firstSectorId, m_BootSector) != DSK_ERR_OK)
            NoteBroken();
        return Fail(FailReason::ChangesFormat);
    }
    std::uint8_t previous[kBootSectorSize];
    std::memcpy(previous, m_BootSector, sizeof previous);
    std::memcpy(m_BootSector, incoming, sizeof incoming);
    if (!specChanged)
        return 1;
    // Every later transfer must follow the disk's new layout: the layout is
    // derived again and the directory read by it. A layout that cannot be
    // mapped, or a directory that cannot be read by it, puts the old boot
    // sector back.
    const bool mapped = MapFromBootSector();
    if (mapped && !m_bReadOnly)
        return 1;
    std::memcpy(m_BootSector, previous, sizeof previous);
    if (m_Device.WriteSector(0, 0, m_Device.map.firstSectorId, m_BootSector) != DSK_ERR_OK)
        NoteBroken();
    MapFromBootSector();
    if (!mapped)
        TellError("Unable to write boot sector", "it describes a format that cannot be read");
    return Fail(mapped ? FailReason::DiskRead : FailReason::ChangesFormat);
}

int CDiskImage::ReadBootSector(const std::string& hostPath) {
    m_Status = {};
    if (!StillAsLoaded())
        return 0;
    if (!m_strPartition.empty()) {
        TellError("This disk has no boot sector");
        return Fail(FailReason::NoBootSector);
    }
    if (m_Device.ReadSector(0, 0, m_Device.map.firstSectorId, m_BootSector) != DSK_ERR_OK) {
        TellError("Unable to read boot sector");
        return Fail(FailReason::DiskRead);
    }
    CHostFileWriter host;
    if (!host.Open(hostPath, &m_File.Loaded()))
        return HostFailure(FailReason::HostOpen, host.Cause());
    if (!host.Write(m_BootSector, sizeof m_BootSector) || !host.Commit())
        return HostFailure(FailReason::HostWrite, host.Cause());
    return 1;
}
