// The directory region, block addressing and the block-allocation map.
//
// The directory fills blocks 0 .. directory blocks - 1 of the data area, which
// starts at the first sector of logical track 0 (the first track after the
// reserved tracks). Block b starts at logical sector b * sectors per block;
// logical sector L lies on logical track L / sectors per track at position
// L % sectors per track, whose sector id is the lowest id of the first data
// track + position.

#include "CDiskImage.h"

#include <algorithm>
#include <cstring>

dsk_err_t CDiskImage::ReadLogical(std::uint32_t logical, std::uint8_t* buffer) {
    const SectorAddress at = m_Sectors.AddressOf(logical, m_Layout);
    return ReadSector(at.cylinder, at.head, at.sector, buffer);
}

dsk_err_t CDiskImage::WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) {
    const SectorAddress at = m_Sectors.AddressOf(logical, m_Layout);
    return WriteSector(at.cylinder, at.head, at.sector, buffer);
}

std::uint32_t CDiskImage::DirectorySectors() const {
    return std::uint32_t{m_Layout.directoryBlocks} * m_Layout.sectorsPerBlock;
}

bool CDiskImage::BlockOnDisk(std::uint32_t block) const {
    return block < m_Layout.usableBlocks;
}

bool CDiskImage::BlockAllocatable(std::uint32_t block) const {
    return BlockOnDisk(block) && !m_Sectors.BlockOnTrackOfKind(static_cast<std::uint16_t>(block),
                                                               m_Layout.sectorsPerBlock,
                                                               CSectorMap::TrackKind::OtherSectors);
}

CpmEntry CDiskImage::EntryAt(std::uint16_t index) const {
    return CpmEntry::Decode(m_Directory + std::size_t{index} * kDirEntrySize, SlotsPerEntry());
}

void CDiskImage::PutEntry(std::uint16_t index, const CpmEntry& entry) {
    entry.Encode(m_Directory + std::size_t{index} * kDirEntrySize);
}

void CDiskImage::MarkEntryBlocks(const CpmEntry& entry, std::uint32_t flag) {
    for (unsigned slot = 0; slot < entry.slotCount; ++slot) {
        const std::uint16_t block = entry.blocks[slot];
        // Numbers past the map (possible with 16-bit numbers) are ignored.
        if (block != 0 && block < kMapBlocks)
            m_AllocMap[block] = flag;
    }
}

int CDiskImage::ReadDirectory(std::uint8_t* target) {
    std::memset(target, kFreeUser, kDirBufferSize);
    int failures = 0;
    if (m_Sectors.sectorSize != 0 && m_Sectors.sectorsPerTrack != 0 && m_Sectors.heads != 0) {
        const std::uint32_t sectors = DirectorySectors();
        for (std::uint32_t k = 0; k < sectors; ++k) {
            std::uint8_t* slice = target + std::size_t{k} * m_Sectors.sectorSize;
            if (ReadLogical(k, slice) != DSK_ERR_OK) {
                // Whatever the library left there is not the directory.
                std::memset(slice, kFreeUser, m_Sectors.sectorSize);
                ++failures;
            }
        }
    }
    if (failures != 0 || !IsOpen())
        m_bReadOnly = true;
    if (target == m_Directory) {
        m_bDirectoryCurrent = IsOpen();
        std::memcpy(m_DiskDirectory, m_Directory, kDirBufferSize);
    }
    return failures;
}

int CDiskImage::FindFreeBlock(std::uint16_t& block) const {
    std::uint32_t i = m_Layout.directoryBlocks;
    while (i < kMapBlocks && m_AllocMap[i] == 0)
        ++i;
    block = static_cast<std::uint16_t>(i);
    // Blocks past the last track exist only in the figures, never on the disk.
    return i < m_Layout.totalBlocks && i < kMapBlocks && BlockAllocatable(i) ? 1 : 0;
}

int CDiskImage::FindExtent(const FileId& file, std::uint16_t& position) const {
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

bool CDiskImage::NameInUse(const FileId& file) const {
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(i));
        if (entry.Live() && entry.Id().SameName(file))
            return true;
    }
    return false;
}

std::vector<std::uint16_t> CDiskImage::FileExtents(const FileId& file) const {
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

std::vector<std::uint16_t> CDiskImage::PasswordRecords(const FileId& file) const {
    std::vector<std::uint16_t> positions;
    if (file.user > kMaxLiveUser)
        return positions;
    const FileId record = file.WithUser(static_cast<std::uint8_t>(file.user + kPasswordUserOffset));
    for (std::uint16_t position = 0; FindExtent(record, position); ++position)
        positions.push_back(position);
    return positions;
}

int CDiskImage::AllocDirEntry(const FileId& file, std::uint16_t& index) {
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

int CDiskImage::ReadBlock(std::uint16_t block, std::uint8_t* buffer) {
    const std::uint32_t first = std::uint32_t{block} * m_Layout.sectorsPerBlock;
    for (std::uint32_t k = 0; k < m_Layout.sectorsPerBlock; ++k) {
        if (ReadLogical(first + k, buffer + std::size_t{k} * m_Sectors.sectorSize) != DSK_ERR_OK)
            return 0;
    }
    return m_Layout.sectorsPerBlock != 0 ? 1 : 0;
}

int CDiskImage::WriteBlock(std::uint16_t block, const std::uint8_t* buffer) {
    const std::uint32_t first = std::uint32_t{block} * m_Layout.sectorsPerBlock;
    for (std::uint32_t k = 0; k < m_Layout.sectorsPerBlock; ++k) {
        if (WriteLogical(first + k, buffer + std::size_t{k} * m_Sectors.sectorSize) != DSK_ERR_OK)
            return 0;
    }
    return m_Layout.sectorsPerBlock != 0 ? 1 : 0;
}

int CDiskImage::WriteDirectory() {
    // A directory that was only partly read, or that belongs to another
    // image, must never reach the disk.
    if (!CanWriteDirectory())
        return 0;
    const std::uint32_t sectors = DirectorySectors();
    // Sectors that hold what the disk holds already are not written again.
    auto unchanged = [this](std::uint32_t k) {
        const std::size_t at = std::size_t{k} * m_Sectors.sectorSize;
        return std::memcmp(m_Directory + at, m_DiskDirectory + at, m_Sectors.sectorSize) == 0;
    };
    for (std::uint32_t k = 0; k < sectors; ++k) {
        if (unchanged(k) ||
            WriteLogical(k, m_Directory + std::size_t{k} * m_Sectors.sectorSize) == DSK_ERR_OK)
            continue;
        // Put back what the sectors already written held, so that the disk
        // keeps its old directory rather than half of each.
        for (std::uint32_t j = 0; j < k; ++j) {
            if (!unchanged(j) &&
                WriteLogical(j, m_DiskDirectory + std::size_t{j} * m_Sectors.sectorSize) !=
                    DSK_ERR_OK)
                m_Save.broken = true;
        }
        return Fail(FailReason::DiskWrite);
    }
    // The disk's copy follows; past the directory region the two stay 0xE5.
    std::memcpy(m_DiskDirectory, m_Directory,
                std::min(kDirBufferSize, std::size_t{sectors} * m_Sectors.sectorSize));
    return 1;
}

std::uint32_t CDiskImage::GetCapacity() const {
    return std::uint32_t{m_Layout.totalBlocks} * m_Layout.blockSize;
}

std::uint32_t CDiskImage::GetFreeSpace() const {
    std::uint32_t free = 0;
    for (std::uint32_t b = m_Layout.directoryBlocks; b < m_Layout.usableBlocks; ++b)
        free += m_AllocMap[b] != 0 && BlockAllocatable(b) ? 1 : 0;
    return free * m_Layout.blockSize;
}

std::uint32_t CDiskImage::GetUsedSpace() const {
    std::uint32_t used = 0;
    for (auto flag : m_AllocMap)
        used += flag == 0 ? 1 : 0;
    return used * m_Layout.blockSize;
}

// Only the directory region changes; past it the buffer stays 0xE5.
std::size_t CDiskImage::DirectoryBytes() const {
    return std::min(kDirBufferSize, std::size_t{DirectoryLimit()} * kDirEntrySize);
}

bool CDiskImage::LacksBlocks(const CpmEntry& entry) const {
    return entry.Records(m_Layout.extentMask) * 128 >
           entry.BlockCount() * std::uint32_t{m_Layout.blockSize};
}

int CDiskImage::CommitDirectory(const Snapshot& before) {
    if (WriteDirectory())
        return 1;
    const FailReason reason = m_Status.reason;
    RestoreSnapshot(before);
    return Fail(reason);
}

void CDiskImage::TakeSnapshot(Snapshot& snapshot) const {
    std::memcpy(snapshot.directory, m_Directory, DirectoryBytes());
    std::memcpy(snapshot.map, m_AllocMap, sizeof m_AllocMap);
}

void CDiskImage::RestoreSnapshot(const Snapshot& snapshot) {
    std::memcpy(m_Directory, snapshot.directory, DirectoryBytes());
    std::memcpy(m_AllocMap, snapshot.map, sizeof m_AllocMap);
}

bool CDiskImage::CanWriteDirectory() {
    if (!IsOpen()) {
        m_Status.reason = FailReason::NoImage;
        return false;
    }
    if (m_bReadOnly || !m_bDirectoryCurrent) {
        m_Status.reason = FailReason::ReadOnly;
        m_Status.cause = m_Sectors.ForeignTrack();
        return false;
    }
    return true;
}

std::optional<DiskLabel> CDiskImage::Label() const {
    if (!IsMapped())
        return std::nullopt;
    return FindLabel(m_Directory, DirectoryLimit());
}

CDiskImage::FileStamps CDiskImage::StampsOf(const FileEntry& row) const {
    return StampsOf(row, Label());
}

bool CDiskImage::HasStampEntries() const {
    for (std::uint32_t i = 3; i < DirectoryLimit(); i += 4)
        if (UserByte(static_cast<std::uint16_t>(i)) == kStampStatus)
            return true;
    return false;
}

bool CDiskImage::HasPasswordRecords() const {
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const std::uint8_t user = UserByte(static_cast<std::uint16_t>(i));
        if (user > kMaxLiveUser && user <= kMaxPasswordUser)
            return true;
    }
    return false;
}

CDiskImage::FileStamps CDiskImage::StampsOf(const FileEntry& row,
                                            const std::optional<DiskLabel>& label) const {
    FileStamps stamps;
    const std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
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

std::optional<std::uint8_t> CDiskImage::PasswordModeOf(const FileEntry& row) const {
    const std::vector<std::uint16_t> records = PasswordRecords(FileId::Of(row));
    if (records.empty())
        return std::nullopt;
    return m_Directory[std::size_t{records.front()} * kDirEntrySize + 12];
}
