#pragma once
// The CP/M file system of one disk: its layout, the directory (read once
// when the image is loaded, changed in memory and written back), the
// block-allocation map built from that read, and the operations on files.
// It reaches the disk only through logical sectors of the data area and
// knows nothing of images, saving or messages: each change returns a Status
// and, when it fails, puts the directory and the map back as they were.

#include "CpmEntry.h"
#include "DiskStructs.h"
#include "FailReason.h"
#include "FileId.h"
#include "Layout.h"
#include "SectorMap.h"
#include "Stamps.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The logical sectors of a disk's data area: sector 0 is the first sector of
// the first track after the reserved tracks (see CSectorMap::AddressOf).
class ILogicalSectors {
  public:
    // 0 when the transfer was done; else the disk library's error (a
    // dsk_err_t), which FaultText puts in words with the sector's place.
    virtual int ReadLogical(std::uint32_t logical, std::uint8_t* buffer) = 0;
    virtual int WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) = 0;
    virtual std::string FaultText(std::uint32_t /*logical*/, int /*error*/) const { return {}; }

  protected:
    ~ILogicalSectors() = default;
};

// One finding of the file-system check: the file ("USER:NAME.TYP", or the
// directory entry when it names none; empty for the image) and what is wrong.
struct CheckProblem {
    std::string file;
    std::string text;
};

// A run of consecutive blocks.
struct BlockRun {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};
// The runs of a file's block list, in its order.
std::vector<BlockRun> RunsOf(const std::vector<std::uint32_t>& blocks);

// What making a disk contiguous does: each file's blocks before and after,
// in the new directory order, and the new directory region.
struct OptimisePlan {
    struct Move {
        FileId file;
        std::vector<std::uint32_t> from, to;
    };
    std::vector<Move> files;
    // Directory entries that take another position.
    unsigned entriesMoved = 0;
    std::vector<std::uint8_t> directory;
    bool Changes() const;
    // Files in more than one run before and after.
    unsigned FragmentedBefore() const;
    unsigned FragmentedAfter() const;
};

class CCpmVolume {
  public:
    CCpmVolume(ILogicalSectors& sectors, const CSectorMap& map) : m_Sectors(sectors), m_Map(map) {}
    CCpmVolume(const CCpmVolume&) = delete;
    CCpmVolume& operator=(const CCpmVolume&) = delete;

    // What a load found wrong with the directory's live entries.
    enum class Damage {
        None,
        BlocksOutsideDisk, // a block number past the disk or inside the directory
        SharedBlocks,      // one block named twice
        MissingBlocks,     // more records than the named blocks hold
        InvalidName,       // a name or type byte that is no printable character
    };

    // The layout, and the directory and map read by it (an open image's);
    // returns the number of directory sectors that could not be read.
    int Mount(const DiskLayout& layout, bool open);
    // Forgets the disk, layout, directory and map: nothing is listed or
    // written until a disk is mounted again.
    void Unmount();
    const DiskLayout& Layout() const { return m_Layout; }

    // The directory region into `target` (the volume's own buffer, or a
    // caller's), 0xE5 past it and in each sector that could not be read;
    // returns the number of such sectors. Reading the own buffer makes it
    // current when `open`.
    int ReadDirectory(std::uint8_t* target, bool open);
    int ReadDirectory(bool open) { return ReadDirectory(m_Directory, open); }
    // The map from the directory in the buffer: the directory's blocks and
    // every block a live entry names in use; the first kind of damage found
    // is kept.
    void BuildAllocationMap();
    // Whether the buffer holds this disk's directory, so that it may be
    // written back.
    bool IsCurrent() const { return m_bCurrent; }
    Damage DirectoryDamage() const { return m_Damage; }

    // Directory primitives. A file is the live entries with equal user
    // number, name and type, names and types compared with their attribute
    // bits masked (as CP/M compares them).
    int FindFreeBlock(std::uint16_t& block) const;
    int FindExtent(const FileId& file, std::uint16_t& position) const;
    // The file's name and type present under any user number.
    bool NameInUse(const FileId& file) const;
    int AllocDirEntry(const FileId& file, std::uint16_t& index);
    int ReadBlock(std::uint16_t block, std::uint8_t* buffer);
    int WriteBlock(std::uint16_t block, const std::uint8_t* buffer);
    // The same, a failure as the status of the sector that failed: its
    // place and the library's error in the cause.
    Status ReadBlockStatus(std::uint16_t block, std::uint8_t* buffer);
    Status WriteBlockStatus(std::uint16_t block, const std::uint8_t* buffer);
    // The directory region back to the disk (only the sectors that changed);
    // a failure puts back the sectors already written.
    Status WriteDirectory();
    // A failed write-back could not be put back either: the disk holds a
    // mixed directory. Cleared by reading it.
    bool TakeBroken() {
        const bool broken = m_bBroken;
        m_bBroken = false;
        return broken;
    }

    // Space.
    std::uint32_t GetCapacity() const;
    // The blocks files hold, after the directory.
    std::uint32_t GetUsedSpace() const;
    // The space that can really be allocated: free blocks after the
    // directory that lie wholly on the disk.
    std::uint32_t GetFreeSpace() const;
    bool IsBlockFree(std::uint16_t block) const { return block < kMapBlocks && m_AllocMap[block]; }
    bool BlockOnDisk(std::uint32_t block) const { return block < m_Layout.usableBlocks; }
    // On the disk, and on a track that holds the layout's sectors.
    bool BlockAllocatable(std::uint32_t block) const;

    // The catalogue: one row per file, in the directory order of each
    // file's first entry, sized to the end of its furthest extent.
    void List(Catalogue& rows) const;
    int IsListed(const Catalogue& rows, const FileId& file) const;
    std::uint32_t SumFileSize(const FileId& file) const;
    // Where the entry's data ends in its file.
    std::uint64_t EntryEnd(const CpmEntry& entry) const;
    // The directory positions of a file's entries, in extent order.
    std::vector<std::uint16_t> FileExtents(const FileId& file) const;
    // The directory positions of a file's CP/M Plus password records.
    std::vector<std::uint16_t> PasswordRecords(const FileId& file) const;
    CpmEntry EntryAt(std::uint16_t index) const;
    // Blocks the file's entries name.
    std::uint32_t FileBlockCount(const FileId& file) const;
    // The blocks themselves, in extent order.
    std::vector<std::uint32_t> FileBlocks(const FileId& file) const;
    // CP/M 3's byte count of the file's last record (S1 of its last
    // entry); 0 when not set, which means a whole record.
    std::uint8_t LastRecordBytes(const FileId& file) const;

    // CP/M Plus's label, and the stamps of a file (those of its first
    // entry) where the disk keeps them.
    std::optional<DiskLabel> Label() const;
    struct FileStamps {
        std::optional<CalendarTime> created, accessed, updated;
    };
    FileStamps StampsOf(const FileId& file) const { return StampsOf(file, Label()); }
    // The same with the label already at hand (listings of many files).
    FileStamps StampsOf(const FileId& file, const std::optional<DiskLabel>& label) const;
    // LocoScript's groups: the entry naming each user's group, by user.
    std::map<std::uint8_t, FileId> LocoScriptGroups() const;
    // Whether the directory holds stamp entries, or password records.
    bool HasStampEntries() const;
    bool HasPasswordRecords() const;
    // The mode of the file's CP/M Plus password record (bit 7 reading, 6
    // writing, 5 deleting need the password), if it has one.
    std::optional<std::uint8_t> PasswordModeOf(const FileId& file) const;

    // Files. Changes need a current directory (the caller checks that the
    // image may be written); each is written back before it returns.
    // A file's data, as stored (whole records), handed to `sink` in pieces;
    // a false from the sink stops the copy with HostWrite.
    using DataSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
    Status ReadFile(const FileId& file, const DataSink& sink);
    // Each row's first sector (no more than its size); empty for a file
    // whose start cannot be read. One pass over the directory finds them all:
    // a listing asks for every file's.
    std::vector<std::vector<std::uint8_t>> FileStarts(const std::vector<FileEntry>& rows);
    // Stores `data` as `file`; an existing file of that user and name is
    // replaced only when asked, its blocks kept in use until the new file
    // is in place, and it lends the new file its read-only and system bits.
    Status WriteFile(const FileId& file, const std::vector<std::uint8_t>& data, bool replace);
    Status Erase(const FileId& file);
    // Renames a file and/or gives it to another user; refused when a file of
    // the new user and name exists. Its password record goes with it.
    Status Rename(const FileId& file, const FileId& to);
    static constexpr unsigned kReadOnlyAttribute = 1, kSystemAttribute = 2, kArchiveAttribute = 4;
    Status SetAttributes(const FileId& file, unsigned set, unsigned clear);
    // A read-only check, reading every block of every file; the problems
    // in directory order.
    std::vector<CheckProblem> Check();
    // Making the disk contiguous (Optimise.cpp): the plan alone, refused
    // (ReadOnly, the cause saying why) for a damaged directory; and the plan
    // carried out, every moving block read before any is written and the
    // directory written last.
    Status PlanOptimise(OptimisePlan& plan) const;
    // The files whose blocks lie in more than one run, with their runs, in
    // directory order: no damage, but what optimise mends.
    std::vector<std::pair<FileId, std::size_t>> FragmentedFiles() const;
    Status Optimise(OptimisePlan& plan);

    // The directory buffer as it stands (tests compare it byte for byte).
    const std::uint8_t* DirectoryBuffer() const { return m_Directory; }
    std::size_t DirectoryEntries() const { return m_Layout.DirectoryEntries(); }
    // Two-byte block numbers (eight to an entry): 256 blocks or more in the
    // data area.
    bool WideBlockNumbers() const { return m_Layout.slotsPerEntry == 8; }

  private:
    // The in-memory directory and map, to put back after a failed change.
    struct Snapshot {
        std::uint8_t directory[kDirBufferSize];
        std::uint32_t map[kMapBlocks];
    };
    void TakeSnapshot(Snapshot& snapshot) const;
    void RestoreSnapshot(const Snapshot& snapshot);
    // Writes the directory back; on failure puts `before` back.
    Status CommitDirectory(const Snapshot& before);
    // The file's blocks and entries, in memory only (see WriteFile).
    Status WriteFileData(const FileId& file, const std::vector<std::uint8_t>& data,
                         const CpmEntry* attributesFrom);
    Status ChangeEntries(const FileId& file, const std::function<void(CpmEntry&)>& change,
                         bool withPassword);
    // CP/M Plus's stamps of a file just written at these positions (the
    // first holds extent 0): its create (or access) and update stamps set to
    // now as the label asks, the other slots cleared. Nothing on a disk
    // without stamp entries.
    void StampNewFile(const std::vector<std::uint16_t>& positions);
    // Clears the stamp slots of entries that are freed.
    void ClearStampSlots(const std::vector<std::uint16_t>& positions);
    // Marks in use every block a live entry names.
    void KeepSharedBlocksInUse();
    void MarkEntryBlocks(const CpmEntry& entry, std::uint32_t flag);
    void PutEntry(std::uint16_t index, const CpmEntry& entry);
    std::uint8_t UserByte(std::uint16_t index) const { return m_Directory[index * kDirEntrySize]; }
    // More records than the entry's blocks hold.
    bool LacksBlocks(const CpmEntry& entry) const;
    std::uint32_t DirectorySectors() const;
    // Only the directory region changes; past it the buffer stays 0xE5.
    std::size_t DirectoryBytes() const;
    // Entries of the directory region; every position past it reads 0xE5,
    // so scans stop there.
    std::uint32_t DirectoryLimit() const {
        return static_cast<std::uint32_t>(
            std::min<std::size_t>(DirectoryEntries(), kMaxDirEntries));
    }
    unsigned SlotsPerEntry() const { return m_Layout.slotsPerEntry; }
    // On a track whose sectors are of another size: never read as the layout's.
    bool BlockOnOtherSizes(std::uint16_t block) const;
    Status ForeignTrackStatus() const { return {FailReason::ForeignTrack, m_Map.ForeignTrack()}; }
    // The status of a transfer that failed: where, and the library's error.
    Status SectorFailure(FailReason reason, std::uint32_t logical, int error) const;

    // What the directory walk finds, entry by entry: a user byte that is
    // neither a user number, free, a CP/M 3 label or stamps, nor a password
    // record; a name with control bytes; an extent given twice; a record
    // count over 128; each block an entry names (in the directory, past the
    // disk, already named by entry `sharedWith`, or its own); more records
    // than blocks.
    struct DirectoryFinding {
        enum class Kind {
            UserByte,
            InvalidName,
            ExtentTwice,
            RecordCountOver128,
            ExtentNumberInvalid,
            BlockInDirectory,
            BlockPastDisk,
            BlockShared,
            BlockOwned,
            FewerBlocksThanRecords,
        };
        Kind kind;
        std::uint32_t index;
        const CpmEntry* entry;
        std::uint16_t block;
        std::int32_t sharedWith;
    };
    void ScanDirectory(const std::function<void(const DirectoryFinding&)>& visit) const;

    ILogicalSectors& m_Sectors;
    const CSectorMap& m_Map;
    DiskLayout m_Layout{};
    alignas(DirEntry) std::uint8_t m_Directory[kDirBufferSize] = {};
    // The directory region as it is on the disk, to put back sectors of a
    // write-back that failed part-way. Filled by every read of the own
    // buffer and read only while it is current, so it is not cleared when
    // the volume is made (every command makes one).
    alignas(DirEntry) std::uint8_t m_DiskDirectory[kDirBufferSize];
    std::uint32_t m_AllocMap[kMapBlocks] = {};
    bool m_bCurrent = false;
    bool m_bBroken = false;
    Damage m_Damage = Damage::None;
};

// The damage as a load reports it ("" for none).
const char* DamageText(CCpmVolume::Damage damage);
