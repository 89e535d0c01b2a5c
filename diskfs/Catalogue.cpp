// The file catalogue: one row per file (user number, name and type), in the
// directory order of each file's first entry, sized at 128 bytes per record
// with the logical extents each entry holds counted in. Entries whose names
// are no names (a damaged directory, reported at load) are not listed.

#include "CDiskImage.h"

#include <map>

int CDiskImage::ReadCatalogue(Catalogue& rows) {
    // The buffer holds what the disk holds from the load on: every change
    // is made there and written back, or undone. Another program's save
    // since then is taken up.
    if (ChangedOnDisk())
        LoadImage(m_strImagePath);
    else if (!m_bDirectoryCurrent)
        ReadDirectory(m_Directory);
    std::size_t n = 0;
    rows.count = 0;
    // One pass: each entry finds its file's row by user, name and type, and
    // the file's size is the end of its furthest extent (see SumFileSize).
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
    return 1;
}

int CDiskImage::IsListed(const Catalogue& rows, const FileId& file) const {
    // Only the rows this listing filled.
    for (std::size_t i = 0; i < rows.count && i < rows.size(); ++i)
        if (FileId::Of(rows[i]) == file)
            return 1;
    return 0;
}

std::uint32_t CDiskImage::SumFileSize(const FileId& file) const {
    // To the end of its last extent, as the data is read: a file with holes
    // is as long as the offset of its last data.
    std::uint64_t end = 0;
    for (std::uint16_t position : FileExtents(file))
        end = std::max(end, EntryEnd(EntryAt(position)));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, UINT32_MAX));
}

std::uint64_t CDiskImage::EntryEnd(const CpmEntry& entry) const {
    return entry.FirstByte(m_Layout.extentMask) +
           std::uint64_t{entry.Records(m_Layout.extentMask)} * 128;
}

std::uint32_t CDiskImage::FileBlockCount(const FileEntry& row) const {
    std::uint32_t count = 0;
    for (std::uint16_t position : FileExtents(FileId::Of(row)))
        count += EntryAt(position).BlockCount();
    return count;
}

std::uint8_t CDiskImage::LastRecordBytes(const FileEntry& row) const {
    const std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
    return positions.empty() ? 0 : EntryAt(positions.back()).s1;
}
