// Adds a file to the image, by one path for both front ends: the volume's
// WriteFile. The window's drop takes its 8.3 name from the host file's last
// path component (upper-cased; refused when CP/M could not address it),
// under user 0, and a name under any user stands in its way.

#include "CDiskImage.h"
#include "CpmName.h"
#include "HostFile.h"

#include <cerrno>
#include <vector>

int CDiskImage::ImportFile(const std::string& hostPath) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return About(hostPath, InChange([&] { return ImportInto(hostPath); }));
}

int CDiskImage::ImportInto(const std::string& hostPath) {
    // The update may have loaded the image again.
    if (!CanWriteDirectory())
        return 0;
    // The name as the host file has it, cut to 8.3 and upper-cased; one
    // that could not be addressed or extracted afterwards is not stored.
    ImportTarget target;
    if (NameForStoring(hostPath, {}, NameCase::Upper, target.file) != NameCheck::Valid)
        return Fail(FailReason::UnstorableName);
    // The window's rule: a name present under any user number stands in
    // the way (checked before the host file is read).
    if (m_Volume.NameInUse(target.file))
        return Fail(FailReason::FileExists);

    CHostFileReader host;
    if (!host.Open(hostPath)) {
        m_Status.cause = host.Cause();
        return Fail(FailReason::HostOpen);
    }
    if (host.Size() > m_Volume.GetCapacity())
        return Fail(FailReason::DiskFull);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(host.Size()));
    const long got = host.Read(data.data(), data.size());
    if (got < 0)
        return HostFailure(FailReason::HostRead, ErrnoText(errno));
    data.resize(static_cast<std::size_t>(got));
    return Take(m_Volume.WriteFile(target.file, data, false));
}

int CDiskImage::ImportData(const ImportTarget& target, const std::vector<std::uint8_t>& data) {
    return About(target.file, ChangeVolume([&] {
                     return m_Volume.WriteFile(target.file, data, target.replace);
                 }));
}
