#include "HostFile.h"
#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kWriteChunk = 64 * 1024;

} // namespace

CHostFileWriter::~CHostFileWriter() { Abandon(); }

bool CHostFileWriter::Open(const std::string& target) {
    Abandon();
    std::string cause;
    // 0666 less the umask: what an ordinary creation of the target gives.
    if (!m_File.Create(target, 0666, cause))
        return false;
    m_strTarget = target;
    m_Buffer.clear();
    m_Buffer.reserve(kWriteChunk);
    return true;
}

bool CHostFileWriter::Write(const std::uint8_t* data, std::size_t size) {
    if (!m_File.Open())
        return false;
    m_Buffer.insert(m_Buffer.end(), data, data + size);
    return m_Buffer.size() < kWriteChunk || Flush();
}

bool CHostFileWriter::Flush() {
    if (!WriteFully(m_File.Descriptor(), m_Buffer.data(), m_Buffer.size()))
        return false;
    m_Buffer.clear();
    return true;
}

bool CHostFileWriter::Complete() {
    if (!m_File.Open())
        return false;
    if (!Flush()) {
        Abandon();
        return false;
    }
    // A file replaced passes on its permission bits.
    struct stat st {};
    if (lstat(m_strTarget.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        fchmod(m_File.Descriptor(), st.st_mode & 07777);
    if (m_Modified) {
        const timespec times[2] = {{0, UTIME_OMIT}, {*m_Modified, 0}};
        futimens(m_File.Descriptor(), times);
    }
    return true;
}

bool CHostFileWriter::Commit(bool replace, bool* existed) {
    if (!Complete())
        return false;
    std::string cause;
    const bool done = m_File.Finish(
        replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace, cause);
    if (!done && existed != nullptr)
        *existed = m_File.TargetExisted();
    return done;
}

std::vector<CommitOutcome> CommitTogether(std::vector<CHostFileWriter*>& files, bool replace) {
    std::vector<CommitOutcome> outcomes(files.size());
    if (files.empty())
        return outcomes;
    // One sync of the file system the files are on; where that fails, one
    // per file, as Commit does.
    bool synced = syncfs(files.front()->m_File.Descriptor()) == 0;
    const auto mode = replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace;
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < files.size(); ++i) {
        CPendingFile& file = files[i]->m_File;
        CommitOutcome& outcome = outcomes[i];
        outcome.named = synced ? file.FinishSynced(mode, outcome.cause) : file.Finish(mode, outcome.cause);
        outcome.existed = !outcome.named && file.TargetExisted();
        if (outcome.named) {
            const std::string& target = files[i]->m_strTarget;
            const std::size_t slash = target.find_last_of('/');
            folders.push_back(slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash));
        }
    }
    if (synced) {
        // The new names must survive a crash as surely as the data.
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (const std::string& folder : folders) {
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                fsync(fd);
                ::close(fd);
            }
        }
    }
    return outcomes;
}

void CHostFileWriter::Abandon() { m_File.Abandon(); }

CHostFileReader::~CHostFileReader() {
    if (m_Fd >= 0)
        ::close(m_Fd);
}

bool CHostFileReader::Open(const std::string& path) {
    // Non-blocking, so that a FIFO or a device cannot hang the open; only
    // regular files are read.
    m_strCause.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_strCause = ErrnoText(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_strCause = S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file";
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_Fd = fd;
    m_Size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

long CHostFileReader::Read(std::uint8_t* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = ::read(m_Fd, data + total, size - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<long>(total);
}
