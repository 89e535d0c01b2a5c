#include "HostFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

mode_t CreationMode() {
    // Files get the permissions an ordinary creation would give them.
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

CHostFileWriter::~CHostFileWriter() { Abandon(); }

bool CHostFileWriter::Open(const std::string& target) {
    Abandon();
    std::string pattern = FolderOf(target) + "/.tarnlight-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return false;
    m_Fd = fd;
    m_strTemp = pattern;
    m_strTarget = target;
    fchmod(m_Fd, CreationMode());
    return true;
}

bool CHostFileWriter::Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(m_Fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CHostFileWriter::Commit() {
    if (m_Fd < 0)
        return false;
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
