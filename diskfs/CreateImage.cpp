// Creates a blank single-sided 40-track +3 image: every track of head 0
// formatted with 0xE5, so that it has no disk specification and an empty
// directory.

#include "CDiskImage.h"

int CDiskImage::CreateImage(const std::string& path) {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    if (IsOpen())
        CloseImage();
    m_strImagePath = path;
    m_bMapped = false;
    m_bReadOnly = true;
    m_bDirectoryCurrent = false;

    const dsk_err_t created =
        lib.dsk_creat ? lib.dsk_creat(&m_hImage, path.c_str(), "dsk", nullptr) : DSK_ERR_NOTIMPL;
    if (created != DSK_ERR_OK) {
        m_hImage = nullptr;
        ShowError("Unable to create disk");
        return 0;
    }

    m_FirstSector = 1;
    m_SectorsPerTrack = 9;
    m_SectorSize = 512;
    m_BlockSize = 1024;
    m_SectorsPerBlock = 2;
    m_DirBlocks = 2;
    m_TotalBlocks = 180;
    m_Cylinders = 40;
    m_Heads = 1;
    m_Spec.bytes[DiskSpec::Type] = 0;
    m_Spec.bytes[DiskSpec::Sides] = 0;
    m_Spec.bytes[DiskSpec::ReservedTracks] = 1;
    m_Spec.bytes[DiskSpec::TracksPerSide] = static_cast<std::uint8_t>(m_Cylinders / m_Heads);

    const dsk_err_t formatted = lib.dg_stdformat
                                    ? lib.dg_stdformat(&m_Geometry, FMT_180K, nullptr, nullptr)
                                    : DSK_ERR_NOTIMPL;
    if (formatted != DSK_ERR_OK) {
        CloseHandle();
        ShowError("Unable to create standard format");
        return 0;
    }
    m_bGeometryValid = true;

    for (std::uint16_t cylinder = 0; cylinder < m_Cylinders; ++cylinder) {
        const dsk_err_t err = lib.dsk_apform
                                  ? lib.dsk_apform(m_hImage, &m_Geometry, cylinder, 0, 0xE5)
                                  : DSK_ERR_NOTIMPL;
        if (err != DSK_ERR_OK) {
            CloseHandle();
            ShowError("Unable to format track");
            return 0;
        }
    }
    CloseHandle();
    return 1;
}
