// Adds a file to the image, by one path for both front ends: the data block
// by block into the lowest free blocks (the last block filled out with
// 0x1A), its entries filled as CP/M fills them, then the directory written
// back; any failure puts the directory and the map back as they were. The
// window's drop takes its 8.3 name from the host file's last path component
// (upper-cased; refused when CP/M could not address it), under user 0, and
// a name under any user stands in its way.

#include "CDiskImage.h"
#include "CpmName.h"
#include "HostFile.h"

#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr std::uint8_t kFiller = 0x1A;

} // namespace

int CDiskImage::ImportFile(const std::string& hostPath) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return ImportInto(hostPath); });
}

int CDiskImage::ImportInto(const std::string& hostPath) {
    // The update may have loaded the image again.
    if (!CanWriteDirectory())
        return 0;
    // The name as the host file has it, cut to 8.3 and upper-cased; one
    // that could not be addressed or extracted afterwards is not stored.
    ImportTarget target;
    if (ParseCpmName(PathLeaf(hostPath), NameCase::Upper, target.file) != NameCheck::Valid)
        return Fail(FailReason::UnstorableName);
    // The window's rule: a name present under any user number stands in
    // the way (checked before the host file is read).
    if (NameInUse(target.file))
        return Fail(FailReason::FileExists);

    CHostFileReader host;
    if (!host.Open(hostPath)) {
        m_Status.cause = host.Cause();
        return Fail(FailReason::HostOpen);
    }
    if (host.Size() > GetCapacity())
        return Fail(FailReason::DiskFull);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(host.Size()));
    const long got = host.Read(data.data(), data.size());
    if (got < 0)
        return HostFailure(FailReason::HostRead);
    data.resize(static_cast<std::size_t>(got));
    return ImportDataInto(target, data);
}

int CDiskImage::ImportData(const ImportTarget& target, const std::vector<std::uint8_t>& data) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return ImportDataInto(target, data); });
}

int CDiskImage::ImportDataInto(const ImportTarget& target, const std::vector<std::uint8_t>& data) {
    if (!CanWriteDirectory())
        return 0;
    if (target.file.user > kMaxLiveUser)
        return Fail(FailReason::BadName);
    if (data.size() > GetCapacity())
        return Fail(FailReason::DiskFull);
    const std::vector<std::uint16_t> old = FileExtents(target.file);
    if (!old.empty() && !target.replace)
        return Fail(FailReason::FileExists);

    // The old file's entries are taken out of the directory in memory only;
    // its blocks stay in use until the new file is in the directory, so
    // that the old data is never overwritten and a failure leaves it whole.
    Snapshot before;
    TakeSnapshot(before);
    std::vector<CpmEntry> replaced;
    for (std::uint16_t position : old) {
        CpmEntry entry = EntryAt(position);
        replaced.push_back(entry);
        entry.user = kFreeUser;
        PutEntry(position, entry);
    }
    ClearStampSlots(old);
    std::size_t offset = 0;
    const int written = WriteFileData(
        target.file, static_cast<std::uint32_t>(data.size()),
        [&](std::uint8_t* buffer, std::size_t size) {
            const std::size_t n = std::min(size, data.size() - offset);
            std::copy_n(data.data() + offset, n, buffer);
            offset += n;
            return static_cast<long>(n);
        },
        replaced.empty() ? nullptr : &replaced.front());
    if (!written) {
        const FailReason reason = m_Status.reason;
        RestoreSnapshot(before);
        return Fail(reason);
    }
    for (const CpmEntry& entry : replaced)
        MarkEntryBlocks(entry, 1);
    KeepSharedBlocksInUse();
    return 1;
}

int CDiskImage::WriteFileData(const FileId& file, std::uint32_t length, const DataSource& source,
                              const CpmEntry* attributesFrom) {
    const std::uint32_t blockCount = length / m_Layout.blockSize + (length % m_Layout.blockSize != 0 ? 1 : 0);
    const unsigned logicalPerEntry = m_Layout.extentMask + 1;
    std::vector<std::uint8_t> buffer(m_Layout.blockSize, 0);

    Snapshot before;
    TakeSnapshot(before);
    auto failWith = [&](FailReason reason) {
        RestoreSnapshot(before);
        return Fail(reason);
    };
    // EX is the last logical extent the entry holds, RC the records in it:
    // how CP/M fills entries that hold several 16K extents.
    unsigned entryNumber = 0;
    std::uint32_t entryRecords = 0;
    auto finish = [&](CpmEntry& entry) {
        unsigned last = entryNumber * logicalPerEntry;
        std::uint32_t rc = 0;
        if (entryRecords != 0) {
            last += (entryRecords - 1) / 128;
            rc = entryRecords - (entryRecords - 1) / 128 * 128;
        }
        entry.ex = static_cast<std::uint8_t>(last & 0x1F);
        entry.s2 = static_cast<std::uint8_t>((last >> 5) & 0x3F);
        entry.rc = static_cast<std::uint8_t>(rc);
        if (attributesFrom != nullptr) {
            entry.readOnly = attributesFrom->readOnly;
            entry.system = attributesFrom->system;
        }
    };
    std::vector<std::uint16_t> positions;

    std::uint16_t index = 0;
    if (!AllocDirEntry(file, index))
        return failWith(FailReason::DirectoryFull);
    positions.push_back(index);
    CpmEntry entry = EntryAt(index);
    unsigned slot = 0;
    for (std::uint32_t n = 0; n < blockCount; ++n) {
        std::uint16_t block = 0;
        if (!FindFreeBlock(block))
            return failWith(FailReason::DiskFull);
        m_AllocMap[block] = 0;
        entry.blocks[slot] = block;
        std::memset(buffer.data(), kFiller, buffer.size());
        const long got = source(buffer.data(), buffer.size());
        if (got < 0)
            return failWith(FailReason::HostRead);
        if (!WriteBlock(block, buffer.data()))
            return failWith(FailReason::DiskWrite);
        const auto bytes = static_cast<std::uint32_t>(got);
        entryRecords += bytes / 128 + (bytes % 128 != 0 ? 1 : 0);
        if (++slot == entry.slotCount && n + 1 < blockCount) {
            finish(entry);
            PutEntry(index, entry);
            if (!AllocDirEntry(file, index))
                return failWith(FailReason::DirectoryFull);
            positions.push_back(index);
            entry = EntryAt(index);
            ++entryNumber;
            entryRecords = 0;
            slot = 0;
        }
    }
    finish(entry);
    PutEntry(index, entry);
    StampNewFile(positions);
    return CommitDirectory(before);
}

void CDiskImage::StampNewFile(const std::vector<std::uint16_t>& positions) {
    const auto label = Label();
    const CpmStamp now = StampOfTime(std::time(nullptr));
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (!HasStampSlot(m_Directory, DirectoryLimit(), positions[i]))
            continue;
        // As CP/M Plus stamps: the kinds the label names, on the first entry.
        EntryStamps stamps;
        if (i == 0 && label) {
            if (label->KeepsCreate() || label->KeepsAccess())
                stamps.first = now;
            if (label->KeepsUpdate())
                stamps.update = now;
        }
        WriteStampSlot(m_Directory, positions[i], stamps);
    }
}

void CDiskImage::ClearStampSlots(const std::vector<std::uint16_t>& positions) {
    for (std::uint16_t position : positions)
        if (HasStampSlot(m_Directory, DirectoryLimit(), position))
            WriteStampSlot(m_Directory, position, EntryStamps{});
}
