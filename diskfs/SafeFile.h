#pragma once
// Saving host files so that none is ever half-written, and telling when
// another program changed one.
//
// A new file is built unnamed in its target's folder (O_TMPFILE; where the
// file system cannot do that, under a unique hidden name created with O_EXCL),
// synced, and only then given the target's name by rename(2), after which the
// folder is synced: at every instant the target is the whole old file or the
// whole new one, and an interrupted program leaves no temporary behind.

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// What tells one version of a file from another: a rename gives a new inode,
// a write in place a new size or modification time.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
bool IdentityOfFile(const std::string& path, FileIdentity& identity);
// Whether the file at `path` is gone or is no longer the version `then`.
bool ChangedSince(const std::string& path, const FileIdentity& then);
// Whether the file at `path` holds exactly these bytes. A program that
// writes a file in place without changing its size, within one tick of the
// file-system clock, leaves its identity as it was: only its bytes tell.
bool FileHolds(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool IdentityOfDescriptor(int fd, FileIdentity& identity);

// The text of errno, for messages.
std::string ErrnoText(int error);
// The path with links followed (the file a save replaces); the path as given
// when it does not resolve.
std::string ResolvedPath(const std::string& path);
// The folder a path lies in ("." for a bare name) and the name in it.
void SplitPath(const std::string& path, std::string& folder, std::string& name);
// Writes all of `size` bytes, going on after interruptions.
bool WriteFully(int fd, const void* data, std::size_t size);
// The same at an offset (pread/pwrite); reading fails at the end of the file.
bool ReadFullyAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size);
bool WriteFullyAt(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size);

// An exclusive advisory lock (flock) on the file a path names, serialising
// every read-modify-write of it among the programs that lock it too.
class CFileLock {
public:
    CFileLock() = default;
    ~CFileLock() { Release(); }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Waits for the lock. A file replaced while we waited (the usual end of
    // another program's save) is locked afresh under its new inode.
    bool Acquire(const std::string& path, std::string& cause);
    void Release();
    bool Held() const { return m_Fd >= 0; }
    int Descriptor() const { return m_Fd; }

private:
    int m_Fd = -1;
};

class CPendingFile {
public:
    enum class Commit { Replace, NoReplace };

    CPendingFile() = default;
    ~CPendingFile() { Abandon(); }
    CPendingFile(const CPendingFile&) = delete;
    CPendingFile& operator=(const CPendingFile&) = delete;

    // Creates the file beside `target` with the given mode (less the umask).
    bool Create(const std::string& target, mode_t mode, std::string& cause);
    int Descriptor() const { return m_Fd; }
    // A path by which another library can open the file while it is pending.
    std::string Path() const;
    // Takes the permission bits, and the owner where the process may, of an
    // existing file.
    void TakeAttributesOf(int fd);
    // Copies the whole of an open file into this one; the bytes are also
    // kept in `kept` when it is given.
    bool CopyFrom(int fd, std::string& cause, std::vector<std::uint8_t>* kept = nullptr);

    // Syncs the file and gives it the target's name; with NoReplace an
    // existing target is never touched. SIGINT, SIGTERM and SIGHUP wait
    // until the name is in place. `stillTarget`, when given, is asked just
    // before the target is replaced whether it is still the file the new
    // one was made from; false leaves it alone (TargetChanged). A folder
    // that cannot be synced after the rename is no failure: the file is in
    // place, and Warning() says so.
    bool Finish(Commit mode, std::string& cause, const std::function<bool()>& stillTarget = {});
    // Finish for a file whose data the caller has synced (with others, in
    // one go) and whose folder it syncs afterwards: no sync here.
    bool FinishSynced(Commit mode, std::string& cause);
    bool TargetChanged() const { return m_bTargetChanged; }
    const std::string& Warning() const { return m_strWarning; }
    // Removes the pending file; nothing of it remains.
    void Abandon();
    bool Open() const { return m_Fd >= 0; }
    // A NoReplace Finish failed because the target exists.
    bool TargetExisted() const { return m_bTargetExisted; }

private:
    bool m_bTargetExisted = false;
    bool m_bSyncs = true;
    bool m_bTargetChanged = false;
    std::string m_strWarning;
    bool m_bFolderLocked = false;
    int m_Fd = -1;
    int m_FolderFd = -1;
    std::string m_strTarget;
    std::string m_strFolder;
    // The hidden name of a file made without O_TMPFILE; empty when unnamed.
    std::string m_strNamed;
};
