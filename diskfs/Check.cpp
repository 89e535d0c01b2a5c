// The file-system check: everything a load notes about the directory, found
// entry by entry and named, and every block of every file read once.

#include "CDiskImage.h"
#include "CatalogueView.h"

#include <map>
#include <set>
#include <vector>

namespace {

constexpr std::uint8_t kLabelUser = 0x20;      // CP/M 3 directory label
constexpr std::uint8_t kTimestampsUser = 0x21; // CP/M 3 date stamps

std::string FileOf(const CpmEntry& entry) {
    FileEntry row;
    row.user = entry.user;
    std::copy(entry.name.begin(), entry.name.end(), row.name);
    std::copy(entry.type.begin(), entry.type.end(), row.type);
    return std::to_string(entry.user) + ":" + ShownFileName(row);
}

} // namespace

std::vector<CheckProblem> CDiskImage::CheckFileSystem() {
    std::vector<CheckProblem> problems;
    if (!IsMapped()) {
        problems.push_back({"", "the image could not be opened fully"});
        return problems;
    }
    // The directory as the disk holds it now.
    if (ReadDirectory(m_Directory) != 0)
        m_bReadOnly = true;
    if (m_bReadOnly)
        problems.push_back({"", "the directory could not be read completely"});
    auto report = [&](const std::string& file, const std::string& text) {
        problems.push_back({file, text});
    };

    std::map<std::uint16_t, std::string> owners;
    std::map<std::string, std::set<unsigned>> extents;
    std::set<std::uint16_t> unreadable;
    std::vector<std::uint8_t> buffer(m_Layout.blockSize);
    // A disk with no directory at all would give one line per entry: the
    // first few are named, the rest counted.
    constexpr unsigned kNamedBadUsers = 8;
    unsigned badUsers = 0;
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t i = 0; i < limit; ++i) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(i));
        const std::string where = "entry " + std::to_string(i);
        if (!entry.Live()) {
            if (entry.user != kFreeUser && entry.user != kLabelUser && !entry.PasswordRecord() &&
                entry.user != kTimestampsUser && ++badUsers <= kNamedBadUsers) {
                char text[80];
                std::snprintf(text, sizeof text,
                              "user byte 0x%02X is neither a user number nor free", entry.user);
                report(where, text);
            }
            continue;
        }
        if (!entry.NameIsValid()) {
            report(where + " (user " + std::to_string(entry.user) + ")",
                   "the name holds bytes that are no characters");
            continue;
        }
        const std::string file = FileOf(entry);
        const std::string extent = "extent " + std::to_string(entry.Extent());
        if (!extents[file].insert(entry.Extent()).second)
            report(file, extent + " appears twice");
        if (entry.rc > 128)
            report(file, extent + ": record count " + std::to_string(entry.rc) + " is over 128");
        for (unsigned slot = 0; slot < entry.slotCount; ++slot) {
            const std::uint16_t block = entry.blocks[slot];
            if (block == 0)
                continue;
            const std::string name = "block " + std::to_string(block);
            if (block < m_Layout.directoryBlocks) {
                report(file, name + " lies in the directory");
                continue;
            }
            if (block >= m_Layout.totalBlocks || !BlockOnDisk(block)) {
                report(file, name + " lies past the end of the disk");
                continue;
            }
            if (const auto [it, first] = owners.emplace(block, file); !first) {
                report(file, name + " is also used by " + it->second);
                continue;
            }
            if (!ReadBlock(block, buffer.data()) && unreadable.insert(block).second)
                report(file, name + " cannot be read");
        }
        if (LacksBlocks(entry))
            report(file, extent + ": " + std::to_string(entry.Records(m_Layout.extentMask)) +
                             " records, but its blocks hold " +
                             std::to_string(entry.BlockCount() * m_Layout.blockSize / 128));
    }
    if (badUsers > kNamedBadUsers)
        report("", std::to_string(badUsers - kNamedBadUsers) +
                       " more entries whose user byte is neither a user number nor free");
    return problems;
}
