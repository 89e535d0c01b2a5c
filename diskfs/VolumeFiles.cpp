// The operations on files: reading a file's data (its entries in extent
// order, the blocks of each in slot order, each entry cut at the records it
// holds), adding one, erasing, renaming and setting attributes. Every change
// is made in the directory in memory and written back; any failure puts the
// directory and the map back as they were.

#include "CpmVolume.h"
#include "FileHeader.h"

#include <algorithm>
#include <ctime>
#include <map>

namespace {

// What fills the last record of a file.
constexpr std::uint8_t kFiller = 0x1A;

} // namespace

Status CCpmVolume::ReadFile(const FileId& file, const DataSink& sink) {
    const std::vector<std::uint16_t> positions = FileExtents(file);
    if (positions.empty())
        return {FailReason::FileNotFound, {}};
    std::vector<std::uint8_t> buffer(m_Layout.blockSize, 0);
    const std::vector<std::uint8_t> zeros(m_Layout.blockSize, 0);
    // Each entry's data lies at its own extent's offset, as CP/M reads a
    // random-access file: what no entry or block holds (a hole) reads as
    // zeros.
    std::uint64_t written = 0;
    auto give = [&](const std::uint8_t* data, std::uint64_t size) {
        written += size;
        return sink(data, static_cast<std::size_t>(size));
    };
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const CpmEntry entry = EntryAt(positions[i]);
        // Two entries for one extent (they are in extent order): which holds
        // the data cannot be told.
        if (i > 0 && CpmEntry::RawExtent(m_Directory + std::size_t{positions[i - 1]} *
                                                           kDirEntrySize) == entry.Extent())
            return {FailReason::DuplicateExtent, {}};
        if (entry.HoldsNothing(m_Layout.extentMask))
            continue;
        const std::uint64_t offset = entry.FirstByte(m_Layout.extentMask);
        while (written < offset)
            if (!give(zeros.data(), std::min<std::uint64_t>(offset - written, m_Layout.blockSize)))
                return {FailReason::HostWrite, {}};
        std::uint32_t remaining = entry.Records(m_Layout.extentMask) * 128;
        for (unsigned slot = 0; slot < entry.slotCount && remaining > 0; ++slot) {
            const std::uint16_t block = entry.blocks[slot];
            const std::uint32_t count =
                remaining < m_Layout.blockSize ? remaining : m_Layout.blockSize;
            remaining -= count;
            if (block != 0 && BlockOnOtherSizes(block))
                return ForeignTrackStatus();
            if (block != 0)
                if (Status read = ReadBlockStatus(block, buffer.data()); read.Failed())
                    return read;
            if (!give(block != 0 ? buffer.data() : zeros.data(), count))
                return {FailReason::HostWrite, {}};
        }
    }
    return {};
}

std::vector<std::vector<std::uint8_t>> CCpmVolume::FileStarts(const std::vector<FileEntry>& rows) {
    // A file starts in its lowest extent; of two entries with that number,
    // the first in the directory (as FileExtents orders them).
    constexpr std::uint16_t kNone = 0xFFFF;
    std::map<FileId, std::uint16_t> first;
    for (const FileEntry& row : rows)
        if (row.size != 0)
            first.emplace(FileId::Of(row), kNone);
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t k = 0; k < limit && !first.empty(); ++k) {
        const auto position = static_cast<std::uint16_t>(k);
        const std::uint8_t* raw = m_Directory + std::size_t{position} * kDirEntrySize;
        const auto found = first.find(EntryAt(position).Id());
        if (found == first.end())
            continue;
        std::uint16_t& at = found->second;
        if (at == kNone || CpmEntry::RawExtent(raw) <
                               CpmEntry::RawExtent(m_Directory + std::size_t{at} * kDirEntrySize))
            at = position;
    }

    std::vector<std::vector<std::uint8_t>> starts(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto found = rows[i].size == 0 ? first.end() : first.find(FileId::Of(rows[i]));
        if (found == first.end() || found->second == kNone)
            continue;
        // The file's first sector: the start of its first block.
        const std::uint16_t block = EntryAt(found->second).blocks[0];
        if (block < m_Layout.directoryBlocks || !BlockOnDisk(block) ||
            m_Map.sectorSize < kHeaderSize)
            continue;
        std::vector<std::uint8_t> sector(m_Map.sectorSize);
        if (m_Sectors.ReadLogical(std::uint32_t{block} * m_Layout.sectorsPerBlock, sector.data()) !=
            0)
            continue;
        if (sector.size() > rows[i].size)
            sector.resize(rows[i].size);
        starts[i] = std::move(sector);
    }
    return starts;
}

Status CCpmVolume::WriteFile(const FileId& file, const std::vector<std::uint8_t>& data,
                             bool replace) {
    if (file.user > kMaxLiveUser)
        return {FailReason::BadName, {}};
    const std::vector<std::uint16_t> old = FileExtents(file);
    if (!old.empty() && !replace)
        return {FailReason::FileExists, {}};
    // The old file's blocks stay in use until the new file is in place.
    const std::uint64_t needed =
        (data.size() + m_Layout.blockSize - 1) / m_Layout.blockSize * m_Layout.blockSize;
    if (needed > GetFreeSpace()) {
        auto kb = [](std::uint64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; };
        return {FailReason::DiskFull, "needs " + kb(needed) + ", " + kb(GetFreeSpace()) + " free"};
    }

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
    Status written = WriteFileData(file, data, replaced.empty() ? nullptr : &replaced.front());
    if (!written.Failed())
        written = WriteDirectory();
    if (written.Failed()) {
        RestoreSnapshot(before);
        return written;
    }
    for (const CpmEntry& entry : replaced)
        MarkEntryBlocks(entry, 1);
    KeepSharedBlocksInUse();
    return {};
}

// The data block by block into the lowest free blocks (the last block filled
// out with 0x1A), and its entries filled as CP/M fills them, in the
// directory in memory; WriteFile puts the directory back when this fails and
// writes it when it does not.
Status CCpmVolume::WriteFileData(const FileId& file, const std::vector<std::uint8_t>& data,
                                 const CpmEntry* attributesFrom) {
    const auto length = static_cast<std::uint32_t>(data.size());
    const std::uint32_t blockCount =
        length / m_Layout.blockSize + (length % m_Layout.blockSize != 0 ? 1 : 0);
    const unsigned logicalPerEntry = m_Layout.extentMask + 1;
    std::vector<std::uint8_t> buffer(m_Layout.blockSize, 0);
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
        return {FailReason::DirectoryFull, {}};
    positions.push_back(index);
    CpmEntry entry = EntryAt(index);
    unsigned slot = 0;
    std::size_t offset = 0;
    for (std::uint32_t n = 0; n < blockCount; ++n) {
        std::uint16_t block = 0;
        if (!FindFreeBlock(block))
            return {FailReason::DiskFull, {}};
        m_AllocMap[block] = 0;
        entry.blocks[slot] = block;
        std::fill(buffer.begin(), buffer.end(), kFiller);
        const std::size_t bytes = std::min(buffer.size(), data.size() - offset);
        std::copy_n(data.data() + offset, bytes, buffer.data());
        offset += bytes;
        if (Status written = WriteBlockStatus(block, buffer.data()); written.Failed())
            return written;
        entryRecords += static_cast<std::uint32_t>(bytes / 128 + (bytes % 128 != 0 ? 1 : 0));
        if (++slot == entry.slotCount && n + 1 < blockCount) {
            finish(entry);
            PutEntry(index, entry);
            if (!AllocDirEntry(file, index))
                return {FailReason::DirectoryFull, {}};
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
    return {};
}

void CCpmVolume::StampNewFile(const std::vector<std::uint16_t>& positions) {
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

void CCpmVolume::ClearStampSlots(const std::vector<std::uint16_t>& positions) {
    for (std::uint16_t position : positions)
        if (HasStampSlot(m_Directory, DirectoryLimit(), position))
            WriteStampSlot(m_Directory, position, EntryStamps{});
}

// Every live entry of that user number, name and type becomes free (only its
// user byte changes) and its blocks return to the map.
Status CCpmVolume::Erase(const FileId& file) {
    const std::vector<std::uint16_t> positions = FileExtents(file);
    if (positions.empty())
        return {FailReason::FileNotFound, {}};
    Snapshot before;
    TakeSnapshot(before);
    for (std::uint16_t position : positions) {
        CpmEntry entry = EntryAt(position);
        MarkEntryBlocks(entry, 1);
        entry.user = kFreeUser;
        PutEntry(position, entry);
    }
    // Its password record goes with it, as in CP/M Plus; it names no blocks.
    const std::vector<std::uint16_t> passwords = PasswordRecords(file);
    for (std::uint16_t position : passwords)
        m_Directory[std::size_t{position} * kDirEntrySize] = kFreeUser;
    // The freed slots hold no stamps, as +3DOS leaves a new directory.
    ClearStampSlots(positions);
    ClearStampSlots(passwords);
    // A block that a damaged directory gives to another live file too stays
    // in use: freeing it would let the next import overwrite that file.
    KeepSharedBlocksInUse();
    return CommitDirectory(before);
}

void CCpmVolume::KeepSharedBlocksInUse() {
    // On the raw entries: this runs after every deletion.
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const std::uint8_t* raw = m_Directory + std::size_t{i} * kDirEntrySize;
        if (raw[0] > kMaxLiveUser)
            continue;
        for (unsigned slot = 0; slot < SlotsPerEntry(); ++slot) {
            const std::uint16_t block = CpmEntry::RawBlock(raw, slot, SlotsPerEntry());
            if (block != 0 && block < kMapBlocks)
                m_AllocMap[block] = 0;
        }
    }
}

// Renaming and attributes change only the entries' user byte, name and type
// bytes, in every entry of the file; the attribute bits of the name bytes
// (f1-f8) are kept.
Status CCpmVolume::Rename(const FileId& file, const FileId& to) {
    if (to.user > kMaxLiveUser)
        return {FailReason::BadName, {}};
    if (!FileExtents(to).empty())
        return {FailReason::FileExists, {}};
    return ChangeEntries(
        file,
        [&](CpmEntry& entry) {
            entry.user = entry.PasswordRecord()
                             ? static_cast<std::uint8_t>(to.user + kPasswordUserOffset)
                             : to.user;
            entry.name = to.name;
            entry.type = to.type;
        },
        true);
}

Status CCpmVolume::SetAttributes(const FileId& file, unsigned set, unsigned clear) {
    return ChangeEntries(
        file,
        [&](CpmEntry& entry) {
            auto apply = [&](bool& bit, unsigned flag) {
                if (set & flag)
                    bit = true;
                if (clear & flag)
                    bit = false;
            };
            apply(entry.readOnly, kReadOnlyAttribute);
            apply(entry.system, kSystemAttribute);
            apply(entry.archive, kArchiveAttribute);
        },
        false);
}

Status CCpmVolume::ChangeEntries(const FileId& file, const std::function<void(CpmEntry&)>& change,
                                 bool withPassword) {
    std::vector<std::uint16_t> positions = FileExtents(file);
    if (positions.empty())
        return {FailReason::FileNotFound, {}};
    if (withPassword)
        for (std::uint16_t position : PasswordRecords(file))
            positions.push_back(position);
    Snapshot before;
    TakeSnapshot(before);
    for (std::uint16_t position : positions) {
        CpmEntry entry = EntryAt(position);
        change(entry);
        PutEntry(position, entry);
    }
    return CommitDirectory(before);
}
