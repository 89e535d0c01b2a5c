#include "SafeFile.h"

#include <cstdlib>

#include <cerrno>
#include <dirent.h>
#include <set>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
        return;
    }
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
}

namespace {

void FillIdentity(const struct stat& st, FileIdentity& identity) {
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

// The signals a user or the system sends to end a program: held back while
// a file takes its name, so that the rename is never cut off half-way
// between the temporary name and the target.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        sigaddset(&held, SIGQUIT);
        pthread_sigmask(SIG_BLOCK, &held, &m_Previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_Previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_Previous;
};

// A hidden name beside the target that no file has yet.
std::string HiddenName(const std::string& name) {
    static unsigned counter = 0;
    static std::random_device random;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tarnlight-%ld-%u-%08x", static_cast<long>(getpid()),
                  ++counter, random());
    return "." + name + suffix;
}

bool ProcFdUsable() {
    static const bool usable = access("/proc/self/fd", X_OK) == 0;
    return usable;
}

std::string PassingName(const std::string& name) { return "." + name + ".tarnlight-save"; }

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Removes the passing names that killed processes left in a folder (once
// per folder and process). Called under the folder's lock: every living
// process that commits there holds it from the link to the rename, so a
// passing name found then belongs to none.
void SweepPassingNames(int folderFd) {
    static std::set<std::pair<dev_t, ino_t>> swept;
    struct stat st {};
    if (fstat(folderFd, &st) != 0 || !swept.insert({st.st_dev, st.st_ino}).second)
        return;
    const int listFd = dup(folderFd);
    DIR* folder = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (folder == nullptr) {
        if (listFd >= 0)
            close(listFd);
        return;
    }
    static const std::string kSuffix = ".tarnlight-save";
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() > kSuffix.size() + 1 && name[0] == '.' &&
            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
            stale.push_back(name);
    }
    closedir(folder);
    for (const std::string& name : stale)
        unlinkat(folderFd, name.c_str(), 0);
}

// Gives an unnamed (O_TMPFILE) file a name in the folder.
int LinkUnnamed(int fd, int folderFd, const std::string& name) {
    if (linkat(AT_FDCWD, ProcPath(fd).c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno == EEXIST)
        return -1;
    return linkat(fd, "", folderFd, name.c_str(), AT_EMPTY_PATH);
}

} // namespace

std::string ResolvedPath(const std::string& path) {
    std::string resolved = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        resolved = real;
        std::free(real);
    }
    return resolved;
}

bool WriteFully(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadFullyAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t n = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFullyAt(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string ErrnoText(int error) { return std::strerror(error); }

bool IdentityOfFile(const std::string& path, FileIdentity& identity) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    FillIdentity(st, identity);
    return true;
}

bool ChangedSince(const std::string& path, const FileIdentity& then) {
    FileIdentity now;
    return !IdentityOfFile(path, now) || !(now == then);
}

bool IdentityOfDescriptor(int fd, FileIdentity& identity) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    FillIdentity(st, identity);
    return true;
}

bool CFileLock::Acquire(const std::string& path, std::string& cause) {
    Release();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            cause = ErrnoText(errno);
            return false;
        }
        int locked;
        do
            locked = flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            cause = "cannot lock the file: " + ErrnoText(errno);
            ::close(fd);
            return false;
        }
        struct stat held {}, named {};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_Fd = fd;
            return true;
        }
        // Replaced while we waited: the lock is on a file that is gone.
        ::close(fd);
    }
    cause = "the file keeps being replaced";
    return false;
}

void CFileLock::Release() {
    if (m_Fd >= 0)
        ::close(m_Fd); // closing the last descriptor releases the flock
    m_Fd = -1;
}

bool CPendingFile::Create(const std::string& target, mode_t mode, std::string& cause) {
    Abandon();
    std::string name;
    SplitPath(target, m_strFolder, name);
    m_strTarget = name;
    m_FolderFd = ::open(m_strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_FolderFd < 0) {
        cause = m_strFolder + ": " + ErrnoText(errno);
        return false;
    }
    if (ProcFdUsable()) {
        m_Fd = openat(m_FolderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (m_Fd >= 0)
            return true;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            cause = "cannot create a file in " + m_strFolder + ": " + ErrnoText(errno);
            Abandon();
            return false;
        }
    }
    // A file system without unnamed files: a hidden name of our own.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = HiddenName(name);
        m_Fd = openat(m_FolderFd, hidden.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (m_Fd >= 0) {
            m_strNamed = hidden;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    cause = "cannot create a file in " + m_strFolder + ": " + ErrnoText(errno);
    Abandon();
    return false;
}

std::string CPendingFile::Path() const {
    if (!m_strNamed.empty())
        return m_strFolder + "/" + m_strNamed;
    return ProcPath(m_Fd);
}

void CPendingFile::TakeAttributesOf(int fd) {
    struct stat st {};
    if (m_Fd < 0 || fstat(fd, &st) != 0)
        return;
    // The owner first: a change of owner may clear the set-id bits.
    if (fchown(m_Fd, st.st_uid, st.st_gid) != 0 && fchown(m_Fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not ours to give away: the file stays the saving user's.
    }
    fchmod(m_Fd, st.st_mode & 07777);
}

bool FileHolds(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    std::vector<std::uint8_t> buffer(256 * 1024);
    std::size_t offset = 0;
    bool same = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            same = got == 0 && offset == bytes.size();
            break;
        }
        const auto n = static_cast<std::size_t>(got);
        if (offset + n > bytes.size() || std::memcmp(buffer.data(), bytes.data() + offset, n) != 0) {
            same = false;
            break;
        }
        offset += n;
    }
    ::close(fd);
    return same;
}

bool CPendingFile::CopyFrom(int fd, std::string& cause, std::vector<std::uint8_t>* kept) {
    if (kept != nullptr)
        kept->clear();
    std::vector<char> buffer(256 * 1024);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = pread(fd, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            cause = "cannot read the image: " + ErrnoText(errno);
            return false;
        }
        if (got == 0)
            return true;
        if (kept != nullptr)
            kept->insert(kept->end(), buffer.data(), buffer.data() + got);
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = pwrite(m_Fd, buffer.data() + done, static_cast<std::size_t>(got - done),
                                       offset + done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                cause = "cannot write in " + m_strFolder + ": " + ErrnoText(put < 0 ? errno : ENOSPC);
                return false;
            }
            done += put;
        }
        offset += got;
    }
}

bool CPendingFile::Finish(Commit mode, std::string& cause,
                          const std::function<bool()>& stillTarget) {
    m_bTargetExisted = false;
    m_bTargetChanged = false;
    m_strWarning.clear();
    if (m_Fd < 0) {
        cause = "nothing to save";
        return false;
    }
    if (m_bSyncs && fsync(m_Fd) != 0) {
        cause = ErrnoText(errno);
        Abandon();
        return false;
    }
    bool named = false;
    {
        const SignalsHeld held;
        // A replacement where nothing is to be replaced (and nothing is to
        // be checked first) is a link, as without replacing: no passing name.
        const bool nothingToReplace = m_strNamed.empty() && mode == Commit::Replace && !stillTarget &&
                                      LinkUnnamed(m_Fd, m_FolderFd, m_strTarget) == 0;
        if (nothingToReplace) {
            named = true;
        } else if (m_strNamed.empty() && mode == Commit::NoReplace) {
            // Linking never replaces: an existing target stays.
            named = LinkUnnamed(m_Fd, m_FolderFd, m_strTarget) == 0;
            if (!named) {
                m_bTargetExisted = errno == EEXIST;
                cause = ErrnoText(errno);
            }
        } else {
            if (m_strNamed.empty()) {
                // The one name that an unnamed file passes through on its way
                // to replacing the target. Commits into a folder take turns
                // under a lock on the folder, so a file found at that name
                // was left by a process that was killed there: it goes.
                flock(m_FolderFd, LOCK_EX);
                m_bFolderLocked = true;
                SweepPassingNames(m_FolderFd);
                const std::string passing = PassingName(m_strTarget);
                int linked = LinkUnnamed(m_Fd, m_FolderFd, passing);
                if (linked != 0 && errno == EEXIST) {
                    unlinkat(m_FolderFd, passing.c_str(), 0);
                    linked = LinkUnnamed(m_Fd, m_FolderFd, passing);
                }
                if (linked == 0)
                    m_strNamed = passing;
            }
            if (m_strNamed.empty()) {
                cause = "cannot name the new file in " + m_strFolder + ": " + ErrnoText(errno);
            } else if (mode == Commit::Replace && stillTarget && !stillTarget()) {
                m_bTargetChanged = true;
                cause = "The disk image was changed by another program";
                errno = 0;
            } else if (mode == Commit::Replace) {
                named = renameat(m_FolderFd, m_strNamed.c_str(), m_FolderFd, m_strTarget.c_str()) == 0;
            } else {
                // No atomic rename without replacing everywhere: link, then
                // drop the hidden name.
                named = linkat(m_FolderFd, m_strNamed.c_str(), m_FolderFd, m_strTarget.c_str(), 0) == 0;
                m_bTargetExisted = !named && errno == EEXIST;
                if (named)
                    unlinkat(m_FolderFd, m_strNamed.c_str(), 0);
            }
            if (!named && !m_strNamed.empty() && !m_bTargetChanged)
                cause = ErrnoText(errno);
            if (named)
                m_strNamed.clear();
        }
        if (!named)
            Abandon();
    }
    if (!named)
        return false;
    // The new name must survive a crash as surely as the data.
    if (m_bSyncs && fsync(m_FolderFd) != 0 && errno != EINVAL)
        m_strWarning = "the folder could not be synced: " + ErrnoText(errno);
    Abandon();
    return true;
}

bool CPendingFile::FinishSynced(Commit mode, std::string& cause) {
    m_bSyncs = false;
    const bool named = Finish(mode, cause);
    m_bSyncs = true;
    return named;
}

void CPendingFile::Abandon() {
    if (m_Fd >= 0)
        ::close(m_Fd);
    m_Fd = -1;
    if (!m_strNamed.empty() && m_FolderFd >= 0)
        unlinkat(m_FolderFd, m_strNamed.c_str(), 0);
    m_strNamed.clear();
    if (m_bFolderLocked && m_FolderFd >= 0)
        flock(m_FolderFd, LOCK_UN);
    m_bFolderLocked = false;
    if (m_FolderFd >= 0)
        ::close(m_FolderFd);
    m_FolderFd = -1;
}
