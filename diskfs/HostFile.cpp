#include "HostFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

constexpr std::size_t kWriteChunk = 64 * 1024;

// A name beside the target that no other file has: the process id, a counter
// and a random part, created with O_EXCL so that it is never shared.
int CreateTemporary(const std::string& folder, std::string& name) {
    static unsigned counter = 0;
    static std::random_device random;
    static const long pid = static_cast<long>(getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "/.tarnlight-%ld-%u-%08x", pid, ++counter,
                      random());
        name = folder + suffix;
        // 0666 less the umask: what an ordinary creation of the target gives.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

CHostFileWriter::~CHostFileWriter() { Abandon(); }

bool CHostFileWriter::Open(const std::string& target) {
    Abandon();
    std::string temp;
    const int fd = CreateTemporary(FolderOf(target), temp);
    if (fd < 0)
        return false;
    m_Fd = fd;
    m_strTemp = temp;
    m_strTarget = target;
    m_Buffer.clear();
    m_Buffer.reserve(kWriteChunk);
    return true;
}

bool CHostFileWriter::Write(const std::uint8_t* data, std::size_t size) {
    if (m_Fd < 0)
        return false;
    m_Buffer.insert(m_Buffer.end(), data, data + size);
    return m_Buffer.size() < kWriteChunk || Flush();
}

bool CHostFileWriter::Flush() {
    const std::uint8_t* data = m_Buffer.data();
    std::size_t size = m_Buffer.size();
    while (size > 0) {
        const ssize_t n = ::write(m_Fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    m_Buffer.clear();
    return true;
}

bool CHostFileWriter::Commit() {
    if (m_Fd < 0)
        return false;
    if (!Flush()) {
        Abandon();
        return false;
    }
    const int closed = ::close(m_Fd);
    m_Fd = -1;
    if (closed != 0 || std::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        Abandon();
        return false;
    }
    m_strTemp.clear();
    return true;
}

void CHostFileWriter::Abandon() {
    if (m_Fd >= 0)
        ::close(m_Fd);
    m_Fd = -1;
    if (!m_strTemp.empty())
        ::unlink(m_strTemp.c_str());
    m_strTemp.clear();
}

CHostFileReader::~CHostFileReader() {
    if (m_Fd >= 0)
        ::close(m_Fd);
}

bool CHostFileReader::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
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
