// Creates a blank image of one of the known formats, every track formatted
// with 0xE5: the single-sided 40-track +3 disk has no disk specification
// (all 0xE5 reads as +3 180K); the 720K disk needs one, as LibDsk would
// otherwise read it as 40 tracks, one side; the CPC formats are told by
// their sector ids (ROMDOS D1 and Vortex only when named). The image is built in a new file beside
// the target and takes the target's name only when complete: a failed creation never costs the file
// it was to replace, and without `replace` no existing file is replaced.

#include "CDiskImage.h"
#include "Formats.h"
#include "HostFile.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <vector>

int CDiskImage::CreateImage(const std::string& path, bool replace, const DiskFormat* named) {
    const DiskFormat& format = named != nullptr ? *named : *FormatNamed("plus3");
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    if (IsOpen())
        CloseImage();
    m_strImagePath = path;
    m_Status = {};
    m_bMapped = false;
    m_bReadOnly = true;
    m_Volume.Unmount();
    if (!lib.imagesAreHostFiles)
        return CreateAt(path, format);

    // A link is kept: the file it points to is the one replaced.
    const std::string target = ResolvedPath(path);
    std::string cause;
    // An image is a file: a device or a pipe there is never replaced.
    if (const auto output = CheckHostOutput(target, nullptr, cause);
        !output || *output == HostOutput::Stream) {
        TellError("Unable to create disk",
                  output ? "not a regular file: an image is written to a file" : cause);
        return Fail(FailReason::HostOpen);
    }
    CPendingFile file;
    if (!file.Create(target, 0666, cause)) {
        TellError("Unable to create disk", cause);
        return Fail(FailReason::HostOpen);
    }
    // A file being replaced is locked like any image being changed, so that
    // a change under way in another Tarnlight process ends first.
    CFileLock lock;
    if (replace && access(target.c_str(), F_OK) == 0 && !lock.Acquire(target, cause)) {
        TellError("Unable to create disk", cause);
        return Fail(FailReason::HostOpen);
    }
    if (replace) {
        const int existing = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (existing >= 0) {
            file.TakeAttributesOf(existing);
            ::close(existing);
        }
    }
    if (!CreateAt(file.Path(), format))
        return 0;
    if (!file.Finish(replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace,
                     cause)) {
        if (file.TargetExisted())
            return Fail(FailReason::FileExists);
        TellError("Unable to create disk", cause);
        return Fail(FailReason::HostWrite);
    }
    return 1;
}

namespace {

// The disk specification written to the boot sector of a 720K disk, as
// LibDsk's dskform writes it: PCW double-sided, alternate sides and double
// track, 80 tracks of 9 512-byte sectors, one reserved track, 2K blocks, 4
// directory blocks, gaps 0x2A and 0x52. The other formats carry none.
std::vector<std::uint8_t> SpecificationOf(const DiskFormat& format) {
    if (format.bySpecification && format.sides == 2)
        return {0x03, 0x81, 0x50, 0x09, 0x02, 0x01, 0x04, 0x04, 0x2A, 0x52};
    return {};
}

} // namespace

int CDiskImage::CreateAt(const std::string& libraryPath, const DiskFormat& format) {
    const std::vector<std::uint8_t> spec = SpecificationOf(format);
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    const dsk_err_t created = m_Device.Create(libraryPath);
    if (created != DSK_ERR_OK) {
        TellError("Unable to create disk", m_Device.ErrorText(created));
        return 0;
    }

    // The tracks to format; the image is read with its own layout when it
    // is loaded.
    m_Device.map.firstSectorId = format.firstSectorId;
    m_Device.map.cylinders = format.tracksPerSide;
    m_Device.map.heads = format.sides;
    std::uint8_t blank[kBootSectorSize];
    std::fill_n(blank, sizeof blank, kFreeUser);
    std::copy(spec.begin(), spec.end(), blank);

    const dsk_err_t formatted = GeometryOfFormat(format, lib, m_Device.geometry);
    if (formatted != DSK_ERR_OK) {
        CloseHandle();
        TellError("Unable to create standard format");
        return 0;
    }
    m_Device.geometryValid = true;

    for (std::uint16_t cylinder = 0; cylinder < m_Device.map.cylinders; ++cylinder) {
        for (std::uint8_t head = 0; head < m_Device.map.heads; ++head) {
            const dsk_err_t err =
                lib.dsk_apform
                    ? lib.dsk_apform(m_Device.Handle(), &m_Device.geometry, cylinder, head, 0xE5)
                    : DSK_ERR_NOTIMPL;
            if (err != DSK_ERR_OK) {
                CloseHandle();
                TellError("Unable to format track");
                return 0;
            }
        }
    }
    if (!spec.empty()) {
        const dsk_err_t err = lib.dsk_pwrite
                                  ? lib.dsk_pwrite(m_Device.Handle(), &m_Device.geometry, blank, 0,
                                                   0, m_Device.map.firstSectorId)
                                  : DSK_ERR_NOTIMPL;
        if (err != DSK_ERR_OK) {
            CloseHandle();
            TellError("Unable to write boot sector", m_Device.ErrorText(err));
            return 0;
        }
    }
    // LibDsk writes the image out only now: its result decides.
    const dsk_err_t closed = m_Device.Close();
    if (closed != DSK_ERR_OK) {
        TellError("Unable to create disk", m_Device.ErrorText(closed));
        return 0;
    }
    return 1;
}
