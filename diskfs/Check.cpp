// The file-system check: every finding of the directory walk that loading
// uses too, named, and every block of every file read once.

#include "CpmVolume.h"

#include <map>
#include <set>
#include <vector>

std::vector<CheckProblem> CCpmVolume::Check() {
    std::vector<CheckProblem> problems;
    auto report = [&](const std::string& file, const std::string& text) {
        problems.push_back({file, text});
    };

    using Kind = DirectoryFinding::Kind;
    std::set<std::uint16_t> unreadable;
    std::vector<std::uint8_t> buffer(m_Layout.blockSize);
    // A disk with no directory at all would give one line per entry: the
    // first few are named, the rest counted.
    constexpr unsigned kNamedBadUsers = 8;
    unsigned badUsers = 0;
    ScanDirectory([&](const DirectoryFinding& finding) {
        const CpmEntry& entry = *finding.entry;
        const std::string where = "entry " + std::to_string(finding.index);
        const std::string file = entry.Id().Shown();
        const std::string extent = "extent " + std::to_string(entry.Extent());
        const std::string block = "block " + std::to_string(finding.block);
        // An entry without a name is named once, by its position.
        if (!entry.NameIsValid() && entry.Live() && finding.kind != Kind::InvalidName)
            return;
        switch (finding.kind) {
        case Kind::UserByte:
            if (++badUsers <= kNamedBadUsers) {
                char text[80];
                std::snprintf(text, sizeof text,
                              "user byte 0x%02X is neither a user number nor free", entry.user);
                report(where, text);
            }
            break;
        case Kind::InvalidName:
            report(where + " (user " + std::to_string(entry.user) + ")",
                   "the name holds bytes that are no characters");
            break;
        case Kind::ExtentTwice:
            report(file, extent + " appears twice");
            break;
        case Kind::ExtentNumberInvalid: {
            char text[120];
            std::snprintf(text, sizeof text,
                          "an entry with extent byte EX 0x%02X and S2 0x%02X: no disk holds that "
                          "extent (EX runs to 0x1F, S2 to 0x3F)",
                          entry.ex, entry.s2);
            report(file, text);
            break;
        }
        case Kind::RecordCountOver128:
            report(file, extent + ": record count " + std::to_string(entry.rc) + " is over 128");
            break;
        case Kind::BlockInDirectory:
            report(file, block + " lies in the directory");
            break;
        case Kind::BlockPastDisk:
            report(file, block + " lies past the end of the disk");
            break;
        case Kind::BlockShared:
            report(file, block + " is also used by " +
                             EntryAt(static_cast<std::uint16_t>(finding.sharedWith)).Id().Shown());
            break;
        case Kind::BlockOwned:
            // Sectors of another size are not read as the layout's.
            if (BlockOnOtherSizes(finding.block))
                report(file, block + " lies on a track of another format");
            else if (!ReadBlock(finding.block, buffer.data()) && unreadable.insert(finding.block).second)
                report(file, block + " cannot be read");
            break;
        case Kind::FewerBlocksThanRecords:
            report(file, extent + ": " + std::to_string(entry.Records(m_Layout.extentMask)) +
                             " records, but its blocks hold " +
                             std::to_string(entry.BlockCount() * m_Layout.blockSize / 128));
            break;
        }
    });
    if (badUsers > kNamedBadUsers)
        report("", std::to_string(badUsers - kNamedBadUsers) +
                       " more entries whose user byte is neither a user number nor free");
    return problems;
}
