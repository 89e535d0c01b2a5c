#pragma once
// The one object through which the program works on a disk image: opening
// and the file-system parameters, the directory and block-allocation map, the
// catalogue and the file operations. It shows messages and reaches LibDsk only
// through its owner.

#include "BootSum.h"
#include "CpmEntry.h"
#include "CpmName.h"
#include "DiskStructs.h"
#include "FailReason.h"
#include "FileHeader.h"
#include "IDiskOwner.h"
#include "Layout.h"
#include "SafeFile.h"
#include "SectorMap.h"
#include "Stamps.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CHostFileWriter;

// One finding of the file-system check: the file ("USER:NAME.TYP", or the
// directory entry when it names none; empty for the image) and what is wrong.
struct CheckProblem {
    std::string file;
    std::string text;
};

class CDiskImage {
public:
    static constexpr const char* kErrorCaption = "ERROR";
    static constexpr const char* kGeometryCaption = "Disk Geometry";

    explicit CDiskImage(IDiskOwner* owner);
    ~CDiskImage();
    CDiskImage(const CDiskImage&) = delete;
    CDiskImage& operator=(const CDiskImage&) = delete;

    // Opening, closing, geometry.
    int LoadImage(const std::string& path);
    int CloseImage();
    void ShowGeometry();
    std::string GeometryReport() const;
    int CylinderOfTrack(std::uint16_t track) const;
    int HeadOfTrack(std::uint16_t track) const;

    // What a load found wrong with the directory's live entries.
    enum class Damage {
        None,
        BlocksOutsideDisk, // a block number past the disk or inside the directory
        SharedBlocks,      // one block named twice
        MissingBlocks,     // more records than the named blocks hold
        InvalidName,       // a name or type byte that is no printable character
    };

    // Directory and allocation map. A file is the live entries with equal
    // user number, name and type, names and types compared with their
    // attribute bits masked (as CP/M compares them).
    int ReadDirectory(std::uint8_t* target);
    int BuildAllocationMap();
    int FindFreeBlock(std::uint16_t& block) const;
    int FindExtent(const FileId& file, std::uint16_t& position) const;
    // The file's name and type present under any user number (the window's
    // drop refuses it).
    bool NameInUse(const FileId& file) const;
    int AllocDirEntry(const FileId& file, std::uint16_t& index);
    int ReadBlock(std::uint16_t block, std::uint8_t* buffer);
    int WriteBlock(std::uint16_t block, const std::uint8_t* buffer);
    int WriteDirectory();
    std::uint32_t GetCapacity() const;
    std::uint32_t GetUsedSpace() const;
    // The space that can really be allocated: free blocks after the
    // directory that lie wholly on the disk.
    std::uint32_t GetFreeSpace() const;

    // Catalogue.
    int ReadCatalogue(Catalogue& rows);
    int IsListed(const Catalogue& rows, const FileId& file) const;
    std::uint32_t SumFileSize(const FileId& file) const;
    // Where the entry's data ends in its file.
    std::uint64_t EntryEnd(const CpmEntry& entry) const;
    // The directory positions of a file's entries, in extent order.
    std::vector<std::uint16_t> FileExtents(const FileId& file) const;
    // The decoded entry at a directory position.
    CpmEntry EntryAt(std::uint16_t index) const;

    // File operations. Each returns 1 on success and 0 on failure, leaving
    // the reason in LastStatus().
    enum class HostNames {
        Padded,  // "NAME    .TYP", as the directory holds it
        Trimmed, // "NAME.TYP", or "NAME" for a blank type
    };
    // The host name a file is extracted under.
    static std::string HostName(const FileEntry& row, HostNames style);
    int ExtractFile(const std::string& folder, const FileEntry& row,
                    HostNames style = HostNames::Padded);
    // The command line's extraction: the data may be cut (a header taken
    // off, an exact length) before it is written, and an existing host file
    // may be left alone (FileExists).
    struct ExtractOptions {
        HostNames style = HostNames::Trimmed;
        bool replace = true;
        std::function<void(std::vector<std::uint8_t>&)> filter;
        // When given, the complete host file is left here, unnamed, for the
        // caller to name with others (CommitTogether) instead of being
        // named at once.
        std::vector<std::unique_ptr<CHostFileWriter>>* deferred = nullptr;
        // The host file's modification time: the file's update stamp.
        bool stampTime = false;
    };
    int ExtractFile(const std::string& folder, const FileEntry& row, const ExtractOptions& options);
    // Whether a host name can be created inside a folder.
    static bool HostNameAllowed(const std::string& name);
    // A file's data, as stored (whole records), handed to `sink` in pieces;
    // a false from the sink stops the copy with HostWrite.
    using DataSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
    int ReadFileData(const FileEntry& row, const DataSink& sink);
    int ImportFile(const std::string& hostPath);
    // The command line's import: `data` stored under the given user number
    // and name. A file of that name under another user does not stand in
    // the way; one under the same user is replaced only when asked, in the
    // same save, its data kept whole until the new file is in place.
    struct ImportTarget {
        FileId file;
        bool replace = false;
    };
    int ImportData(const ImportTarget& target, const std::vector<std::uint8_t>& data);
    int EraseFile(const FileEntry& row);
    // Renames a file and/or gives it to another user; refused when a file
    // of the new user and name exists.
    int RenameFile(const FileEntry& row, const FileId& to);
    static constexpr unsigned kReadOnlyAttribute = 1, kSystemAttribute = 2,
                              kArchiveAttribute = 4;
    int SetAttributes(const FileEntry& row, unsigned set, unsigned clear);
    // CP/M 3's byte count of the file's last record (S1 of its last
    // entry); 0 when not set, which means a whole record.
    std::uint8_t LastRecordBytes(const FileEntry& row) const;
    // The file's first sector (no more than the file's size); empty when
    // it cannot be read.
    std::vector<std::uint8_t> FileStart(const FileEntry& row);
    // The +3DOS or AMSDOS header a file starting with those bytes has, if any.
    static std::optional<FileHeader> FileHeaderOf(const std::vector<std::uint8_t>& start,
                                                  const FileEntry& row);
    // Blocks the file's entries name.
    std::uint32_t FileBlockCount(const FileEntry& row) const;
    // CP/M Plus's label, and the stamps of a file (those of its first
    // entry) where the disk keeps them.
    std::optional<DiskLabel> Label() const;
    struct FileStamps {
        std::optional<CalendarTime> created, accessed, updated;
    };
    FileStamps StampsOf(const FileEntry& row) const;
    // The same with the label already at hand (listings of many files).
    FileStamps StampsOf(const FileEntry& row, const std::optional<DiskLabel>& label) const;
    // Whether the directory holds stamp entries, or password records.
    bool HasStampEntries() const;
    bool HasPasswordRecords() const;
    // The mode of the file's CP/M Plus password record (bit 7 reading, 6
    // writing, 5 deleting need the password), if it has one.
    std::optional<std::uint8_t> PasswordModeOf(const FileEntry& row) const;
    // A read-only check of the file system, reading every block of every
    // file; the problems in directory order.
    std::vector<CheckProblem> CheckFileSystem();
    // The blank disks New can make: LibDsk's standard formats pcw180 (the
    // +3 disk), pcw720, cpcdata and cpcsys.
    enum class NewFormat { Plus3, Pcw720, CpcData, CpcSystem };
    // With `replace` false an existing file at `path` is never replaced.
    int CreateImage(const std::string& path, bool replace = true,
                    NewFormat format = NewFormat::Plus3);
    // KeepFormat refuses (ChangesFormat, nothing written) bytes that would
    // change the disk specification or the geometry LibDsk derives from
    // the boot sector; the front end asks the user and may call again with
    // ChangeFormat.
    enum class BootWrite { KeepFormat, ChangeFormat };
    // `bootable` sets byte 15 so that the machine starts from the disk.
    int WriteBootSector(const std::string& hostPath, BootWrite mode = BootWrite::KeepFormat,
                        BootMachine bootable = BootMachine::None);
    int ReadBootSector(const std::string& hostPath);

    // Saving. Every change is saved to the image file before the operation
    // that made it returns, whole and atomically, under an exclusive lock on
    // the file. A Transaction gathers the changes of several operations
    // into one save: begun, the file is locked (and taken up afresh when
    // another program changed it since it was loaded); committed, every
    // change is saved at once; ended without a commit, the image file stays
    // as it was and the directory and map are as the file holds them. A
    // failed save does the same and shows "Unable to save disk image".
    class Transaction {
    public:
        // A change of the open image.
        explicit Transaction(CDiskImage& image) : m_Image(image), m_bBegan(image.BeginUpdate() != 0) {}
        // Loads the image at `path` for a change: the file is locked and
        // copied first and only the copy is read through the library, once.
        Transaction(CDiskImage& image, const std::string& path)
            : m_Image(image), m_bBegan(image.LoadForUpdate(path) != 0) {}
        ~Transaction() {
            if (!m_bEnded)
                m_Image.AbandonUpdate();
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        // Whether the change began (for a load: the image was loaded whole).
        bool Began() const { return m_bBegan; }
        // Saves what changed; false when the save failed (shown).
        bool Commit() {
            m_bEnded = true;
            return m_Image.EndUpdate() != 0;
        }

    private:
        CDiskImage& m_Image;
        bool m_bBegan;
        bool m_bEnded = false;
    };
    // How the last operation ended: why it failed, and the cause in the
    // library's or the system's words where one is known.
    const Status& LastStatus() const { return m_Status; }

    // State, for the front ends and the tests.
    bool IsOpen() const { return m_hImage != nullptr || m_Save.handleDeferred; }
    bool IsReadOnly() const { return m_bReadOnly; }
    // The kind of container ("ImageDisk") an image read in a child process
    // came in, "" for the containers read and saved here; such an image is
    // listed and extracted, not changed.
    const std::string& ForeignContainer() const { return m_strForeignContainer; }
    // The kind of container the image came in ("CPCEMU extended"); "" when
    // the disk library does not say.
    const std::string& ContainerName() const { return m_strContainer; }
    // Whether changes to it are saved (in its own kind of container), and
    // why not, in a user's words, where they are not.
    bool ForeignContainerWritable() const;
    std::string ForeignContainerText() const {
        return m_strForeignContainer +
               " images are read, not changed: changes are saved to .dsk, ImageDisk, TeleDisk, "
               "CopyQM and LDBS images and raw dumps";
    }
    // Whether a change could be saved: the directory was read whole and
    // the image file and its folder may be written.
    bool IsWritable() const;
    Damage DirectoryDamage() const { return m_Damage; }
    // The damage as a load reports it ("" for none).
    static const char* DamageText(Damage damage);
    // Why a disk with tracks of its own format is listed but never changed
    // ("track 3 holds 5 sectors of 1024 bytes: a disk with a format of its
    // own can be listed, not changed"); "" for a disk of one format.
    std::string ForeignFormatText() const;
    // The parameters describe the open image (its geometry and boot sector
    // were read and accepted), so its directory can be trusted to be read.
    bool IsMapped() const { return IsOpen() && m_bMapped; }
    const std::string& ImagePath() const { return m_strImagePath; }
    const DiskSpec& Spec() const { return m_Layout.spec; }
    std::uint16_t FirstSectorId() const { return m_Sectors.firstSectorId; }
    std::uint16_t DataFirstSectorId() const { return m_Sectors.dataFirstSectorId; }
    std::uint16_t SectorsPerTrack() const { return m_Sectors.sectorsPerTrack; }
    std::uint8_t Heads() const { return m_Sectors.heads; }
    std::uint16_t Cylinders() const { return m_Sectors.cylinders; }
    std::uint16_t SectorsPerBlock() const { return m_Layout.sectorsPerBlock; }
    std::uint16_t SectorSize() const { return m_Sectors.sectorSize; }
    std::uint16_t BlockSize() const { return m_Layout.blockSize; }
    std::uint8_t DirectoryBlocks() const { return m_Layout.directoryBlocks; }
    std::uint16_t TotalBlocks() const { return m_Layout.totalBlocks; }
    // Two-byte block numbers (eight to an entry): 256 blocks or more in the
    // data area.
    bool WideBlockNumbers() const { return m_Layout.slotsPerEntry == 8; }
    std::size_t DirectoryEntries() const;
    const std::uint8_t* DirectoryBuffer() const { return m_Directory; }
    const std::uint8_t* BootSector() const { return m_BootSector; }
    bool IsBlockFree(std::uint16_t block) const { return block < kMapBlocks && m_AllocMap[block]; }
    bool BlockOnDisk(std::uint32_t block) const;
    // On the disk, and on a track that holds the layout's sectors.
    bool BlockAllocatable(std::uint32_t block) const;

private:
    int BeginUpdate();
    int EndUpdate();
    int LoadForUpdate(const std::string& path);
    // Ends an update without saving: the working copy dropped, and the
    // directory and map read again from the file when anything had changed.
    void AbandonUpdate();
    // Runs an operation that changes the image inside an update of its own
    // (or the one already under way).
    template <typename Operation> int InUpdate(Operation&& operation) {
        if (!BeginUpdate())
            return 0;
        const int result = operation();
        if (result)
            m_Save.changed = true;
        return EndUpdate() ? result : 0;
    }
    // Loads the image at `path`, reading it through the library at
    // `libraryPath` (a copy of it) when that is given.
    int LoadFrom(const std::string& path, const std::string& libraryPath);
    int ImportInto(const std::string& hostPath);
    int ImportDataInto(const ImportTarget& target, const std::vector<std::uint8_t>& data);
    enum class WithPassword { No, Yes };
    int ChangeEntries(const FileEntry& row, const std::function<void(CpmEntry&)>& change,
                      WithPassword password = WithPassword::No);
    // The directory positions of a file's CP/M Plus password records.
    std::vector<std::uint16_t> PasswordRecords(const FileId& file) const;
    // Marks in use every block a live entry names.
    void KeepSharedBlocksInUse();
    // Reads up to `size` bytes; -1 on a read error.
    using DataSource = std::function<long(std::uint8_t* data, std::size_t size)>;
    // `attributesFrom`, when given, lends the new entries its read-only
    // and system bits (a file replaced keeps them).
    int WriteFileData(const FileId& file, std::uint32_t length, const DataSource& source,
                      const CpmEntry* attributesFrom = nullptr);
    // CP/M Plus's stamps of a file just written at these positions (the
    // first holds extent 0): its create (or access) and update stamps set to
    // now as the label asks, the other slots cleared. Nothing on a disk
    // without stamp entries.
    void StampNewFile(const std::vector<std::uint16_t>& positions);
    // Clears the stamp slots of entries that are freed.
    void ClearStampSlots(const std::vector<std::uint16_t>& positions);
    int EraseFrom(const FileEntry& row);
    int WriteBootFrom(const std::string& hostPath, BootWrite mode, BootMachine bootable);
    int CreateAt(const std::string& libraryPath, NewFormat format);
    // The library handle, opened again when a save left it closed.
    bool EnsureHandle();
    // Starts the update's working copy: the image file copied into a new
    // file in its folder, opened through the library, receives the writes.
    bool OpenWorkingCopy();
    // Drops the working copy and turns back to the image file.
    void DiscardWork();
    // Another program replaced or wrote the image file since it was loaded
    // or saved here.
    bool ChangedOnDisk() const;
    int SaveFailed(const std::string& cause);
    // The layout derived from the boot sector in the buffer, and the
    // directory and map read by it; false (nothing may be written) when
    // the format cannot be mapped.
    bool MapFromBootSector();
    // LibDsk's geometry with the cylinders and heads the container holds.
    void TakeContainerShape(DSK_GEOMETRY& geometry) const;
    std::string LibraryErrorText(dsk_err_t err) const;

    // The in-memory directory and map, to put back after a failed change.
    struct Snapshot {
        std::uint8_t directory[kDirBufferSize];
        std::uint32_t map[kMapBlocks];
    };
    void TakeSnapshot(Snapshot& snapshot) const;
    // Writes the directory back; on failure puts `before` back and fails
    // with the write's reason.
    int CommitDirectory(const Snapshot& before);
    // More records than the entry's blocks hold.
    bool LacksBlocks(const CpmEntry& entry) const;
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
    std::size_t DirectoryBytes() const;
    void RestoreSnapshot(const Snapshot& snapshot);
    // Refuses a change to the directory: no image, or one that must not be written.
    bool CanWriteDirectory();

    void ShowError(const char* text, const std::string& cause = {});
    void ShowWarning(const char* text);
    int Fail(FailReason reason);
    // A failure of the host file system: its cause taken from errno.
    int HostFailure(FailReason reason);
    void CloseHandle();
    dsk_err_t ReadSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                         std::uint8_t* buffer);
    dsk_err_t WriteSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                          const std::uint8_t* buffer);
    // The first of the track's run of sector ids: LibDsk's guess when the
    // track holds sectors-per-track ids from it on, else the lowest id on
    // the track when they follow from that, else the guess.
    std::uint16_t TrackFirstSectorId(std::uint16_t cylinder, std::uint8_t head,
                                     std::uint16_t guess);
    // Transfers one logical sector counted from the first sector of logical track 0.
    dsk_err_t ReadLogical(std::uint32_t logical, std::uint8_t* buffer);
    dsk_err_t WriteLogical(std::uint32_t logical, const std::uint8_t* buffer);
    std::uint32_t DirectorySectors() const;
    // Entries of the directory region; every position past it reads 0xE5,
    // so scans stop there.
    std::uint32_t DirectoryLimit() const {
        return static_cast<std::uint32_t>(std::min(DirectoryEntries(), kMaxDirEntries));
    }
    unsigned SlotsPerEntry() const { return m_Layout.slotsPerEntry; }
    void MarkEntryBlocks(const CpmEntry& entry, std::uint32_t flag);
    void PutEntry(std::uint16_t index, const CpmEntry& entry);
    std::uint8_t UserByte(std::uint16_t index) const { return m_Directory[index * kDirEntrySize]; }

    IDiskOwner* m_pOwner;
    std::string m_strImagePath;
    DSK_PDRIVER m_hImage = nullptr;

    // Saving (host files only).
    struct SaveState {
        // The file behind the image path, links followed: the one that is
        // locked and replaced.
        std::string path;
        // The version of that file that the in-memory directory came from.
        FileIdentity loaded;
        CFileLock lock;
        CPendingFile workingCopy;
        // The bytes the working copy was made from: what the file must
        // still hold when the copy replaces it.
        std::vector<std::uint8_t> original;
        // While an update runs, the handle on the image file itself
        // (m_hImage is on the working copy); null when none was open.
        DSK_PDRIVER fileHandle = nullptr;
        // m_hImage is on the working copy.
        bool working = false;
        // After a save the handle is opened again only when next needed.
        bool handleDeferred = false;
        unsigned depth = 0;
        // An operation of the running update succeeded: there is something
        // to save.
        bool changed = false;
        // A failed write could not be undone in the working copy: it must
        // not be saved.
        bool broken = false;
    } m_Save;
    Status m_Status;
    std::string m_strForeignContainer;
    std::string m_strContainer;
    DSK_GEOMETRY m_Geometry{};
    alignas(DirEntry) std::uint8_t m_Directory[kDirBufferSize] = {};
    std::uint8_t m_BootSector[kBootSectorSize] = {};
    // The disk's figures and where each logical sector lies.
    CSectorMap m_Sectors;
    DiskLayout m_Layout{};
    std::uint32_t m_AllocMap[kMapBlocks] = {};

    // The directory region as it is on the disk, to put back sectors of a
    // write-back that failed part-way; valid only while m_bDirectoryCurrent.
    // Until then it is free, and the allocation map is built in it.
    alignas(DirEntry) std::uint8_t m_DiskDirectory[kDirBufferSize];
    // The directory buffer holds this image's directory (not a previous one's).
    bool m_bDirectoryCurrent = false;
    // Part of the directory could not be read, or the image was not fully
    // opened: nothing may write the directory.
    bool m_bReadOnly = false;
    bool m_bMapped = false;
    // The geometry record was fetched and accepted; no transfer runs before.
    bool m_bGeometryValid = false;
    Damage m_Damage = Damage::None;
};
