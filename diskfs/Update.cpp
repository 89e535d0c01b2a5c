// Saving changes to the image file.
//
// LibDsk keeps some containers (CPCEMU, extended, CopyQM, IMD, TeleDisk) in
// memory and writes them back whole at dsk_close, truncating the file first;
// others it writes in place. Neither may happen to the user's file: an
// interruption or a full disk would leave it cut short. So an update copies
// the image file into a new, unnamed file in the same folder and opens that
// through LibDsk; every write goes there. At the end LibDsk closes it (which
// writes out what it kept in memory), the copy is synced and renamed over
// the image file, and the folder is synced. LibDsk does all container I/O;
// this file only copies bytes and moves names.
//
// The update holds an exclusive flock on the image file from its start to
// its end, so Tarnlight processes take turns; a file that changed since it
// was loaded (another program saved it) is loaded again before anything is
// changed, so that nothing it wrote is lost.

#include "CDiskImage.h"

#include <unistd.h>

bool CDiskImage::EnsureHandle() {
    if (m_Device.handle != nullptr)
        return true;
    if (!m_Save.handleDeferred)
        return false;
    m_Save.handleDeferred = false;
    auto open = m_pOwner->LibraryTable().dsk_open;
    if (open == nullptr ||
        open(&m_Device.handle, m_Save.file.Path().c_str(), nullptr, nullptr) != DSK_ERR_OK) {
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

int CDiskImage::BeginUpdate() {
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    if (m_Save.depth > 0) {
        ++m_Save.depth;
        return 1;
    }
    m_Save.changed = false;
    m_Save.broken = false;
    if (!ForeignContainerWritable()) {
        m_Status.cause = ForeignContainerText();
        return Fail(FailReason::ReadOnly);
    }
    if (!m_pOwner->LibraryTable().imagesAreHostFiles) {
        m_Save.depth = 1;
        return 1;
    }

    CImageFile& file = m_Save.file;
    std::string cause;
    if (!file.Lock(cause))
        return SaveFailed(cause);
    FileIdentity now;
    if (!file.LockedVersion(now)) {
        file.Unlock();
        return SaveFailed(ErrnoText(errno));
    }
    if (!(now == file.Loaded())) {
        // Another program saved the image since it was loaded: what it
        // wrote is taken up before anything is changed.
        const std::string locked = file.Path();
        if (!LoadImage(m_strImagePath)) {
            file.Unlock();
            return 0;
        }
        if (file.Path() != locked || !(file.Loaded() == now)) {
            file.Unlock();
            ShowError("The disk image was changed by another program");
            return Fail(FailReason::SaveFailed);
        }
    }
    // The file's own permissions decide, not the folder's: a rename would
    // otherwise replace a file the user made read-only.
    if (access(file.Path().c_str(), W_OK) != 0) {
        file.Unlock();
        m_Status.cause = ErrnoText(errno);
        return Fail(FailReason::ReadOnly);
    }
    if (!OpenWorkingCopy()) {
        file.Unlock();
        return SaveFailed(m_Status.cause);
    }
    m_Save.depth = 1;
    return 1;
}

int CDiskImage::LoadForUpdate(const std::string& path) {
    auto loadThenBegin = [&] { return LoadImage(path) && BeginUpdate(); };
    if (!m_pOwner->LibraryTable().imagesAreHostFiles)
        return loadThenBegin();
    if (IsOpen())
        CloseImage();
    const std::string target = ResolvedPath(path);
    // Whatever stands in the way is reported by the ordinary load and
    // update, which say it in their own words.
    CImageFile& file = m_Save.file;
    std::string cause;
    FileIdentity identity;
    if (!file.Lock(target, cause))
        return loadThenBegin();
    if (!file.LockedVersion(identity) || access(target.c_str(), W_OK) != 0 ||
        !file.StartCopy(target, cause)) {
        file.Unlock();
        return loadThenBegin();
    }
    const int loaded = LoadFrom(path, file.CopyPath());
    if (loaded && !ForeignContainerWritable()) {
        // Listed still, but no update begins.
        file.DropCopy();
        file.Unlock();
        m_Status.cause = ForeignContainerText();
        return Fail(FailReason::ReadOnly);
    }
    // The handle, if any, is on the copy: the update is under way either
    // way, and EndUpdate drops the copy when nothing was changed.
    file.NoteLoaded(identity);
    m_Save.fileHandle = nullptr;
    m_Save.working = m_Device.handle != nullptr;
    m_Save.changed = false;
    m_Save.broken = false;
    if (!m_Save.working) {
        file.DropCopy();
        file.Unlock();
        return 0;
    }
    m_Save.depth = 1;
    return loaded;
}

bool CDiskImage::OpenWorkingCopy() {
    std::string cause;
    if (!m_Save.file.StartCopy(cause)) {
        m_Status.cause = cause;
        return false;
    }
    auto open = m_pOwner->LibraryTable().dsk_open;
    DSK_PDRIVER work = nullptr;
    const dsk_err_t err = open ? open(&work, m_Save.file.CopyPath().c_str(), nullptr, nullptr)
                               : DSK_ERR_NOTIMPL;
    if (err != DSK_ERR_OK) {
        m_Save.file.DropCopy();
        m_Status.cause = "the copy of the image cannot be opened: " + LibraryErrorText(err);
        return false;
    }
    m_Save.fileHandle = m_Device.handle;
    m_Device.handle = work;
    m_Save.working = true;
    return true;
}

void CDiskImage::DiscardWork() {
    if (!m_Save.working)
        return;
    m_Save.working = false;
    auto close = m_pOwner->LibraryTable().dsk_close;
    if (m_Device.handle != nullptr && close != nullptr)
        close(&m_Device.handle); // writes, if at all, only into the copy
    m_Device.handle = m_Save.fileHandle;
    m_Save.fileHandle = nullptr;
    m_Save.file.DropCopy();
}

bool CDiskImage::ChangedOnDisk() const {
    return m_Save.depth == 0 && IsOpen() && m_Save.file.ChangedSinceLoaded();
}

void CDiskImage::AbandonUpdate() {
    if (m_Save.depth == 0 || --m_Save.depth > 0)
        return;
    const bool changed = m_Save.changed || m_Save.broken;
    m_Save.changed = false;
    m_Save.broken = false;
    if (!m_pOwner->LibraryTable().imagesAreHostFiles)
        return;
    DiscardWork();
    m_Save.file.Unlock();
    if (changed)
        LoadImage(m_strImagePath);
}

int CDiskImage::EndUpdate() {
    if (m_Save.depth == 0)
        return 1;
    if (--m_Save.depth > 0)
        return 1;
    const bool changed = m_Save.changed;
    m_Save.changed = false;
    if (!m_pOwner->LibraryTable().imagesAreHostFiles)
        return 1;
    if (!changed && !m_Save.broken) {
        DiscardWork();
        m_Save.file.Unlock();
        return 1;
    }
    std::string cause = "a failed write could not be undone";
    bool saved = false;
    if (!m_Save.broken) {
        // A foreign container's changes were made on an extended copy: the
        // disk is written into the working copy in the container's own
        // kind, and read back, before the handle goes.
        std::string foreignCause;
        const auto saveForeign = m_pOwner->LibraryTable().save_foreign;
        const bool foreignSaved =
            m_strForeignContainer.empty() ||
            (saveForeign != nullptr &&
             saveForeign(m_Device.handle, m_strForeignContainer.c_str(), m_Device.map.containerCylinders,
                         m_Device.map.containerHeads, m_Save.file.CopyDescriptor(), &foreignCause));
        // LibDsk writes out what it kept in memory only here.
        auto close = m_pOwner->LibraryTable().dsk_close;
        const dsk_err_t err = close ? close(&m_Device.handle) : DSK_ERR_NOTIMPL;
        m_Device.handle = nullptr;
        if (!foreignSaved) {
            cause = foreignCause.empty() ? ForeignContainerText() : foreignCause;
        } else if (err != DSK_ERR_OK && m_strForeignContainer.empty()) {
            // (The extended copy of a foreign container is dropped: what
            // LibDsk fails to write back to it is lost with it.)
            cause = LibraryErrorText(err);
        } else {
            saved = m_Save.file.ReplaceWithCopy(cause);
        }
    }
    if (!saved) {
        // The volume is what the file now holds, whoever wrote it.
        DiscardWork();
        m_Save.file.Unlock();
        LoadImage(m_strImagePath);
        return SaveFailed(cause);
    }
    if (!m_Save.file.Warning().empty()) {
        m_Status.cause = m_Save.file.Warning();
        m_pOwner->ShowMessage("The disk image was saved, but " + m_Status.cause, kErrorCaption,
                              MessageIcon::Warning);
    }
    // The saved copy is the image file now; the handle on the replaced file
    // is closed (it holds no change) and a new one opened when next needed.
    if (m_Save.fileHandle != nullptr) {
        if (auto close = m_pOwner->LibraryTable().dsk_close)
            close(&m_Save.fileHandle);
    }
    m_Save.fileHandle = nullptr;
    m_Device.handle = nullptr;
    m_Save.working = false;
    m_Save.handleDeferred = true;
    m_Save.file.Unlock();
    return 1;
}
