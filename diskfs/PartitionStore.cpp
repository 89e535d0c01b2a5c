#include "PartitionStore.h"

#include "Journal.h"
#include "SafeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a regular file without waiting on a FIFO or a device.
int OpenRegular(const std::string& path, int mode) {
    const int fd = ::open(path.c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Rolls back an unfinished change, when a journal stands beside the image,
// under the lock every change holds (a second lock of the file from this
// process would wait for the first).
bool RollBackUnfinished(const std::string& path, bool lockHeld, std::string& cause) {
    if (access(JournalPath(path).c_str(), F_OK) != 0)
        return true;
    CFileLock lock;
    if (!lockHeld && !lock.Acquire(path, cause))
        return false;
    const int fd = OpenRegular(path, O_RDWR);
    if (fd < 0) {
        cause = "an unfinished change's journal stands beside the image, which cannot be "
                "opened to roll it back: " +
                ErrnoText(errno);
        return false;
    }
    JournalRecovery done = JournalRecovery::None;
    const bool recovered = RecoverFromJournal(path, fd, done, cause);
    ::close(fd);
    return recovered;
}

} // namespace

bool IsHardDiskFile(const std::string& path) {
    const int fd = OpenRegular(path, O_RDONLY);
    if (fd < 0)
        return false;
    std::uint8_t first[512] = {};
    const ssize_t got = pread(fd, first, sizeof first, 0);
    bool hardDisk = got > 0 && LooksLikeHardDisk(first, static_cast<std::size_t>(got));
    // Behind a PC's boot record: only the table itself tells.
    struct stat st {};
    if (!hardDisk && got > 0 && HasBootRecordSignature(first, static_cast<std::size_t>(got)) &&
        fstat(fd, &st) == 0) {
        HardDisk disk;
        hardDisk =
            ReadHardDisk([fd](std::uint64_t at, std::uint8_t* buffer,
                              std::size_t count) { return ReadFullyAt(fd, at, buffer, count); },
                         static_cast<std::uint64_t>(st.st_size), disk)
                .empty();
    }
    ::close(fd);
    return hardDisk;
}

bool ReadHardDiskImage(const std::string& path, HardDisk& disk, std::string& cause, bool lockHeld) {
    if (!RollBackUnfinished(path, lockHeld, cause))
        return false;
    const int fd = OpenRegular(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        cause = ErrnoText(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    cause = ReadHardDisk([fd](std::uint64_t at, std::uint8_t* buffer,
                              std::size_t count) { return ReadFullyAt(fd, at, buffer, count); },
                         static_cast<std::uint64_t>(st.st_size), disk);
    ::close(fd);
    return cause.empty();
}

bool CPartitionStore::Open(const std::string& hostPath, const HardDisk& disk,
                           const HardDiskPartition& partition, std::string& cause) {
    Close();
    m_bWritable = access(hostPath.c_str(), W_OK) == 0;
    m_Fd = OpenRegular(hostPath, m_bWritable ? O_RDWR : O_RDONLY);
    if (m_Fd < 0 && m_bWritable) {
        m_bWritable = false;
        m_Fd = OpenRegular(hostPath, O_RDONLY);
    }
    if (m_Fd < 0) {
        cause = ErrnoText(errno);
        return false;
    }
    m_Disk = disk;
    m_Partition = partition;
    return true;
}

void CPartitionStore::Close() {
    if (m_Fd >= 0)
        ::close(m_Fd);
    m_Fd = -1;
    m_bWritable = false;
    m_Pending.clear();
}

std::uint32_t CPartitionStore::Sectors() const {
    return static_cast<std::uint32_t>(m_Partition.byteCount / kSectorBytes);
}

bool CPartitionStore::Read(std::uint32_t sector, std::uint8_t* buffer) const {
    if (m_Fd < 0 || sector >= Sectors())
        return false;
    if (auto held = m_Pending.find(sector); held != m_Pending.end()) {
        std::copy(held->second.begin(), held->second.end(), buffer);
        return true;
    }
    const std::uint64_t at =
        m_Disk.FileOffset(m_Partition.firstByte + std::uint64_t{sector} * kSectorBytes);
    if (!m_Disk.eightBitWords)
        return ReadFullyAt(m_Fd, at, buffer, kSectorBytes);
    std::uint8_t words[kSectorBytes * 2];
    if (!ReadFullyAt(m_Fd, at, words, sizeof words))
        return false;
    for (std::size_t i = 0; i < kSectorBytes; ++i)
        buffer[i] = words[i * 2];
    return true;
}

bool CPartitionStore::Write(std::uint32_t sector, const std::uint8_t* buffer) {
    if (m_Fd < 0 || !m_bWritable || sector >= Sectors())
        return false;
    std::copy(buffer, buffer + kSectorBytes, m_Pending[sector].begin());
    return true;
}

bool CPartitionStore::Commit(const std::string& hostPath, std::string& cause) {
    if (m_Pending.empty())
        return true;
    const std::size_t stored = m_Disk.eightBitWords ? 2 * kSectorBytes : kSectorBytes;
    // Runs of neighbouring sectors become one patch each.
    std::vector<Patch> patches;
    std::uint32_t last = 0;
    for (const auto& [sector, bytes] : m_Pending) {
        const std::uint64_t at =
            m_Disk.FileOffset(m_Partition.firstByte + std::uint64_t{sector} * kSectorBytes);
        if (patches.empty() || sector != last + 1)
            patches.push_back({at, {}});
        std::vector<std::uint8_t>& out = patches.back().bytes;
        if (!m_Disk.eightBitWords) {
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            // The high bytes of the words stay as they are.
            std::uint8_t words[2 * kSectorBytes];
            if (!ReadFullyAt(m_Fd, at, words, sizeof words)) {
                cause = "cannot read the image: " + ErrnoText(errno);
                return false;
            }
            for (std::size_t i = 0; i < kSectorBytes; ++i)
                words[i * 2] = bytes[i];
            out.insert(out.end(), words, words + stored);
        }
        last = sector;
    }
    if (!WriteThroughJournal(hostPath, m_Fd, patches, cause))
        return false;
    m_Pending.clear();
    return true;
}
