#include "HostFile.h"
#include "SafeFile.h"

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

bool CHostFileWriter::Commit(bool replace, bool* existed) {
    if (!m_File.Open())
        return false;
    if (!Flush()) {
        Abandon();
        return false;
    }
    struct stat st {};
    if (lstat(m_strTarget.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        fchmod(m_File.Descriptor(), st.st_mode & 07777);
    std::string cause;
    const bool done = m_File.Finish(
        replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace, cause);
    if (!done && existed != nullptr)
        *existed = m_File.TargetExisted();
    return done;
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
