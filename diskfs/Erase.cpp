// Removes a file: every live entry of that user number, name and type
// becomes free (only its user byte changes) and its blocks return to the
// map; the directory is then written back.

#include "CDiskImage.h"

int CDiskImage::EraseFile(const FileEntry& row) {
    m_strCause.clear();
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return EraseFrom(row); });
}

int CDiskImage::EraseFrom(const FileEntry& row) {
    if (!CanWriteDirectory())
        return 0;
    Snapshot before;
    TakeSnapshot(before);
    const std::vector<std::uint16_t> positions = FileExtents(row.user, row.name, row.type);
    if (positions.empty())
        return Fail(FailReason::FileNotFound);
    for (std::uint16_t position : positions) {
        CpmEntry entry = EntryAt(position);
        MarkEntryBlocks(entry, 1);
        entry.user = kFreeUser;
        PutEntry(position, entry);
    }
    // A block that a damaged directory gives to another live file too stays
    // in use: freeing it would let the next import overwrite that file.
    KeepSharedBlocksInUse();
    if (!WriteDirectory()) {
        const FailReason reason = m_LastFailure;
        RestoreSnapshot(before);
        return Fail(reason);
    }
    return 1;
}

void CDiskImage::KeepSharedBlocksInUse() {
    // On the raw entries: this runs after every deletion.
    const bool wide = SlotsPerEntry() == 8;
    for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
        const std::uint8_t* raw = m_Directory + std::size_t{i} * kDirEntrySize;
        if (raw[0] > kMaxLiveUser)
            continue;
        for (unsigned slot = 0; slot < SlotsPerEntry(); ++slot) {
            const unsigned block = wide ? raw[16 + 2 * slot] | raw[17 + 2 * slot] << 8 : raw[16 + slot];
            if (block != 0 && block < kMapBlocks)
                m_AllocMap[block] = 0;
        }
    }
}
