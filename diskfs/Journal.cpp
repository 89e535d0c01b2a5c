#include "Journal.h"

#include "SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[] = "Tarnlight journ1";
constexpr std::size_t kMagicBytes = 16;
constexpr std::size_t kHeaderBytes = 32;
constexpr std::size_t kRecordHeaderBytes = 12;

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLe(const std::uint8_t* p, unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= std::uint64_t{p[i]} << (8 * i);
    return value;
}

std::uint32_t Fnv1a(const std::uint8_t* p, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

// A new or removed name lasts only once its folder is synced.
bool SyncFolder(const std::string& path, std::string& cause) {
    std::string folder, name;
    SplitPath(path, folder, name);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        cause = "cannot open the image's folder: " + ErrnoText(errno);
        return false;
    }
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    if (!synced)
        cause = "cannot sync the image's folder: " + ErrnoText(errno);
    ::close(fd);
    return synced;
}

// Puts the records' bytes back into the image and syncs it.
bool PlayBack(int fd, const std::vector<Patch>& records, std::string& cause) {
    for (const Patch& record : records)
        if (!WriteFullyAt(fd, record.offset, record.bytes.data(), record.bytes.size())) {
            cause = "cannot write the image: " + ErrnoText(errno);
            return false;
        }
    if (fsync(fd) != 0) {
        cause = "cannot sync the image: " + ErrnoText(errno);
        return false;
    }
    return true;
}

bool RemoveJournal(const std::string& imagePath, std::string& cause) {
    if (unlink(JournalPath(imagePath).c_str()) != 0 && errno != ENOENT) {
        cause = "cannot remove the journal: " + ErrnoText(errno);
        return false;
    }
    return SyncFolder(imagePath, cause);
}

} // namespace

std::string JournalPath(const std::string& imagePath) {
    return imagePath + "-journal";
}

bool WriteThroughJournal(const std::string& imagePath, int fd, const std::vector<Patch>& patches,
                         std::string& cause) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        cause = ErrnoText(errno);
        return false;
    }
    // The journal: what each patch will overwrite.
    std::vector<Patch> before;
    std::vector<std::uint8_t> records;
    for (const Patch& patch : patches) {
        Patch old{patch.offset, std::vector<std::uint8_t>(patch.bytes.size())};
        if (!ReadFullyAt(fd, patch.offset, old.bytes.data(), old.bytes.size())) {
            cause = "cannot read the image: " + (errno != 0 ? ErrnoText(errno) : "it is cut short");
            return false;
        }
        PutLe(records, old.offset, 8);
        PutLe(records, old.bytes.size(), 4);
        records.insert(records.end(), old.bytes.begin(), old.bytes.end());
        before.push_back(std::move(old));
    }
    std::vector<std::uint8_t> journal(kMagic, kMagic + kMagicBytes);
    PutLe(journal, static_cast<std::uint64_t>(st.st_size), 8);
    PutLe(journal, before.size(), 4);
    PutLe(journal, Fnv1a(records.data(), records.size()), 4);
    journal.insert(journal.end(), records.begin(), records.end());

    const std::string path = JournalPath(imagePath);
    const int jfd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (jfd < 0) {
        cause = "cannot create the journal " + path + ": " + ErrnoText(errno);
        return false;
    }
    const bool written = WriteFully(jfd, journal.data(), journal.size()) && fsync(jfd) == 0;
    const int error = errno;
    ::close(jfd);
    std::string ignored;
    if (!written || !SyncFolder(imagePath, cause)) {
        if (!written)
            cause = "cannot write the journal " + path + ": " + ErrnoText(error);
        RemoveJournal(imagePath, ignored);
        return false;
    }
    // In place.
    for (const Patch& patch : patches)
        if (!WriteFullyAt(fd, patch.offset, patch.bytes.data(), patch.bytes.size())) {
            cause = "cannot write the image: " + ErrnoText(errno);
            // Put back now; failing that, the journal does at the next open.
            if (PlayBack(fd, before, ignored))
                RemoveJournal(imagePath, ignored);
            return false;
        }
    if (fsync(fd) != 0) {
        cause = "cannot sync the image: " + ErrnoText(errno);
        if (PlayBack(fd, before, ignored))
            RemoveJournal(imagePath, ignored);
        return false;
    }
    // Removing the journal is the commit: while it stands, the next open
    // would undo the change, so a journal that stays means the change is
    // undone now.
    if (unlink(path.c_str()) != 0) {
        cause = "cannot remove the journal " + path + ": " + ErrnoText(errno);
        PlayBack(fd, before, ignored);
        return false;
    }
    SyncFolder(imagePath, ignored);
    return true;
}

bool RecoverFromJournal(const std::string& imagePath, int fd, JournalRecovery& done,
                        std::string& cause) {
    done = JournalRecovery::None;
    const std::string path = JournalPath(imagePath);
    const int jfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (jfd < 0) {
        if (errno == ENOENT)
            return true;
        cause = "cannot open the journal " + path + ": " + ErrnoText(errno);
        return false;
    }
    // Only a regular file no larger than a change of this image could make
    // is read as a journal; anything else in its place is left alone.
    struct stat st {};
    struct stat image {};
    const bool readable = fstat(jfd, &st) == 0 && S_ISREG(st.st_mode) && fstat(fd, &image) == 0 &&
                          static_cast<std::uint64_t>(st.st_size) <=
                              kHeaderBytes + 2 * static_cast<std::uint64_t>(image.st_size) + 4096;
    std::vector<std::uint8_t> journal;
    if (readable) {
        journal.resize(static_cast<std::size_t>(st.st_size));
        if (!ReadFullyAt(jfd, 0, journal.data(), journal.size()))
            journal.clear();
    }
    ::close(jfd);
    if (!readable) {
        cause = "the journal " + path +
                " is no journal of this image (not a file, or larger than any change of the "
                "image): the image is not read until it is moved away";
        return false;
    }
    // Checked whole: its records, their count and hash.
    std::vector<Patch> records;
    bool whole = journal.size() >= kHeaderBytes &&
                 std::memcmp(journal.data(), kMagic, kMagicBytes) == 0 &&
                 Fnv1a(journal.data() + kHeaderBytes, journal.size() - kHeaderBytes) ==
                     GetLe(journal.data() + 28, 4);
    const std::uint64_t count = whole ? GetLe(journal.data() + 24, 4) : 0;
    std::size_t at = kHeaderBytes;
    for (std::uint64_t i = 0; whole && i < count; ++i) {
        if (journal.size() - at < kRecordHeaderBytes) {
            whole = false;
            break;
        }
        Patch record;
        record.offset = GetLe(journal.data() + at, 8);
        const std::uint64_t size = GetLe(journal.data() + at + 8, 4);
        at += kRecordHeaderBytes;
        if (journal.size() - at < size) {
            whole = false;
            break;
        }
        record.bytes.assign(journal.begin() + static_cast<std::ptrdiff_t>(at),
                            journal.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        records.push_back(std::move(record));
    }
    whole = whole && at == journal.size();
    if (!whole) {
        // Cut short while it was written: the image was not touched yet.
        if (!RemoveJournal(imagePath, cause))
            return false;
        done = JournalRecovery::Discarded;
        return true;
    }
    // Ours puts back bytes of this image as it is; one that would write
    // elsewhere is no journal of this image, and nothing is touched.
    const auto imageBytes = static_cast<std::uint64_t>(image.st_size);
    bool fits = GetLe(journal.data() + 16, 8) == imageBytes;
    for (const Patch& record : records)
        fits = fits && record.offset <= imageBytes &&
               record.bytes.size() <= imageBytes - record.offset;
    if (!fits) {
        cause = "the journal " + path +
                " does not fit the image (another image's, or not Tarnlight's): the image is "
                "not read until it is moved away";
        return false;
    }
    if (!PlayBack(fd, records, cause)) {
        cause = "an unfinished change's journal " + path + " cannot be played back: " + cause;
        return false;
    }
    if (!RemoveJournal(imagePath, cause))
        return false;
    done = JournalRecovery::RolledBack;
    return true;
}
