// The directory region, block addressing, the block-allocation map and the
// catalogue.
//
// The directory fills blocks 0 .. directory blocks - 1 of the data area, which
// starts at the first sector of logical track 0 (the first track after the
// reserved tracks). Block b starts at logical sector b * sectors per block;
// logical sector L lies on logical track L / sectors per track at position
// L % sectors per track, whose sector id is the lowest id of the first data
// track + position.

#include "CpmVolume.h"

#include <algorithm>
#include <cstring>
#include <map>

int CCpmVolume::Mount(const DiskLayout& layout, bool open) {
    m_Layout = layout;
    const int failures = ReadDirectory(open);
    BuildAllocationMap();
    return failures;
}

void CCpmVolume::Unmount() {
    // An empty layout holds no directory entry and no block: what the
    // buffer and the map still hold is never looked at.
    m_Layout = DiskLayout{};
    m_bCurrent = false;
    m_Damage = Damage::None;
}

std::uint32_t CCpmVolume::DirectorySectors() const {
    return std::uint32_t{m_Layout.directoryBlocks} * m_Layout.sectorsPerBlock;
}

bool CCpmVolume::BlockAllocatable(std::uint32_t block) const {
    return BlockOnDisk(block) &&
           !m_Map.BlockOnTrackOfKind(static_cast<std::uint16_t>(block), m_Layout.sectorsPerBlock,
                                     CSectorMap::TrackKind::OtherSectors);
}

bool CCpmVolume::BlockOnOtherSizes(std::uint16_t block) const {
    return m_Map.BlockOnTrackOfKind(block, m_Layout.sectorsPerBlock,
                                    CSectorMap::TrackKind::OtherSizes);
}

CpmEntry CCpmVolume::EntryAt(std::uint16_t index) const {
    return CpmEntry::Decode(m_Directory + std::size_t{index} * kDirEntrySize, SlotsPerEntry());
}

void CCpmVolume::PutEntry(std::uint16_t index, const CpmEntry& entry) {
    entry.Encode(m_Directory + std::size_t{index} * kDirEntrySize);
}

void CCpmVolume::MarkEntryBlocks(const CpmEntry& entry, std::uint32_t flag) {
    for (unsigned slot = 0; slot < entry.slotCount; ++slot) {
        const std::uint16_t block = entry.blocks[slot];
        // Numbers past the map (possible with 16-bit numbers) are ignored,
        // and the directory's blocks stay in use whatever an entry says.
        if (block != 0 && block >= m_Layout.directoryBlocks && block < kMapBlocks)
            m_AllocMap[block] = flag;
    }
}

int CCpmVolume::ReadDirectory(std::uint8_t* target, bool open) {
    std::memset(target, kFreeUser, kDirBufferSize);
    int failures = 0;
    const std::uint16_t sectorSize = m_Map.sectorSize;
    if (sectorSize != 0 && m_Map.sectorsPerTrack != 0 && m_Map.heads != 0) {
        const std::uint32_t sectors = DirectorySectors();
        for (std::uint32_t k = 0; k < sectors; ++k) {
            std::uint8_t* slice = target + std::size_t{k} * sectorSize;
            if (m_Sectors.ReadLogical(k, slice) != 0) {
                // Whatever the library left there is not the directory.
                std::memset(slice, kFreeUser, sectorSize);
                ++failures;
            }
        }
    }
    if (target == m_Directory) {
        m_bCurrent = open;
        m_bBroken = false;
        std::memcpy(m_DiskDirectory, m_Directory, kDirBufferSize);
    }
    return failures;
}

int CCpmVolume::FindFreeBlock(std::uint16_t& block) const {
    std::uint32_t i = m_Layout.directoryBlocks;
    while (i < kMapBlocks && m_AllocMap[i] == 0)
        ++i;
    block = static_cast<std::uint16_t>(i);
    // Blocks past the last track exist only in the figures, never on the disk.
    return i < m_Layout.totalBlocks && i < kMapBlocks && BlockAllocatable(i) ? 1 : 0;
}

int CCpmVolume::FindExtent(const FileId& file, std::uint16_t& position) const {
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t i = position; i < limit; ++i) {
        const auto index = static_cast<std::uint16_t>(i);
        // On the raw bytes: every listing runs this for every file.
        if (CpmEntry::RawSameFile(m_Directory + std::size_t{index} * kDirEntrySize, file)) {
            position = index;
            return 1;
        }
    }
    return 0;
}

bool CCpmVolume::NameInUse(const FileId& file) const {
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(i));
        if (entry.Live() && entry.Id().SameName(file))
            return true;
    }
    return false;
}

std::vector<std::uint16_t> CCpmVolume::FileExtents(const FileId& file) const {
    std::vector<std::uint16_t> positions;
    for (std::uint16_t position = 0; FindExtent(file, position); ++position)
        positions.push_back(position);
    // CP/M leaves entries out of extent order after appends and deletions.
    const auto extentOf = [this](std::uint16_t index) {
        return CpmEntry::RawExtent(m_Directory + std::size_t{index} * kDirEntrySize);
    };
    if (positions.size() > 1)
        std::stable_sort(positions.begin(), positions.end(), [&](std::uint16_t a, std::uint16_t b) {
            return extentOf(a) < extentOf(b);
        });
    return positions;
}

std::vector<std::uint16_t> CCpmVolume::PasswordRecords(const FileId& file) const {
    std::vector<std::uint16_t> positions;
    if (file.user > kMaxLiveUser)
        return positions;
    const FileId record = file.WithUser(static_cast<std::uint8_t>(file.user + kPasswordUserOffset));
    for (std::uint16_t position = 0; FindExtent(record, position); ++position)
        positions.push_back(position);
    return positions;
}

int CCpmVolume::AllocDirEntry(const FileId& file, std::uint16_t& index) {
    const std::size_t entries = DirectoryEntries();
    for (std::size_t i = 0; i < entries && i < kMaxDirEntries; ++i) {
        const auto position = static_cast<std::uint16_t>(i);
        if (UserByte(position) != kFreeUser)
            continue;
        CpmEntry entry;
        entry.user = file.user;
        entry.name = file.name;
        entry.type = file.type;
        entry.slotCount = SlotsPerEntry();
        PutEntry(position, entry);
        index = position;
        return 1;
    }
    return 0;
}

int CCpmVolume::ReadBlock(std::uint16_t block, std::uint8_t* buffer) {
    return ReadBlockStatus(block, buffer).Failed() ? 0 : 1;
}

int CCpmVolume::WriteBlock(std::uint16_t block, const std::uint8_t* buffer) {
    return WriteBlockStatus(block, buffer).Failed() ? 0 : 1;
}

Status CCpmVolume::ReadBlockStatus(std::uint16_t block, std::uint8_t* buffer) {
    if (m_Layout.sectorsPerBlock == 0)
        return {FailReason::DiskRead};
    const std::uint32_t first = std::uint32_t{block} * m_Layout.sectorsPerBlock;
    for (std::uint32_t k = 0; k < m_Layout.sectorsPerBlock; ++k) {
        if (const int error =
                m_Sectors.ReadLogical(first + k, buffer + std::size_t{k} * m_Map.sectorSize))
            return SectorFailure(FailReason::DiskRead, first + k, error);
    }
    return {};
}

Status CCpmVolume::WriteBlockStatus(std::uint16_t block, const std::uint8_t* buffer) {
    if (m_Layout.sectorsPerBlock == 0)
        return {FailReason::DiskWrite};
    const std::uint32_t first = std::uint32_t{block} * m_Layout.sectorsPerBlock;
    for (std::uint32_t k = 0; k < m_Layout.sectorsPerBlock; ++k) {
        if (const int error =
                m_Sectors.WriteLogical(first + k, buffer + std::size_t{k} * m_Map.sectorSize))
            return SectorFailure(FailReason::DiskWrite, first + k, error);
    }
    return {};
}

Status CCpmVolume::SectorFailure(FailReason reason, std::uint32_t logical, int error) const {
    Status status{reason, m_Sectors.FaultText(logical, error)};
    status.libraryError = error;
    return status;
}

Status CCpmVolume::WriteDirectory() {
    // A directory that belongs to another image must never reach the disk.
    if (!m_bCurrent)
        return {FailReason::ReadOnly, m_Map.ForeignTrack()};
    const std::uint32_t sectors = DirectorySectors();
    const std::uint16_t sectorSize = m_Map.sectorSize;
    // Sectors that hold what the disk holds already are not written again.
    auto unchanged = [&](std::uint32_t k) {
        const std::size_t at = std::size_t{k} * sectorSize;
        return std::memcmp(m_Directory + at, m_DiskDirectory + at, sectorSize) == 0;
    };
    for (std::uint32_t k = 0; k < sectors; ++k) {
        const int error =
            unchanged(k) ? 0 : m_Sectors.WriteLogical(k, m_Directory + std::size_t{k} * sectorSize);
        if (error == 0)
            continue;
        // Put back what the sectors already written held, so that the disk
        // keeps its old directory rather than half of each.
        for (std::uint32_t j = 0; j < k; ++j) {
            if (!unchanged(j) &&
                m_Sectors.WriteLogical(j, m_DiskDirectory + std::size_t{j} * sectorSize) != 0)
                m_bBroken = true;
        }
        return SectorFailure(FailReason::DiskWrite, k, error);
    }
    // The disk's copy follows; past the directory region the two stay 0xE5.
    std::memcpy(m_DiskDirectory, m_Directory,
                std::min(kDirBufferSize, std::size_t{sectors} * sectorSize));
    return {};
}

std::uint32_t CCpmVolume::GetCapacity() const {
    return std::uint32_t{m_Layout.totalBlocks} * m_Layout.blockSize;
}

std::uint32_t CCpmVolume::GetFreeSpace() const {
    std::uint32_t free = 0;
    for (std::uint32_t b = m_Layout.directoryBlocks; b < m_Layout.usableBlocks; ++b)
        free += m_AllocMap[b] != 0 && BlockAllocatable(b) ? 1 : 0;
    return free * m_Layout.blockSize;
}

std::uint32_t CCpmVolume::GetUsedSpace() const {
    std::uint32_t used = 0;
    for (std::uint32_t b = m_Layout.directoryBlocks; b < kMapBlocks; ++b)
        used += m_AllocMap[b] == 0 ? 1 : 0;
    return used * m_Layout.blockSize;
}

std::size_t CCpmVolume::DirectoryBytes() const {
    return std::min(kDirBufferSize, std::size_t{DirectoryLimit()} * kDirEntrySize);
}

bool CCpmVolume::LacksBlocks(const CpmEntry& entry) const {
    return entry.Records(m_Layout.extentMask) * 128 >
           entry.BlockCount() * std::uint32_t{m_Layout.blockSize};
}

Status CCpmVolume::CommitDirectory(const Snapshot& before) {
    Status written = WriteDirectory();
    if (written.Failed())
        RestoreSnapshot(before);
    return written;
}

void CCpmVolume::TakeSnapshot(Snapshot& snapshot) const {
    std::memcpy(snapshot.directory, m_Directory, DirectoryBytes());
    std::memcpy(snapshot.map, m_AllocMap, sizeof m_AllocMap);
}

void CCpmVolume::RestoreSnapshot(const Snapshot& snapshot) {
    std::memcpy(m_Directory, snapshot.directory, DirectoryBytes());
    std::memcpy(m_AllocMap, snapshot.map, sizeof m_AllocMap);
}

// One pass over the directory: each entry finds its file's row by user,
// name and type, and the file's size is the end of its furthest extent (see
// SumFileSize). Entries whose names are no names (a damaged directory,
// reported at load) are not listed.
void CCpmVolume::List(Catalogue& rows) const {
    std::size_t n = 0;
    rows.count = 0;
    std::map<FileId, std::size_t> rowOf;
    std::vector<std::uint64_t> ends;
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t k = 0; k < limit; ++k) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(k));
        if (!entry.Live() || !entry.NameIsValid())
            continue;
        const auto [at, added] = rowOf.emplace(entry.Id(), n);
        if (added) {
            FileEntry& row = rows[n];
            row.user = entry.user;
            std::copy(entry.name.begin(), entry.name.end(), row.name);
            std::copy(entry.type.begin(), entry.type.end(), row.type);
            row.readOnly = entry.readOnly;
            row.system = entry.system;
            row.archive = entry.archive;
            ends.push_back(0);
            rows.count = ++n;
        }
        ends[at->second] = std::max(ends[at->second], EntryEnd(entry));
    }
    for (std::size_t i = 0; i < n; ++i)
        rows[i].size = static_cast<std::uint32_t>(std::min<std::uint64_t>(ends[i], UINT32_MAX));
    rows[n] = FileEntry{};
}

int CCpmVolume::IsListed(const Catalogue& rows, const FileId& file) const {
    // Only the rows this listing filled.
    for (std::size_t i = 0; i < rows.count && i < rows.size(); ++i)
        if (FileId::Of(rows[i]) == file)
            return 1;
    return 0;
}

std::uint32_t CCpmVolume::SumFileSize(const FileId& file) const {
    // To the end of its last extent, as the data is read: a file with holes
    // is as long as the offset of its last data.
    std::uint64_t end = 0;
    for (std::uint16_t position : FileExtents(file))
        end = std::max(end, EntryEnd(EntryAt(position)));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, UINT32_MAX));
}

std::uint64_t CCpmVolume::EntryEnd(const CpmEntry& entry) const {
    if (entry.HoldsNothing(m_Layout.extentMask))
        return 0;
    return entry.FirstByte(m_Layout.extentMask) +
           std::uint64_t{entry.Records(m_Layout.extentMask)} * 128;
}

std::uint32_t CCpmVolume::FileBlockCount(const FileId& file) const {
    return static_cast<std::uint32_t>(FileBlocks(file).size());
}

std::vector<std::uint32_t> CCpmVolume::FileBlocks(const FileId& file) const {
    std::vector<std::uint32_t> blocks;
    for (const std::uint16_t position : FileExtents(file)) {
        const CpmEntry entry = EntryAt(position);
        for (unsigned slot = 0; slot < entry.slotCount; ++slot)
            if (entry.blocks[slot] != 0)
                blocks.push_back(entry.blocks[slot]);
    }
    return blocks;
}

std::uint8_t CCpmVolume::LastRecordBytes(const FileId& file) const {
    const std::vector<std::uint16_t> positions = FileExtents(file);
    return positions.empty() ? 0 : EntryAt(positions.back()).s1;
}

std::optional<DiskLabel> CCpmVolume::Label() const {
    return FindLabel(m_Directory, DirectoryLimit());
}

bool CCpmVolume::HasStampEntries() const {
    for (std::uint32_t i = 3; i < DirectoryLimit(); i += 4)
        if (UserByte(static_cast<std::uint16_t>(i)) == kStampStatus)
            return true;
    return false;
}

std::map<std::uint8_t, FileId> CCpmVolume::LocoScriptGroups() const {
    std::map<std::uint8_t, FileId> groups;
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(i));
        if (entry.IsLocoScriptGroup())
            groups.emplace(entry.user, entry.Id());
    }
    return groups;
}

bool CCpmVolume::HasPasswordRecords() const {
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const std::uint8_t user = UserByte(static_cast<std::uint16_t>(i));
        if (user > kMaxLiveUser && user <= kMaxPasswordUser)
            return true;
    }
    return false;
}

CCpmVolume::FileStamps CCpmVolume::StampsOf(const FileId& file,
                                            const std::optional<DiskLabel>& label) const {
    FileStamps stamps;
    const std::vector<std::uint16_t> positions = FileExtents(file);
    if (positions.empty() || !HasStampSlot(m_Directory, DirectoryLimit(), positions.front()))
        return stamps;
    const EntryStamps slot = ReadStampSlot(m_Directory, positions.front());
    // The first stamp is an access stamp only where the label says so.
    if (label && label->KeepsAccess())
        stamps.accessed = CalendarOf(slot.first);
    else
        stamps.created = CalendarOf(slot.first);
    stamps.updated = CalendarOf(slot.update);
    return stamps;
}

std::optional<std::uint8_t> CCpmVolume::PasswordModeOf(const FileId& file) const {
    const std::vector<std::uint16_t> records = PasswordRecords(file);
    if (records.empty())
        return std::nullopt;
    return m_Directory[std::size_t{records.front()} * kDirEntrySize + 12];
}

const char* DamageText(CCpmVolume::Damage damage) {
    using Damage = CCpmVolume::Damage;
    switch (damage) {
    case Damage::None:
        break;
    case Damage::BlocksOutsideDisk:
        return "Damaged directory: a file names blocks outside the disk";
    case Damage::SharedBlocks:
        return "Damaged directory: two files use the same block";
    case Damage::MissingBlocks:
        return "Damaged directory: a file has fewer blocks than records";
    case Damage::InvalidName:
        return "Damaged directory: an entry has an invalid name";
    }
    return "";
}
