// Removes a file: every live entry of that name and type, whatever its user
// number, becomes free (only its user byte changes) and its blocks return to
// the map; the directory is then written back.

#include "CDiskImage.h"

int CDiskImage::EraseFile(const std::uint8_t* name, const std::uint8_t* type) {
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] { return EraseFrom(name, type); });
}

int CDiskImage::EraseFrom(const std::uint8_t* name, const std::uint8_t* type) {
    if (!CanWriteDirectory())
        return 0;
    Snapshot before;
    TakeSnapshot(before);
    std::uint16_t position = 0;
    bool found = false;
    while (FindExtent(name, type, position)) {
        DirEntry& entry = Entry(position);
        entry.user = kFreeUser;
        MarkEntryBlocks(entry, 1);
        found = true;
        if (++position >= DirectoryLimit())
            break;
    }
    // A block that a damaged directory gives to another live file too stays
    // in use: freeing it would let the next import overwrite that file.
    if (found) {
        for (std::uint32_t i = 0; i < DirectoryLimit(); ++i) {
            const DirEntry& other = Entry(static_cast<std::uint16_t>(i));
            if (other.user <= kMaxLiveUser)
                MarkEntryBlocks(other, 0);
        }
    }
    if (!WriteDirectory()) {
        const FailReason reason = m_LastFailure;
        RestoreSnapshot(before);
        return Fail(reason);
    }
    return 1;
}
