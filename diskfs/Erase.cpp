// Removes a file: every live entry of that user number, name and type
// becomes free (only its user byte changes) and its blocks return to the
// map; the directory is then written back.

#include "CDiskImage.h"

int CDiskImage::EraseFile(const FileEntry& row) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return EraseFrom(row); });
}

int CDiskImage::EraseFrom(const FileEntry& row) {
    if (!CanWriteDirectory())
        return 0;
    Snapshot before;
    TakeSnapshot(before);
    const std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
    if (positions.empty())
        return Fail(FailReason::FileNotFound);
    for (std::uint16_t position : positions) {
        CpmEntry entry = EntryAt(position);
        MarkEntryBlocks(entry, 1);
        entry.user = kFreeUser;
        PutEntry(position, entry);
    }
    // Its password record goes with it, as in CP/M Plus; it names no blocks.
    const std::vector<std::uint16_t> passwords = PasswordRecords(FileId::Of(row));
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

void CDiskImage::KeepSharedBlocksInUse() {
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
