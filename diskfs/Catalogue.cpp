// The file catalogue: one row per distinct name and type, in the directory
// order of each file's first entry, sized at 128 bytes per record.

#include "CDiskImage.h"
#include "NameFields.h"

int CDiskImage::ReadCatalogue(Catalogue& rows) {
    ReadDirectory(m_Directory);
    std::size_t n = 0;
    rows.count = 0;
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t k = 0; k < limit; ++k) {
        const DirEntry& entry = Entry(static_cast<std::uint16_t>(k));
        if (entry.user > kMaxLiveUser)
            continue;
        if (IsListed(rows, entry.name, entry.type))
            continue;
        FileEntry& row = rows[n];
        row.user = entry.user;
        CopyNameAndType(row.name, row.type, entry.name, entry.type);
        row.size = SumFileSize(entry.name, entry.type, static_cast<std::uint16_t>(k));
        rows.count = ++n;
    }
    FileEntry& end = rows[n];
    for (auto& b : end.name)
        b = 0;
    for (auto& b : end.type)
        b = 0;
    end.size = 0;
    return 1;
}

int CDiskImage::IsListed(const Catalogue& rows, const std::uint8_t* name,
                         const std::uint8_t* type) const {
    // Only the rows this listing filled: a cleared row's NUL name would
    // otherwise match any name that starts with NUL.
    for (std::size_t i = 0; i < rows.count && i < rows.size(); ++i) {
        if (NameMatches(name, type, rows[i].name, rows[i].type))
            return 1;
    }
    return 0;
}

std::uint32_t CDiskImage::SumFileSize(const std::uint8_t* name, const std::uint8_t* type,
                                      std::uint16_t position) const {
    std::uint32_t total = 0;
    std::uint16_t i = position;
    for (;;) {
        total += std::uint32_t{Entry(i).rc} * 128;
        std::uint16_t next = static_cast<std::uint16_t>(i + 1);
        if (next >= DirectoryLimit() || !FindExtent(name, type, next))
            break;
        i = next;
    }
    return total;
}
