// The one walk over the directory that finds what does not fit a sound
// directory: loading marks the block map and notes the first kind of damage
// from it, the check names every finding.

#include "CpmVolume.h"

#include <array>
#include <set>
#include <vector>

namespace {

constexpr std::uint8_t kLabelUser = 0x20;      // CP/M 3 directory label
constexpr std::uint8_t kTimestampsUser = 0x21; // CP/M 3 date stamps

} // namespace

void CCpmVolume::ScanDirectory(const std::function<void(const DirectoryFinding&)>& visit) const {
    using Kind = DirectoryFinding::Kind;
    // The first entry to name each block of the disk.
    std::vector<std::int32_t> owner(m_Layout.totalBlocks, -1);
    std::set<std::pair<FileId, unsigned>> extents;
    const std::uint32_t limit = DirectoryLimit();
    for (std::uint32_t i = 0; i < limit; ++i) {
        const CpmEntry entry = EntryAt(static_cast<std::uint16_t>(i));
        DirectoryFinding finding{Kind::UserByte, i, &entry, 0, -1};
        if (!entry.Live()) {
            if (entry.user != kFreeUser && entry.user != kLabelUser &&
                entry.user != kTimestampsUser && !entry.PasswordRecord())
                visit(finding);
            continue;
        }
        const bool named = entry.NameIsValid();
        if (!named) {
            finding.kind = Kind::InvalidName;
            visit(finding);
        } else {
            if (!extents.emplace(entry.Id(), entry.Extent()).second) {
                finding.kind = Kind::ExtentTwice;
                visit(finding);
            }
            if (entry.ExtentNumberInvalid() && !entry.IsLocoScriptGroup()) {
                finding.kind = Kind::ExtentNumberInvalid;
                visit(finding);
            }
            if (entry.rc > 128) {
                finding.kind = Kind::RecordCountOver128;
                visit(finding);
            }
        }
        for (unsigned slot = 0; slot < entry.slotCount; ++slot) {
            finding.block = entry.blocks[slot];
            finding.sharedWith = -1;
            if (finding.block == 0)
                continue;
            if (finding.block < m_Layout.directoryBlocks) {
                finding.kind = Kind::BlockInDirectory;
            } else if (finding.block >= m_Layout.totalBlocks || !BlockOnDisk(finding.block)) {
                finding.kind = Kind::BlockPastDisk;
            } else if (owner[finding.block] >= 0) {
                finding.kind = Kind::BlockShared;
                finding.sharedWith = owner[finding.block];
            } else {
                owner[finding.block] = static_cast<std::int32_t>(i);
                finding.kind = Kind::BlockOwned;
            }
            visit(finding);
        }
        if (LacksBlocks(entry)) {
            finding.kind = Kind::FewerBlocksThanRecords;
            visit(finding);
        }
    }
}

void CCpmVolume::BuildAllocationMap() {
    using Kind = DirectoryFinding::Kind;
    // The directory's own blocks are never free; every other block is until
    // an entry names it.
    for (std::uint32_t b = 0; b < kMapBlocks; ++b)
        m_AllocMap[b] = b < m_Layout.directoryBlocks ? 0 : 1;
    m_Damage = Damage::None;
    // The map is marked as the directory says, every block a live entry
    // names in use; what does not fit a sound directory is noted so that the
    // user hears of it.
    ScanDirectory([this](const DirectoryFinding& finding) {
        Damage damage = Damage::None;
        switch (finding.kind) {
        case Kind::InvalidName:
            damage = Damage::InvalidName;
            break;
        case Kind::BlockInDirectory:
        case Kind::BlockPastDisk:
            damage = Damage::BlocksOutsideDisk;
            break;
        case Kind::BlockShared:
            damage = Damage::SharedBlocks;
            break;
        case Kind::FewerBlocksThanRecords:
            damage = Damage::MissingBlocks;
            break;
        default:
            break;
        }
        if (finding.block != 0 && finding.block < kMapBlocks)
            m_AllocMap[finding.block] = 0;
        if (m_Damage == Damage::None)
            m_Damage = damage;
    });
}
