// Adds a host file to the image: its 8.3 name from the final path component,
// its data block by block into the lowest free blocks (the last block filled
// out with 0x1A), its entries under user 0, then the directory written back.
// Any failure puts the directory and the map back as they were.

#include "CDiskImage.h"
#include "HostFile.h"

#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr std::uint8_t kFiller = 0x1A;

// Name before the last ".", type after it, cut to 8 and 3 bytes, stored as
// they are (no change of case, no filtering).
void NameFromPath(const std::string& path, std::uint8_t* name, std::uint8_t* type) {
    std::memset(name, ' ', kNameLen);
    std::memset(type, ' ', kTypeLen);
    const auto slash = path.find_last_of('/');
    const std::string component = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = component.find_last_of('.');
    const std::string base = dot == std::string::npos ? component : component.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : component.substr(dot + 1);
    std::memcpy(name, base.data(), std::min(base.size(), kNameLen));
    std::memcpy(type, ext.data(), std::min(ext.size(), kTypeLen));
}

} // namespace

int CDiskImage::ImportFile(const std::string& hostPath) {
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return ImportInto(hostPath); });
}

int CDiskImage::ImportInto(const std::string& hostPath) {
    // The update may have loaded the image again.
    if (!CanWriteDirectory())
        return 0;
    // RC is one byte: an entry must not map more than 255 records.
    if (std::uint32_t{SlotsPerEntry()} * m_BlockSize / 128 > 255)
        return Fail(FailReason::UnsupportedBlockSize);

    std::uint8_t name[kNameLen];
    std::uint8_t type[kTypeLen];
    NameFromPath(hostPath, name, type);
    std::uint16_t position = 0;
    if (FindExtent(name, type, position))
        return Fail(FailReason::FileExists);

    CHostFileReader host;
    if (!host.Open(hostPath))
        return Fail(FailReason::HostOpen);
    if (host.Size() > std::numeric_limits<std::uint32_t>::max())
        return Fail(FailReason::DiskFull);
    const std::uint32_t length = static_cast<std::uint32_t>(host.Size());
    const std::uint32_t blockCount = length / m_BlockSize + (length % m_BlockSize != 0 ? 1 : 0);
    std::vector<std::uint8_t> buffer(m_BlockSize, 0);

    Snapshot before;
    TakeSnapshot(before);
    auto failWith = [&](FailReason reason) {
        RestoreSnapshot(before);
        return Fail(reason);
    };

    std::uint16_t index = 0;
    if (!AllocDirEntry(name, type, index))
        return failWith(FailReason::DirectoryFull);
    unsigned slot = 0;
    std::uint16_t extent = 0;
    for (std::uint32_t n = 0; n < blockCount; ++n) {
        std::uint16_t block = 0;
        if (!FindFreeBlock(block))
            return failWith(FailReason::DiskFull);
        m_AllocMap[block] = 0;
        DirEntry& entry = Entry(index);
        SetBlockNumber(entry, slot, block);
        std::memset(buffer.data(), kFiller, buffer.size());
        const long got = host.Read(buffer.data(), buffer.size());
        if (got < 0)
            return failWith(FailReason::HostRead);
        if (!WriteBlock(block, buffer.data()))
            return failWith(FailReason::DiskWrite);
        const auto bytes = static_cast<std::uint32_t>(got);
        entry.rc = static_cast<std::uint8_t>(entry.rc + bytes / 128 + (bytes % 128 != 0 ? 1 : 0));
        if (++slot == SlotsPerEntry() && n + 1 < blockCount) {
            if (!AllocDirEntry(name, type, index))
                return failWith(FailReason::DirectoryFull);
            ++extent;
            Entry(index).ex = static_cast<std::uint8_t>(extent & 0x1F);
            Entry(index).s2 = static_cast<std::uint8_t>((extent >> 5) & 0x3F);
            slot = 0;
        }
    }
    if (!WriteDirectory()) {
        const FailReason reason = m_LastFailure;
        return failWith(reason);
    }
    return 1;
}
