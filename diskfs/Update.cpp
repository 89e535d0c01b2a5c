// Saving changes to the image file.
//
// LibDsk keeps some containers (CPCEMU, extended, CopyQM, IMD, TeleDisk) in
// memory and writes them back whole at dsk_close, truncating the file first;
// others it writes in place. Neither may happen to the user's file: an
// interruption or a full disk would leave it cut short. So a change copies
// the image file into a new, unnamed file in the same folder and opens that
// through LibDsk; every write goes there. At the end LibDsk closes it (which
// writes out what it kept in memory), the copy is synced and renamed over
// the image file, and the folder is synced. LibDsk does all container I/O;
// this file only copies bytes and moves names.
//
// A partition of a hard-disk image is too large to copy for each change:
// its writes wait in the partition's store and are written in place at the
// save, through a rollback journal (Journal.h).
//
// A change holds an exclusive flock on the image file from its start to
// its end, so Tarnlight processes take turns; a file that changed since it
// was loaded (another program saved it) is loaded again before anything is
// changed, so that nothing it wrote is lost.

#include "CDiskImage.h"
#include "HardDisk.h"

#include <unistd.h>
#include <utility>

bool CDiskImage::EnsureHandle() {
    if (m_Device.Handle() != nullptr)
        return true;
    if (!m_bHandleDeferred)
        return false;
    m_bHandleDeferred = false;
    // Only the file this directory was read from: one another program put
    // there since is never read with it.
    if (m_File.ChangedSinceLoaded() || m_Device.Open(m_File.Path()) != DSK_ERR_OK ||
        m_File.ChangedSinceLoaded()) {
        m_Device.Close();
        m_bReadOnly = true;
        return false;
    }
    return true;
}

int CDiskImage::SaveFailed(const std::string& cause) {
    TellError("Unable to save disk image", cause);
    return Fail(FailReason::SaveFailed);
}

bool CDiskImage::ChangedOnDisk() const {
    return !m_Change.active && IsOpen() && m_File.ChangedSinceLoaded();
}

bool CDiskImage::StillAsLoaded() {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    if (!ChangedOnDisk())
        return true;
    LoadImage(m_strImagePath);
    TellError("The disk image was changed by another program");
    return Fail(FailReason::ImageChanged);
}

CDiskImage::Transaction::Transaction(CDiskImage& image) : m_pImage(&image) {
    m_bBegan = image.BeginChange(m_bOutermost);
    m_Serial = image.m_Change.serial;
}

CDiskImage::Transaction::Transaction(CDiskImage& image, const std::string& path)
    : m_pImage(&image) {
    m_bBegan = image.LoadForChange(path);
    m_bOutermost = image.m_Change.active;
    m_Serial = image.m_Change.serial;
}

CDiskImage::Transaction::Transaction(Transaction&& other) noexcept
    : m_pImage(std::exchange(other.m_pImage, nullptr)), m_bBegan(other.m_bBegan),
      m_bOutermost(other.m_bOutermost), m_Serial(other.m_Serial) {}

CDiskImage::Transaction::~Transaction() {
    RollBack();
}

bool CDiskImage::Transaction::Owns() const {
    return m_pImage != nullptr && m_bOutermost && m_pImage->m_Change.active &&
           m_pImage->m_Change.serial == m_Serial;
}

bool CDiskImage::Transaction::Commit() {
    const bool owns = Owns();
    CDiskImage* image = std::exchange(m_pImage, nullptr);
    return !owns || image->SaveChange();
}

void CDiskImage::Transaction::RollBack() {
    if (Owns())
        m_pImage->RollBackChange();
    m_pImage = nullptr;
}

bool CDiskImage::StartChange() {
    m_Change = {};
    m_Change.active = true;
    m_Change.serial = ++m_ChangeSerial;
    return true;
}

void CDiskImage::EndChange() {
    m_Change.active = false;
}

bool CDiskImage::BeginChange(bool& outermost) {
    outermost = false;
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    // A change begun while another runs joins it: the outer one saves.
    if (m_Change.active)
        return true;
    if (!ForeignContainerWritable()) {
        m_Status.cause = ForeignContainerText();
        return Fail(FailReason::ReadOnly);
    }
    if (!m_pOwner->LibraryTable().imagesAreHostFiles)
        return outermost = StartChange();

    std::string cause;
    if (!m_File.Lock(cause))
        return SaveFailed(cause);
    FileIdentity now;
    if (!m_File.LockedVersion(now)) {
        // (The cause is taken before the unlock's close can change errno.)
        cause = ErrnoText(errno);
        m_File.Unlock();
        return SaveFailed(cause);
    }
    if (!(now == m_File.Loaded())) {
        // Another program saved the image since it was loaded: what it
        // wrote is taken up before anything is changed.
        const std::string locked = m_File.Path();
        if (!LoadImage(m_strImagePath)) {
            m_File.Unlock();
            return false;
        }
        if (m_File.Path() != locked || !(m_File.Loaded() == now)) {
            m_File.Unlock();
            TellError("The disk image was changed by another program");
            return Fail(FailReason::SaveFailed);
        }
    }
    // The file's own permissions decide, not the folder's: a rename would
    // otherwise replace a file the user made read-only.
    if (access(m_File.Path().c_str(), W_OK) != 0) {
        m_Status.cause = ErrnoText(errno);
        m_File.Unlock();
        return Fail(FailReason::ReadOnly);
    }
    StartChange();
    // A partition's writes wait in its store until the save.
    if (!m_strPartition.empty()) {
        if (!m_Device.partition.Writable()) {
            EndChange();
            m_File.Unlock();
            m_Status.cause = "the image file was opened read-only";
            return Fail(FailReason::ReadOnly);
        }
        m_Device.partition.Drop();
        return outermost = true;
    }
    if (!OpenWorkingCopy()) {
        EndChange();
        m_File.Unlock();
        return SaveFailed(m_Status.cause);
    }
    return outermost = true;
}

bool CDiskImage::LoadForChange(const std::string& path) {
    bool outermost = false;
    auto loadThenBegin = [&] { return LoadImage(path) && BeginChange(outermost); };
    // A hard-disk image is never copied: it is read in place, and the change
    // checks under its lock that it is still what was read.
    std::string host, partition;
    if (!m_pOwner->LibraryTable().imagesAreHostFiles ||
        SplitPartitionPath(path, IsHardDiskFile, host, partition))
        return loadThenBegin();
    if (IsOpen())
        CloseImage();
    const std::string target = ResolvedPath(path);
    // Whatever stands in the way is reported by the ordinary load and
    // change, which say it in their own words.
    std::string cause;
    FileIdentity identity;
    if (!m_File.Lock(target, cause))
        return loadThenBegin();
    if (!m_File.LockedVersion(identity) || access(target.c_str(), W_OK) != 0 ||
        !m_File.StartCopy(target, cause)) {
        m_File.Unlock();
        return loadThenBegin();
    }
    const int loaded = LoadFrom(path, m_File.CopyPath());
    if (loaded && !ForeignContainerWritable()) {
        // Listed still, but no change begins.
        m_File.DropCopy();
        m_File.Unlock();
        m_Status.cause = ForeignContainerText();
        return Fail(FailReason::ReadOnly);
    }
    // The handle, if any, is on the copy: the change is under way either
    // way (its end drops the copy when nothing was changed).
    m_File.NoteLoaded(identity);
    if (m_Device.Handle() == nullptr) {
        m_File.DropCopy();
        m_File.Unlock();
        return false;
    }
    StartChange();
    m_Change.working = true;
    return loaded != 0;
}

bool CDiskImage::OpenWorkingCopy() {
    std::string cause;
    if (!m_File.StartCopy(cause)) {
        m_Status.cause = cause;
        return false;
    }
    // The transfers go to the copy; the image file's own handle waits.
    m_Change.fileHandle = m_Device.Exchange(nullptr);
    const dsk_err_t err = m_Device.Open(m_File.CopyPath());
    if (err != DSK_ERR_OK) {
        m_Device.Exchange(std::exchange(m_Change.fileHandle, nullptr));
        m_File.DropCopy();
        m_Status.cause = "the copy of the image cannot be opened: " + m_Device.ErrorText(err);
        return false;
    }
    m_Change.working = true;
    return true;
}

void CDiskImage::DiscardWork() {
    if (!m_Change.working)
        return;
    m_Change.working = false;
    m_Device.Close(); // writes, if at all, only into the copy
    m_Device.Exchange(std::exchange(m_Change.fileHandle, nullptr));
    m_File.DropCopy();
}

void CDiskImage::DropChange() {
    EndChange();
    DiscardWork();
    m_Device.partition.Drop();
    m_File.Unlock();
}

void CDiskImage::RollBackChange() {
    const bool touched = m_Change.changed || m_Change.broken;
    DropChange();
    if (m_pOwner->LibraryTable().imagesAreHostFiles && touched)
        LoadImage(m_strImagePath);
}

bool CDiskImage::SaveChange() {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    if (!lib.imagesAreHostFiles) {
        EndChange();
        return true;
    }
    if (!m_Change.changed && !m_Change.broken) {
        DropChange();
        return true;
    }
    EndChange();
    std::string cause = "a failed write could not be undone";
    if (!m_strPartition.empty())
        return SavePartition(cause);
    const bool saved = !m_Change.broken && WriteOutWork(cause);
    if (!saved) {
        // The volume is what the file now holds, whoever wrote it.
        DropChange();
        LoadImage(m_strImagePath);
        return SaveFailed(cause);
    }
    if (!m_File.Warning().empty()) {
        m_Status.cause = m_File.Warning();
        TellWarning("The disk image was saved, but " + m_Status.cause, m_Status.cause);
    }
    // The saved copy is the image file now; the handle on the replaced file
    // is closed (it holds no change) and a new one opened when next needed.
    m_Device.Exchange(std::exchange(m_Change.fileHandle, nullptr));
    m_Device.Close();
    m_Change.working = false;
    m_bHandleDeferred = true;
    m_File.Unlock();
    return true;
}

bool CDiskImage::SavePartition(std::string& cause) {
    // Only the sectors the change wrote, in place, through the journal.
    if (m_Change.broken || !m_Device.partition.Commit(m_File.Path(), cause)) {
        DropChange();
        LoadImage(m_strImagePath);
        return SaveFailed(cause);
    }
    // The file as written here is the version loaded.
    if (FileIdentity now; IdentityOfFile(m_File.Path(), now))
        m_File.NoteLoaded(now);
    m_File.Unlock();
    return true;
}

bool CDiskImage::WriteOutWork(std::string& cause) {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    // A foreign container's changes were made on an extended copy: the
    // disk is written into the working copy in the container's own kind,
    // and read back, before the handle goes.
    std::string foreignCause;
    const bool foreignSaved =
        m_strForeignContainer.empty() ||
        (lib.save_foreign != nullptr &&
         lib.save_foreign(m_Device.Handle(), m_strForeignContainer.c_str(),
                          m_Device.map.containerCylinders, m_Device.map.containerHeads,
                          m_File.CopyDescriptor(), &foreignCause));
    // LibDsk writes out what it kept in memory only here.
    const dsk_err_t err = m_Device.Close();
    if (!foreignSaved) {
        cause = foreignCause.empty() ? ForeignContainerText() : foreignCause;
        return false;
    }
    if (err != DSK_ERR_OK && m_strForeignContainer.empty()) {
        // (The extended copy of a foreign container is dropped: what
        // LibDsk fails to write back to it is lost with it.)
        cause = m_Device.ErrorText(err);
        return false;
    }
    return m_File.ReplaceWithCopy(cause);
}
