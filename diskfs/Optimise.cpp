// Making a disk contiguous: every file's blocks in one run, the files in
// directory order from the first block after the directory, and the
// directory's entries from its top. The label comes first; each file's
// entries follow in extent order, then its password records; where the disk
// keeps stamps every fourth entry stays a stamp entry and each entry takes
// its stamps with it. Entries are copied byte for byte but for their block
// numbers, so names, attributes, record counts and stamps are unchanged.

#include "CpmVolume.h"

#include <cstring>
#include <map>

bool OptimisePlan::Changes() const {
    if (entriesMoved != 0)
        return true;
    for (const Move& move : files)
        if (move.from != move.to)
            return true;
    return false;
}

unsigned OptimisePlan::FragmentedBefore() const {
    unsigned count = 0;
    for (const Move& move : files)
        count += RunsOf(move.from).size() > 1 ? 1 : 0;
    return count;
}

unsigned OptimisePlan::FragmentedAfter() const {
    unsigned count = 0;
    for (const Move& move : files)
        count += RunsOf(move.to).size() > 1 ? 1 : 0;
    return count;
}

Status CCpmVolume::PlanOptimise(OptimisePlan& plan) const {
    plan = {};
    if (m_Damage != Damage::None)
        return {FailReason::ReadOnly, std::string(DamageText(m_Damage)) + " (see check)"};
    const std::uint32_t entries = DirectoryLimit();
    const bool stamped = HasStampEntries();
    std::vector<std::uint16_t> order; // old positions, in their new order
    std::vector<bool> placed(entries, false);
    const auto place = [&](std::uint16_t position) {
        if (position < entries && !placed[position]) {
            placed[position] = true;
            order.push_back(position);
        }
    };
    for (std::uint32_t k = 0; k < entries; ++k)
        if (UserByte(static_cast<std::uint16_t>(k)) == kLabelStatus)
            place(static_cast<std::uint16_t>(k));
    Catalogue rows;
    List(rows);
    for (std::size_t r = 0; r < rows.count; ++r) {
        const FileId file = FileId::Of(rows[r]);
        for (const std::uint16_t position : FileExtents(file))
            place(position);
        for (const std::uint16_t position : PasswordRecords(file))
            place(position);
    }
    // Password records of no file, and anything else, stay in their order.
    for (std::uint32_t k = 0; k < entries; ++k) {
        const std::uint8_t user = UserByte(static_cast<std::uint16_t>(k));
        const bool stampEntry = stamped && k % 4 == 3;
        if (stampEntry != (user == kStampStatus))
            return {FailReason::ReadOnly,
                    "its stamp entries are not every fourth entry of the directory"};
        if (user == kFreeUser || stampEntry)
            continue;
        if (user > kMaxPasswordUser && user != kLabelStatus)
            return {FailReason::ReadOnly, "directory entry " + std::to_string(k) +
                                              " holds a user byte CP/M does not know (" +
                                              std::to_string(user) + ")"};
        place(static_cast<std::uint16_t>(k));
    }

    // The new directory, and each file's blocks from the first after it.
    plan.directory.assign(DirectoryBytes(), kFreeUser);
    if (stamped)
        for (std::uint32_t k = 3; k < entries; k += 4) {
            std::memset(&plan.directory[std::size_t{k} * kDirEntrySize], 0, kDirEntrySize);
            plan.directory[std::size_t{k} * kDirEntrySize] = kStampStatus;
        }
    std::uint32_t next = 0, block = m_Layout.directoryBlocks;
    std::map<std::uint16_t, std::uint16_t> newPosition;
    for (const std::uint16_t old : order) {
        if (stamped && next % 4 == 3)
            ++next;
        newPosition[old] = static_cast<std::uint16_t>(next);
        std::uint8_t* raw = &plan.directory[std::size_t{next} * kDirEntrySize];
        std::memcpy(raw, m_Directory + std::size_t{old} * kDirEntrySize, kDirEntrySize);
        if (raw[0] <= kMaxLiveUser)
            for (unsigned slot = 0; slot < SlotsPerEntry(); ++slot)
                if (CpmEntry::RawBlock(raw, slot, SlotsPerEntry()) != 0)
                    CpmEntry::SetRawBlock(raw, slot, SlotsPerEntry(),
                                          static_cast<std::uint16_t>(block++));
        if (stamped && HasStampSlot(m_Directory, entries, old))
            WriteStampSlot(plan.directory.data(), next, ReadStampSlot(m_Directory, old));
        plan.entriesMoved += next != old ? 1 : 0;
        ++next;
    }
    for (std::uint32_t b = m_Layout.directoryBlocks; b < block; ++b)
        if (!BlockAllocatable(b))
            return {FailReason::ReadOnly, "block " + std::to_string(b) + " cannot be written"};
    for (std::size_t r = 0; r < rows.count; ++r) {
        OptimisePlan::Move move;
        move.file = FileId::Of(rows[r]);
        move.from = FileBlocks(move.file);
        for (const std::uint16_t position : FileExtents(move.file)) {
            const std::uint8_t* raw =
                &plan.directory[std::size_t{newPosition.at(position)} * kDirEntrySize];
            for (unsigned slot = 0; slot < SlotsPerEntry(); ++slot)
                if (const std::uint16_t b = CpmEntry::RawBlock(raw, slot, SlotsPerEntry()))
                    move.to.push_back(b);
        }
        plan.files.push_back(std::move(move));
    }
    return {};
}

Status CCpmVolume::Optimise(OptimisePlan& plan) {
    if (Status planned = PlanOptimise(plan); planned.Failed())
        return planned;
    if (!plan.Changes())
        return {};
    // Every block that moves is read before any is written: a file's new
    // place may be where another lay.
    const std::size_t blockBytes = m_Layout.blockSize;
    std::map<std::uint32_t, std::vector<std::uint8_t>> moving; // by new block
    for (const OptimisePlan::Move& move : plan.files)
        for (std::size_t i = 0; i < move.from.size(); ++i) {
            if (move.from[i] == move.to[i])
                continue;
            std::vector<std::uint8_t> data(blockBytes);
            Status read = ReadBlockStatus(static_cast<std::uint16_t>(move.from[i]), data.data());
            if (read.Failed()) {
                read.file = move.file.Shown();
                return read;
            }
            moving[move.to[i]] = std::move(data);
        }
    Snapshot before;
    TakeSnapshot(before);
    for (const auto& [block, data] : moving) {
        Status written = WriteBlockStatus(static_cast<std::uint16_t>(block), data.data());
        if (written.Failed()) {
            // Blocks of other files may be written over already: this disk
            // must not be kept.
            m_bBroken = true;
            return written;
        }
    }
    std::memcpy(m_Directory, plan.directory.data(), plan.directory.size());
    BuildAllocationMap();
    Status committed = CommitDirectory(before);
    if (committed.Failed() && !moving.empty())
        m_bBroken = true;
    return committed;
}

std::vector<std::pair<FileId, std::size_t>> CCpmVolume::FragmentedFiles() const {
    std::vector<std::pair<FileId, std::size_t>> fragmented;
    Catalogue rows;
    List(rows);
    for (std::size_t r = 0; r < rows.count; ++r) {
        const FileId file = FileId::Of(rows[r]);
        const std::size_t runs = RunsOf(FileBlocks(file)).size();
        if (runs > 1)
            fragmented.emplace_back(file, runs);
    }
    return fragmented;
}

std::vector<BlockRun> RunsOf(const std::vector<std::uint32_t>& blocks) {
    std::vector<BlockRun> runs;
    for (const std::uint32_t block : blocks) {
        if (!runs.empty() && runs.back().first + runs.back().count == block)
            ++runs.back().count;
        else
            runs.push_back({block, 1});
    }
    return runs;
}
