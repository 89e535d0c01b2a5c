// Copies a file of the image to a host folder: the blocks of its entries in
// directory order, cut at 128 bytes per record.

#include "CDiskImage.h"
#include "HostFile.h"

#include <vector>

namespace {

// The host name: name and type with attribute bits cleared. Padded keeps the
// directory's spaces ("README  .TXT"); Trimmed drops them ("README.TXT").
std::string HostName(const std::uint8_t* name, const std::uint8_t* type,
                     CDiskImage::HostNames style) {
    std::string base, ext;
    for (std::size_t i = 0; i < kNameLen; ++i)
        base += static_cast<char>(name[i] & 0x7F);
    for (std::size_t i = 0; i < kTypeLen; ++i)
        ext += static_cast<char>(type[i] & 0x7F);
    if (style == CDiskImage::HostNames::Padded)
        return base + "." + ext;
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

// "/" would lead out of the chosen folder and NUL ends a host path; "", "."
// and ".." name no file.
bool HostNameAllowed(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace

int CDiskImage::ExtractFile(const std::string& folder, const std::uint8_t* name,
                            const std::uint8_t* type, HostNames style) {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    const std::string hostName = HostName(name, type, style);
    if (!HostNameAllowed(hostName))
        return Fail(FailReason::BadName);
    const std::string path = folder + "/" + hostName;

    std::uint16_t position = 0;
    if (!FindExtent(name, type, position))
        return Fail(FailReason::FileNotFound);
    const std::uint32_t fileSize = SumFileSize(name, type, position);

    CHostFileWriter host;
    if (!host.Open(path))
        return Fail(FailReason::HostOpen);
    std::vector<std::uint8_t> buffer(m_BlockSize, 0);

    std::uint32_t accounted = 0;
    for (;;) {
        const DirEntry& entry = Entry(position);
        for (unsigned slot = 0; slot < SlotsPerEntry(); ++slot) {
            const std::uint16_t block = BlockNumber(entry, slot);
            if (block == 0)
                continue;
            if (!ReadBlock(block, buffer.data()))
                return Fail(FailReason::DiskRead);
            const std::uint32_t remaining = accounted < fileSize ? fileSize - accounted : 0;
            const std::uint32_t count = remaining < m_BlockSize ? remaining : m_BlockSize;
            if (count != 0 && !host.Write(buffer.data(), count))
                return Fail(FailReason::HostWrite);
            accounted += m_BlockSize;
        }
        std::uint16_t next = static_cast<std::uint16_t>(position + 1);
        if (next >= DirectoryLimit() || !FindExtent(name, type, next))
            break;
        position = next;
    }
    if (!host.Commit())
        return Fail(FailReason::HostWrite);
    return 1;
}
