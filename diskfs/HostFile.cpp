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

bool CHostFileWriter::Open(const std::string& target, const FileIdentity* source) {
    Abandon();
    m_strCause.clear();
    m_strTarget = target;
    m_Buffer.clear();
    const std::optional<HostOutput> output = CheckHostOutput(target, source, m_strCause);
    if (!output)
        return false;
    if (*output == HostOutput::Stream) {
        m_bStream = true;
        return true;
    }
    // 0666 less the umask: what an ordinary creation of the target gives.
    if (!m_File.Create(target, 0666, m_strCause))
        return false;
    m_Buffer.reserve(kWriteChunk);
    return true;
}

bool CHostFileWriter::IsOpen() const {
    return m_bStream || m_File.Open();
}

bool CHostFileWriter::Write(const std::uint8_t* data, std::size_t size) {
    if (!IsOpen())
        return false;
    m_Buffer.insert(m_Buffer.end(), data, data + size);
    return m_bStream || m_Buffer.size() < kWriteChunk || Flush();
}

bool CHostFileWriter::Flush() {
    if (!WriteFully(m_File.Descriptor(), m_Buffer.data(), m_Buffer.size())) {
        m_strCause = ErrnoText(errno);
        return false;
    }
    m_Buffer.clear();
    return true;
}

bool CHostFileWriter::Complete() {
    if (!IsOpen())
        return false;
    if (m_bStream)
        return true;
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

bool CHostFileWriter::WriteStream(bool replace, bool& existed, std::string& cause) {
    existed = !replace;
    if (!replace) {
        cause = ErrnoText(EEXIST);
        Abandon();
        return false;
    }
    const int fd = ::open(m_strTarget.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    bool written = false;
    if (fd < 0) {
        cause = ErrnoText(errno);
    } else if (fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        // Replaced by a file since it was checked: never written over in place.
        cause = "replaced by another program meanwhile";
    } else {
        written = WriteFully(fd, m_Buffer.data(), m_Buffer.size());
        if (!written)
            cause = ErrnoText(errno);
    }
    if (fd >= 0)
        ::close(fd);
    Abandon();
    return written;
}

bool CHostFileWriter::Commit(bool replace, bool* existed) {
    if (!Complete())
        return false;
    bool targetExisted = false;
    bool done;
    if (m_bStream) {
        done = WriteStream(replace, targetExisted, m_strCause);
    } else {
        done = m_File.Finish(
            replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace, m_strCause);
        targetExisted = !done && m_File.TargetExisted();
    }
    if (!done && existed != nullptr)
        *existed = targetExisted;
    return done;
}

std::vector<CommitOutcome> CommitTogether(std::vector<CHostFileWriter*>& files, bool replace) {
    std::vector<CommitOutcome> outcomes(files.size());
    // One sync of each file system the files are on; where one fails, its
    // files are synced one by one, as Commit does.
    std::vector<dev_t> devices, unsynced;
    for (CHostFileWriter* file : files) {
        struct stat st {};
        if (file->m_bStream || fstat(file->m_File.Descriptor(), &st) != 0 ||
            std::find(devices.begin(), devices.end(), st.st_dev) != devices.end())
            continue;
        devices.push_back(st.st_dev);
        if (syncfs(file->m_File.Descriptor()) != 0)
            unsynced.push_back(st.st_dev);
    }
    const auto mode = replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace;
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < files.size(); ++i) {
        CHostFileWriter& writer = *files[i];
        CommitOutcome& outcome = outcomes[i];
        if (writer.m_bStream) {
            outcome.named = writer.WriteStream(replace, outcome.existed, outcome.cause);
            continue;
        }
        CPendingFile& file = writer.m_File;
        struct stat st {};
        const bool synced =
            fstat(file.Descriptor(), &st) == 0 &&
            std::find(unsynced.begin(), unsynced.end(), st.st_dev) == unsynced.end();
        outcome.named = synced ? file.FinishSynced(mode, outcome.cause) : file.Finish(mode, outcome.cause);
        outcome.existed = !outcome.named && file.TargetExisted();
        if (outcome.named && synced) {
            const std::string& target = writer.m_strTarget;
            const std::size_t slash = target.find_last_of('/');
            folders.push_back(slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash));
        }
    }
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
    return outcomes;
}

void CHostFileWriter::Abandon() {
    m_File.Abandon();
    m_bStream = false;
    m_Buffer.clear();
}

std::optional<HostOutput> CheckHostOutput(const std::string& path, const FileIdentity* source,
                                          std::string& cause) {
    struct stat st {};
    // Nothing there yet (or a folder that cannot be looked into: creating
    // the file says why).
    if (stat(path.c_str(), &st) != 0)
        return HostOutput::File;
    if (source != nullptr && source->inode != 0 && st.st_dev == source->device &&
        st.st_ino == source->inode) {
        cause = "the image being read: give another name";
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode))
        return HostOutput::File;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return HostOutput::Stream;
    cause = S_ISDIR(st.st_mode)   ? "a folder, not a file"
            : S_ISBLK(st.st_mode) ? "a block device: not written"
                                  : "not a regular file: not written";
    return std::nullopt;
}

bool WriteHostFile(const std::string& path, std::span<const std::uint8_t> bytes,
                   const FileIdentity* source, std::string& cause, std::string& warning) {
    CHostFileWriter writer;
    const bool written =
        writer.Open(path, source) && writer.Write(bytes.data(), bytes.size()) && writer.Commit();
    cause = writer.Cause();
    warning = written ? writer.Warning() : std::string();
    return written;
}

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

bool ReadHostFile(const std::string& path, std::uint64_t limit, const std::string& tooLong,
                  std::vector<std::uint8_t>& data, std::string& cause) {
    data.clear();
    if (path == "-") {
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                cause = ErrnoText(errno);
                return false;
            }
            if (n == 0)
                return true;
            data.insert(data.end(), buffer, buffer + n);
            if (data.size() > limit) {
                cause = tooLong;
                return false;
            }
        }
    }
    CHostFileReader reader;
    if (!reader.Open(path)) {
        cause = reader.Cause();
        return false;
    }
    if (reader.Size() > limit) {
        cause = tooLong;
        return false;
    }
    data.resize(static_cast<std::size_t>(reader.Size()));
    const long got = data.empty() ? 0 : reader.Read(data.data(), data.size());
    if (got < 0 || static_cast<std::size_t>(got) != data.size()) {
        cause = got < 0 ? ErrnoText(errno) : "the file changed while it was read";
        return false;
    }
    return true;
}
