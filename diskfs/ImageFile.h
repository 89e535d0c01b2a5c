#pragma once
// The host file behind an open image: which file it is (links followed), the
// version of it that was loaded, the lock a change holds on it, and the
// working copy a change is made in, which replaces the file only when the
// file still holds what the copy was made from. It knows nothing of disks:
// the library reads and writes the copy through CopyPath().

#include "SafeFile.h"

#include <cstdint>
#include <string>
#include <vector>

class CImageFile {
public:
    // Takes up the file at `path` for an image being loaded: the file a save
    // replaces, and the version of it now there.
    void Take(const std::string& path);
    // No host file stands behind the image (a disk the library keeps
    // elsewhere): `path` is only its name.
    void TakeName(const std::string& path);
    const std::string& Path() const { return m_strPath; }
    // Whether the file and its folder may be written.
    bool Writable() const;
    // Another program replaced or wrote the file since it was loaded or
    // saved here.
    bool ChangedSinceLoaded() const;

    // Waits for the exclusive lock every change of the file holds.
    bool Lock(std::string& cause) { return Lock(m_strPath, cause); }
    // The same, for a file about to be taken up from `resolvedPath`.
    bool Lock(const std::string& resolvedPath, std::string& cause);
    void Unlock() { m_Lock.Release(); }
    bool Locked() const { return m_Lock.Held(); }
    // The locked file's version now.
    bool LockedVersion(FileIdentity& version) const;
    // The version a load read (by the time it was locked for a change).
    void NoteLoaded(const FileIdentity& version) { m_Loaded = version; }
    const FileIdentity& Loaded() const { return m_Loaded; }

    // The locked file's bytes in a new file beside it, owner-only until it
    // takes the file's place and permissions.
    bool StartCopy(const std::string& resolvedPath, std::string& cause);
    bool StartCopy(std::string& cause) { return StartCopy(m_strPath, cause); }
    std::string CopyPath() const { return m_Copy.Path(); }
    int CopyDescriptor() const { return m_Copy.Descriptor(); }
    // Removes the copy; nothing of it remains.
    void DropCopy() { m_Copy.Abandon(); }
    // The copy, synced, takes the file's place and permissions, and becomes
    // the version loaded; false (the file left alone) when another program
    // wrote or replaced the file meanwhile, or the rename failed.
    bool ReplaceWithCopy(std::string& cause);
    // What a replace that took place could not do (sync the folder).
    const std::string& Warning() const { return m_Copy.Warning(); }

private:
    std::string m_strPath;
    bool m_bHostFile = false;
    FileIdentity m_Loaded;
    CFileLock m_Lock;
    CPendingFile m_Copy;
    // The bytes the copy was made from: what the file must still hold when
    // the copy replaces it.
    std::vector<std::uint8_t> m_Original;
};
