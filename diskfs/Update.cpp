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
// A change holds an exclusive flock on the image file from its start to
// its end, so Tarnlight processes take turns; a file that changed since it
// was loaded (another program saved it) is loaded again before anything is
// changed, so that nothing it wrote is lost.

#include "CDiskImage.h"

#include <unistd.h>

bool CDiskImage::EnsureHandle() {
    if (m_Device.handle != nullptr)
        return true;
    if (!m_bHandleDeferred)
        return false;
    m_bHandleDeferred = false;
    auto open = m_pOwner->LibraryTable().dsk_open;
    // Only the file this directory was read from: one another program put
    // there since is never read with it.
    if (open == nullptr || m_File.ChangedSinceLoaded() ||
        open(&m_Device.handle, m_File.Path().c_str(), nullptr, nullptr) != DSK_ERR_OK ||
        m_File.ChangedSinceLoaded()) {
        m_Device.Close();
        m_Device.handle = nullptr;
        m_bReadOnly = true;
        return false;
    }
    return true;
}

int CDiskImage::SaveFailed(const std::string& cause) {
    ShowError("Unable to save disk image", cause);
    return Fail(FailReason::SaveFailed);
}

bool CDiskImage::ChangedOnDisk() const {
    return m_pChange == nullptr && IsOpen() && m_File.ChangedSinceLoaded();
}

bool CDiskImage::StillAsLoaded() {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    if (!ChangedOnDisk())
        return true;
    LoadImage(m_strImagePath);
    ShowError("The disk image was changed by another program");
    return Fail(FailReason::ImageChanged);
}

CDiskImage::Transaction::Transaction(CDiskImage& image) : m_Image(image) { m_bBegan = Begin(); }

CDiskImage::Transaction::Transaction(CDiskImage& image, const std::string& path) : m_Image(image) {
    m_bBegan = LoadAndBegin(path);
}

CDiskImage::Transaction::~Transaction() {
    if (!m_bEnded && !m_bJoined && m_Image.m_pChange == this)
        RollBack();
}

bool CDiskImage::Transaction::Started() {
    m_Image.m_pChange = this;
    return true;
}

void CDiskImage::Transaction::Detach() {
    if (m_Image.m_pChange == this)
        m_Image.m_pChange = nullptr;
    m_bEnded = true;
}

bool CDiskImage::Transaction::Begin() {
    CDiskImage& image = m_Image;
    if (!image.IsOpen())
        return image.Fail(FailReason::NoImage);
    if (image.m_pChange != nullptr) {
        m_bJoined = true;
        return true;
    }
    if (!image.ForeignContainerWritable()) {
        image.m_Status.cause = image.ForeignContainerText();
        return image.Fail(FailReason::ReadOnly);
    }
    if (!image.m_pOwner->LibraryTable().imagesAreHostFiles)
        return Started();

    CImageFile& file = image.m_File;
    std::string cause;
    if (!file.Lock(cause))
        return image.SaveFailed(cause);
    FileIdentity now;
    if (!file.LockedVersion(now)) {
        // (The cause is taken before the unlock's close can change errno.)
        cause = ErrnoText(errno);
        file.Unlock();
        return image.SaveFailed(cause);
    }
    if (!(now == file.Loaded())) {
        // Another program saved the image since it was loaded: what it
        // wrote is taken up before anything is changed.
        const std::string locked = file.Path();
        if (!image.LoadImage(image.m_strImagePath)) {
            file.Unlock();
            return false;
        }
        if (file.Path() != locked || !(file.Loaded() == now)) {
            file.Unlock();
            image.ShowError("The disk image was changed by another program");
            return image.Fail(FailReason::SaveFailed);
        }
    }
    // The file's own permissions decide, not the folder's: a rename would
    // otherwise replace a file the user made read-only.
    if (access(file.Path().c_str(), W_OK) != 0) {
        image.m_Status.cause = ErrnoText(errno);
        file.Unlock();
        return image.Fail(FailReason::ReadOnly);
    }
    if (!OpenWorkingCopy()) {
        file.Unlock();
        return image.SaveFailed(image.m_Status.cause);
    }
    return Started();
}

bool CDiskImage::Transaction::LoadAndBegin(const std::string& path) {
    CDiskImage& image = m_Image;
    auto loadThenBegin = [&] { return image.LoadImage(path) && Begin(); };
    if (!image.m_pOwner->LibraryTable().imagesAreHostFiles)
        return loadThenBegin();
    if (image.IsOpen())
        image.CloseImage();
    const std::string target = ResolvedPath(path);
    // Whatever stands in the way is reported by the ordinary load and
    // change, which say it in their own words.
    CImageFile& file = image.m_File;
    std::string cause;
    FileIdentity identity;
    if (!file.Lock(target, cause))
        return loadThenBegin();
    if (!file.LockedVersion(identity) || access(target.c_str(), W_OK) != 0 ||
        !file.StartCopy(target, cause)) {
        file.Unlock();
        return loadThenBegin();
    }
    const int loaded = image.LoadFrom(path, file.CopyPath());
    if (loaded && !image.ForeignContainerWritable()) {
        // Listed still, but no change begins.
        file.DropCopy();
        file.Unlock();
        image.m_Status.cause = image.ForeignContainerText();
        return image.Fail(FailReason::ReadOnly);
    }
    // The handle, if any, is on the copy: the change is under way either
    // way (its end drops the copy when nothing was changed).
    file.NoteLoaded(identity);
    m_FileHandle = nullptr;
    m_bWorking = image.m_Device.handle != nullptr;
    if (!m_bWorking) {
        file.DropCopy();
        file.Unlock();
        return false;
    }
    Started();
    return loaded != 0;
}

bool CDiskImage::Transaction::OpenWorkingCopy() {
    CDiskImage& image = m_Image;
    std::string cause;
    if (!image.m_File.StartCopy(cause)) {
        image.m_Status.cause = cause;
        return false;
    }
    auto open = image.m_pOwner->LibraryTable().dsk_open;
    DSK_PDRIVER work = nullptr;
    const dsk_err_t err = open ? open(&work, image.m_File.CopyPath().c_str(), nullptr, nullptr)
                               : DSK_ERR_NOTIMPL;
    if (err != DSK_ERR_OK) {
        image.m_File.DropCopy();
        image.m_Status.cause = "the copy of the image cannot be opened: " + image.LibraryErrorText(err);
        return false;
    }
    m_FileHandle = image.m_Device.handle;
    image.m_Device.handle = work;
    m_bWorking = true;
    return true;
}

void CDiskImage::Transaction::DiscardWork() {
    if (!m_bWorking)
        return;
    m_bWorking = false;
    CDiskImage& image = m_Image;
    auto close = image.m_pOwner->LibraryTable().dsk_close;
    if (image.m_Device.handle != nullptr && close != nullptr)
        close(&image.m_Device.handle); // writes, if at all, only into the copy
    image.m_Device.handle = m_FileHandle;
    m_FileHandle = nullptr;
    image.m_File.DropCopy();
}

void CDiskImage::Transaction::Drop() {
    Detach();
    DiscardWork();
    m_Image.m_File.Unlock();
}

void CDiskImage::Transaction::RollBack() {
    Drop();
    CDiskImage& image = m_Image;
    if (image.m_pOwner->LibraryTable().imagesAreHostFiles && (m_bChanged || m_bBroken))
        image.LoadImage(image.m_strImagePath);
}

bool CDiskImage::Transaction::Commit() {
    if (m_bEnded || m_bJoined || m_Image.m_pChange != this) {
        m_bEnded = true;
        return true;
    }
    return Save();
}

bool CDiskImage::Transaction::Save() {
    Detach();
    CDiskImage& image = m_Image;
    const DiskLibraryTable& lib = image.m_pOwner->LibraryTable();
    if (!lib.imagesAreHostFiles)
        return true;
    CImageFile& file = image.m_File;
    if (!m_bChanged && !m_bBroken) {
        Drop();
        return true;
    }
    std::string cause = "a failed write could not be undone";
    bool saved = false;
    if (!m_bBroken) {
        // A foreign container's changes were made on an extended copy: the
        // disk is written into the working copy in the container's own
        // kind, and read back, before the handle goes.
        std::string foreignCause;
        const bool foreignSaved =
            image.m_strForeignContainer.empty() ||
            (lib.save_foreign != nullptr &&
             lib.save_foreign(image.m_Device.handle, image.m_strForeignContainer.c_str(),
                              image.m_Device.map.containerCylinders,
                              image.m_Device.map.containerHeads, file.CopyDescriptor(),
                              &foreignCause));
        // LibDsk writes out what it kept in memory only here.
        const dsk_err_t err = lib.dsk_close ? lib.dsk_close(&image.m_Device.handle) : DSK_ERR_NOTIMPL;
        image.m_Device.handle = nullptr;
        if (!foreignSaved) {
            cause = foreignCause.empty() ? image.ForeignContainerText() : foreignCause;
        } else if (err != DSK_ERR_OK && image.m_strForeignContainer.empty()) {
            // (The extended copy of a foreign container is dropped: what
            // LibDsk fails to write back to it is lost with it.)
            cause = image.LibraryErrorText(err);
        } else {
            saved = file.ReplaceWithCopy(cause);
        }
    }
    if (!saved) {
        // The volume is what the file now holds, whoever wrote it.
        Drop();
        image.LoadImage(image.m_strImagePath);
        return image.SaveFailed(cause);
    }
    if (!file.Warning().empty()) {
        image.m_Status.cause = file.Warning();
        image.m_pOwner->ShowMessage("The disk image was saved, but " + image.m_Status.cause,
                                    kErrorCaption, MessageIcon::Warning);
    }
    // The saved copy is the image file now; the handle on the replaced file
    // is closed (it holds no change) and a new one opened when next needed.
    if (m_FileHandle != nullptr && lib.dsk_close != nullptr)
        lib.dsk_close(&m_FileHandle);
    m_FileHandle = nullptr;
    image.m_Device.handle = nullptr;
    m_bWorking = false;
    image.m_bHandleDeferred = true;
    file.Unlock();
    return true;
}
