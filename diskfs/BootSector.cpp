// Copies the boot sector (cylinder 0, head 0, the geometry's first sector id)
// between the image and a raw 512-byte host file, through the boot-sector
// buffer.

#include "CDiskImage.h"
#include "HostFile.h"

#include <cstring>

int CDiskImage::WriteBootSector(const std::string& hostPath) {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    // An image that is not fully readable, or whose geometry is unknown, is
    // never written.
    if (m_bReadOnly)
        return Fail(FailReason::ReadOnly);
    return InUpdate([&] { return WriteBootFrom(hostPath); });
}

int CDiskImage::WriteBootFrom(const std::string& hostPath) {
    if (m_bReadOnly)
        return Fail(FailReason::ReadOnly);
    CHostFileReader host;
    if (!host.Open(hostPath))
        return Fail(FailReason::HostOpen);
    // A short file replaces only its own length of the buffer.
    std::uint8_t incoming[kBootSectorSize];
    std::memcpy(incoming, m_BootSector, sizeof incoming);
    if (host.Read(incoming, sizeof incoming) < 0)
        return Fail(FailReason::HostRead);
    if (WriteSector(0, 0, m_FirstSector, incoming) != DSK_ERR_OK) {
        ShowError("Unable to write boot sector");
        return Fail(FailReason::DiskWrite);
    }
    std::memcpy(m_BootSector, incoming, sizeof incoming);
    return 1;
}

int CDiskImage::ReadBootSector(const std::string& hostPath) {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    if (ReadSector(0, 0, m_FirstSector, m_BootSector) != DSK_ERR_OK) {
        ShowError("Unable to read boot sector");
        return Fail(FailReason::DiskRead);
    }
    CHostFileWriter host;
    if (!host.Open(hostPath))
        return Fail(FailReason::HostOpen);
    if (!host.Write(m_BootSector, sizeof m_BootSector) || !host.Commit())
        return Fail(FailReason::HostWrite);
    return 1;
}
