// Creates a blank single-sided 40-track +3 image: every track of head 0
// formatted with 0xE5, so that it has no disk specification and an empty
// directory. The image is built in a new file beside the target and takes
// the target's name only when complete: a failed creation never costs the
// file it was to replace, and without `replace` no existing file is replaced.

#include "CDiskImage.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int CDiskImage::CreateImage(const std::string& path, bool replace) {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    if (IsOpen())
        CloseImage();
    m_strImagePath = path;
    m_strCause.clear();
    m_bMapped = false;
    m_bReadOnly = true;
    m_bDirectoryCurrent = false;
    if (!lib.imagesAreHostFiles)
        return CreateAt(path);

    // A link is kept: the file it points to is the one replaced.
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string cause;
    CPendingFile file;
    if (!file.Create(target, 0666, cause)) {
        ShowError("Unable to create disk", cause);
        return Fail(FailReason::HostOpen);
    }
    if (replace) {
        const int existing = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (existing >= 0) {
            file.TakeAttributesOf(existing);
            ::close(existing);
        }
    }
    if (!CreateAt(file.Path()))
        return 0;
    if (!file.Finish(replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace,
                     cause)) {
        if (file.TargetExisted())
            return Fail(FailReason::FileExists);
        ShowError("Unable to create disk", cause);
        return Fail(FailReason::HostWrite);
    }
    return 1;
}

int CDiskImage::CreateAt(const std::string& libraryPath) {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    const dsk_err_t created = lib.dsk_creat
                                  ? lib.dsk_creat(&m_hImage, libraryPath.c_str(), "dsk", nullptr)
                                  : DSK_ERR_NOTIMPL;
    if (created != DSK_ERR_OK) {
        m_hImage = nullptr;
        ShowError("Unable to create disk", LibraryErrorText(created));
        return 0;
    }

    // The layout a blank +3 disk is read with: no disk specification.
    m_FirstSector = 1;
    m_DataFirstSector = 1;
    m_SectorsPerTrack = 9;
    m_SectorSize = 512;
    m_Cylinders = 40;
    m_Heads = 1;
    std::uint8_t blank[kBootSectorSize];
    std::fill_n(blank, sizeof blank, kFreeUser);
    DiskLayout layout;
    DeriveLayout({m_Cylinders, m_Heads, m_SectorsPerTrack, m_SectorSize, m_FirstSector}, blank,
                 layout);
    ApplyLayout(layout);

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
    // LibDsk writes the image out only now: its result decides.
    const dsk_err_t closed = lib.dsk_close ? lib.dsk_close(&m_hImage) : DSK_ERR_NOTIMPL;
    m_hImage = nullptr;
    if (closed != DSK_ERR_OK) {
        ShowError("Unable to create disk", LibraryErrorText(closed));
        return 0;
    }
    return 1;
}
