#pragma once
// The one object through which the program works on a disk image: opening,
// the geometry and the sectors, saving, and the file operations of its CP/M
// volume (CpmVolume.h) under the names the front ends use. It reaches LibDsk
// only through its owner, and shows nothing: what the user is to be told
// comes back as notices (TakeNotices).

#include "BootSum.h"
#include "CpmName.h"
#include "CpmVolume.h"
#include "DiskMap.h"
#include "DiskStructs.h"
#include "FailReason.h"
#include "FileHeader.h"
#include "IDiskOwner.h"
#include "ImageFile.h"
#include "SectorDevice.h"
#include "SectorMap.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CHostFileWriter;

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
    // The format every later load reads its image by, whatever the disk's
    // first sector says (null: told by the disk, as usual). A load of an
    // image the format does not fit is refused, saying which figure differs.
    void NameFormat(const DiskFormat* format) { m_pNamedFormat = format; }
    const DiskFormat* NamedFormat() const { return m_pNamedFormat; }
    int CloseImage();
    void ShowGeometry();
    // Which host file the open image was loaded from: what a command that
    // writes host files must never write over.
    const FileIdentity& ImageIdentity() const { return m_File.Loaded(); }

    // Catalogue.
    int ReadCatalogue(Catalogue& rows);
    // The file system itself, for what the window does not show: free
    // space, stamps, passwords, the map.
    const CCpmVolume& Volume() const { return m_Volume; }

    // File operations. Each returns 1 on success and 0 on failure, leaving
    // the reason in LastStatus().
    enum class HostNames {
        Padded,  // "NAME    .TYP", as the directory holds it
        Trimmed, // "NAME.TYP", or "NAME" for a blank type
    };
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
        // Added to the host name (".txt" for a file converted to text).
        std::string hostSuffix;
    };
    int ExtractFile(const std::string& folder, const FileEntry& row, const ExtractOptions& options);
    // A file's data, as stored (whole records), handed to `sink` in pieces;
    // a false from the sink stops the copy with HostWrite.
    using DataSink = CCpmVolume::DataSink;
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
    static constexpr unsigned kReadOnlyAttribute = CCpmVolume::kReadOnlyAttribute,
                              kSystemAttribute = CCpmVolume::kSystemAttribute,
                              kArchiveAttribute = CCpmVolume::kArchiveAttribute;
    int SetAttributes(const FileEntry& row, unsigned set, unsigned clear);
    // Each row's first sector (no more than the file's size); empty for a
    // file whose start cannot be read.
    std::vector<std::vector<std::uint8_t>> FileStarts(const std::vector<FileEntry>& rows);
    // A read-only check of the file system, reading every block of every
    // file; the problems in directory order.
    std::vector<CheckProblem> CheckFileSystem();
    // Where everything lies: every sector of the disk with its part in the
    // file system, each file's blocks and runs (DiskMap.h). Reads every
    // sector of the layout once, to tell which cannot be read. A disk whose
    // file system cannot be read is mapped as its container's tracks.
    int ReadDiskMap(DiskMap& map);
    // Makes every file one run of blocks, the files in directory order
    // from the first block after the directory and the directory compact
    // (CCpmVolume::Optimise), in one change; with `dryRun` only the plan.
    // Refused for an image that may not be written or a damaged directory.
    int OptimiseDisk(OptimisePlan& plan, bool dryRun);
    // The copy protection the container's tracks show (Protection.h);
    // nothing for a plain disk or a container that keeps no track layouts.
    std::optional<ProtectionFinding> ReadProtection() const;
    // A blank disk of one of the known formats (Formats.h; null: the +3
    // disk). With `replace` false an existing file at `path` is never
    // replaced.
    int CreateImage(const std::string& path, bool replace = true,
                    const DiskFormat* format = nullptr);
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
    // failed save does the same and tells "Unable to save disk image".
    //
    // A change begun while another of the same image runs joins it: the
    // outer one saves.
    // (ImageTransaction.h)
    class Transaction;
    // How the last operation ended: why it failed, and the cause in the
    // library's or the system's words where one is known.
    const Status& LastStatus() const { return m_Status; }
    // What the operations since the last call told the user (failures in
    // the window's words, warnings, reports), in order; the front end shows
    // them after each operation. Nothing is shown by the image itself.
    std::vector<Notice> TakeNotices();
    const std::vector<Notice>& Notices() const { return m_Notices; }

    // State, for the front ends and the tests.
    bool IsOpen() const {
        return m_Device.Handle() != nullptr || m_bHandleDeferred || m_Device.partition.IsOpen();
    }
    bool IsReadOnly() const { return m_bReadOnly; }
    // The kind of container the image came in ("CPCEMU extended"); "" when
    // the disk library does not say.
    const std::string& ContainerName() const { return m_strContainer; }
    // Whether a change could be saved: the directory was read whole and
    // the image file and its folder may be written.
    bool IsWritable() const;
    // Why a disk with tracks of its own format is listed but never changed
    // ("track 3 holds 5 sectors of 1024 bytes: a disk with a format of its
    // own can be listed, not changed"); "" for a disk of one format.
    std::string ForeignFormatText() const;
    // The parameters describe the open image (its geometry and boot sector
    // were read and accepted), so its directory can be trusted to be read.
    bool IsMapped() const { return IsOpen() && m_bMapped; }
    const std::string& ImagePath() const { return m_strImagePath; }
    // The partition of a hard-disk image the volume is ("" for a disk).
    const std::string& PartitionName() const { return m_strPartition; }
    // Where the open image's sectors are (geometry, sector ids, the tracks'
    // order) and how its file system lies on them (the disk specification,
    // blocks, directory).
    const CSectorMap& Map() const { return m_Device.map; }
    const DiskLayout& Layout() const { return m_Volume.Layout(); }
    const std::uint8_t* BootSector() const { return m_BootSector; }

private:
  // The report ShowGeometry tells.
  std::string GeometryReport() const;
  // Whether changes are saved in the container the image came in, and
  // why not, in a user's words, where they are not.
  bool ForeignContainerWritable() const;
  std::string ForeignContainerText() const {
      return m_strForeignContainer +
             " images are read, not changed: changes are saved to .dsk, ImageDisk, TeleDisk, "
             "CopyQM and LDBS images and raw dumps";
  }
    // Runs an operation that changes the image inside a change of its own
    // (or joined to the one already under way).
    template <typename Operation> int InChange(Operation&& operation);
    // A write the running change could not undo: it must not be saved.
    void NoteBroken();
    // The steps of a change (ImageTransaction.h). Begin joins a change
    // under way (`outermost` false then); a load for a change locks and
    // copies the file before it is read.
    bool BeginChange(bool& outermost);
    bool LoadForChange(const std::string& path);
    bool StartChange();
    void EndChange();
    // The working copy: the image file copied into a new file in its
    // folder, opened through the library, receives the writes.
    bool OpenWorkingCopy();
    void DiscardWork();
    // Ends the change with nothing saved: the working copy dropped, the
    // file unlocked.
    void DropChange();
    void RollBackChange();
    bool SaveChange();
    // Closes the working copy (LibDsk writes it out then) and puts it in
    // the image file's place; false with the cause when that fails.
    bool WriteOutWork(std::string& cause);
    // Saves a partition's change in place; false (told) when that fails.
    bool SavePartition(std::string& cause);
    // A change of the volume inside an update: refused when the directory
    // may not be written, its status taken as the operation's.
    int ChangeVolume(const std::function<Status()>& change);
    // The status of a volume operation as the image's; 1 when it succeeded.
    int Take(Status status);
    // An operation's result, its status naming the file it concerns.
    int About(const FileId& file, int result) { return About(file.Shown(), result); }
    int About(const std::string& file, int result) {
        m_Status.file = file;
        return result;
    }
    // Loads the image at `path`, reading it through the library at
    // `libraryPath` (a copy of it) when that is given.
    int LoadFrom(const std::string& path, const std::string& libraryPath);
    // The steps of a load: the file opened through the library with its
    // geometry and the shape of its container; the geometry taken for the
    // sector map, false when the mapping cannot serve it.
    bool OpenThroughLibrary(const std::string& opened);
    // The steps of a load of a disk through the library, and of a
    // partition of a hard-disk image (`host`:`name`); false when told.
    bool LoadDisk(const std::string& libraryPath);
    bool LoadPartition(const std::string& host, const std::string& name);
    bool TakeGeometry();
    int ImportInto(const std::string& hostPath);
    int ExtractInto(const std::string& folder, const FileEntry& row, const ExtractOptions& options);
    int WriteBootFrom(const std::string& hostPath, BootWrite mode, BootMachine bootable);
    int CreateAt(const std::string& libraryPath, const DiskFormat& format);
    // The library handle, opened again when a save left it closed.
    bool EnsureHandle();
    // Another program replaced or wrote the image file since it was loaded
    // or saved here.
    bool ChangedOnDisk() const;
    // Before an operation reads the image: when another program changed the
    // file, the image is loaded again (nothing of the old directory stays)
    // and the operation refused (ImageChanged, told), for its rows may name
    // files the file no longer holds. False then, or when no image is open.
    bool StillAsLoaded();
    int SaveFailed(const std::string& cause);
    // The layout derived from the boot sector in the buffer, and the
    // directory and map read by it; false (nothing may be written) when
    // the format cannot be mapped (`refusal` says why where it can).
    bool MapFromBootSector(std::string* refusal = nullptr);
    // The disk's figures as the sector map has them, for the layout.
    GeometryFigures Figures() const;
    // LibDsk's geometry with the cylinders and heads the container holds.
    void TakeContainerShape(DSK_GEOMETRY& geometry) const;
    // Refuses a change to the directory: no image, or one that must not be written.
    bool CanWriteDirectory();
    // After a read of the directory with this many unreadable sectors:
    // nothing may write it unless it was read whole.
    int NoteDirectoryRead(int failures);
    // The volume's directory read again from the disk, and noted so.
    int RereadDirectory();

    // What the user is to be told, kept for the front end (TakeNotices);
    // an error's cause is the status's too.
    void TellError(const char* text, const std::string& cause = {});
    void TellWarning(const std::string& text, const std::string& cause = {});
    int Fail(FailReason reason);
    // A failure of the host file system, with its cause.
    int HostFailure(FailReason reason, const std::string& cause);
    void CloseHandle();

    IDiskOwner* m_pOwner;
    std::string m_strImagePath;

    // The file behind the image path: the one a change locks, copies and
    // replaces.
    CImageFile m_File;
    // The change under way, if any.
    struct ChangeState {
        bool active = false;
        unsigned serial = 0;
        // An operation of the change succeeded: there is something to save.
        bool changed = false;
        // A failed write could not be undone in the working copy: it must
        // not be saved.
        bool broken = false;
        // The transfers go to the working copy, and this is the handle on
        // the image file itself, set aside meanwhile (null when none).
        bool working = false;
        DSK_PDRIVER fileHandle = nullptr;
    };
    ChangeState m_Change;
    unsigned m_ChangeSerial = 0;
    // After a save the handle is opened again only when next needed.
    bool m_bHandleDeferred = false;
    Status m_Status;
    std::vector<Notice> m_Notices;
    std::string m_strForeignContainer;
    std::string m_strContainer;
    std::string m_strPartition;
    // Why the image, read from a copy made whole, is never changed ("" for
    // one read as it stands).
    std::string m_strReadOnlyCause;
    std::uint8_t m_BootSector[kBootSectorSize] = {};
    // The disk through the library, and the file system on it.
    CSectorDevice m_Device;
    CCpmVolume m_Volume{m_Device, m_Device.map};
    // Part of the directory could not be read, or the image was not fully
    // opened: nothing may write the directory.
    bool m_bReadOnly = false;
    bool m_bMapped = false;
    const DiskFormat* m_pNamedFormat = nullptr;
};

#include "ImageTransaction.h"

// The +3DOS or AMSDOS header of a file whose first sector is `start`, if any.
std::optional<FileHeader> FileHeaderOf(std::span<const std::uint8_t> start, const FileEntry& row);
// The host name a file is extracted under.
std::string HostName(const FileEntry& row, CDiskImage::HostNames style);
