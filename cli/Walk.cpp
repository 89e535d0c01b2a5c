// Worker processes, not threads: LibDsk keeps process-wide state (its
// report callback, its driver table, the temporary files of its compression
// layer) and says nothing of thread safety, so each worker gets a copy of it
// by fork. Worker k visits images k, k+N, k+2N, ..., captures each image's
// standard output and error in memory files and sends them through its pipe
// as one record; the parent prints the records in image order.

#include "Walk.h"

#include "CliOwner.h"
#include "Names.h"
#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Fewer images than this per worker would not pay for starting another.
constexpr std::size_t kImagesPerWorker = 8;

struct RecordHeader {
    std::uint32_t index;
    std::int32_t status;
    std::uint32_t outSize;
    std::uint32_t errSize;
    std::uint32_t printed;
    WalkTally tally;
};

struct Record {
    int status = 0;
    bool printed = false;
    std::string out;
    std::string err;
    WalkTally tally;
};

std::string TakeContents(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (!text.empty() &&
        ::pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        text.clear();
    if (::ftruncate(fd, 0) != 0)
        text.clear();
    ::lseek(fd, 0, SEEK_SET);
    return text;
}

[[noreturn]] void RunWorker(const std::vector<std::string>& images,
                            std::size_t first, std::size_t step, int pipeFd,
                            const ImageVisitor& visit) {
    const int out = memfd_create("tarnlight-out", MFD_CLOEXEC);
    const int err = memfd_create("tarnlight-err", MFD_CLOEXEC);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
        _exit(1);
    for (std::size_t i = first; i < images.size(); i += step) {
        bool printed = false;
        WalkTally tally;
        const int status = visit(images[i], "", printed, tally);
        std::fflush(stdout);
        std::fflush(stderr);
        const std::string text = TakeContents(out);
        const std::string errors = TakeContents(err);
        const RecordHeader header{static_cast<std::uint32_t>(i),
                                  status,
                                  static_cast<std::uint32_t>(text.size()),
                                  static_cast<std::uint32_t>(errors.size()),
                                  printed ? 1u : 0u,
                                  tally};
        if (!WriteFully(pipeFd, &header, sizeof header) ||
            !WriteFully(pipeFd, text.data(), text.size()) ||
            !WriteFully(pipeFd, errors.data(), errors.size()))
            _exit(1);
    }
    // No destructors or exit handlers: the parent owns everything else.
    _exit(0);
}

// Takes the whole records at the front of `buffer` into `ready`.
void TakeRecords(std::string& buffer, std::map<std::size_t, Record>& ready) {
    while (buffer.size() >= sizeof(RecordHeader)) {
        RecordHeader header;
        std::memcpy(&header, buffer.data(), sizeof header);
        const std::size_t total = sizeof header + header.outSize + header.errSize;
        if (buffer.size() < total)
            break;
        Record record;
        record.status = header.status;
        record.printed = header.printed != 0;
        record.out = buffer.substr(sizeof header, header.outSize);
        record.err = buffer.substr(sizeof header + header.outSize, header.errSize);
        record.tally = header.tally;
        buffer.erase(0, total);
        ready.emplace(header.index, std::move(record));
    }
}

void Reap(pid_t pid) {
    int waited = 0;
    while (::waitpid(pid, &waited, 0) < 0 && errno == EINTR) {
    }
}

// The record of an image that no worker could give: its worker died on it,
// or no worker could be started for it.
Record FailedRecord(const std::string& path, const std::string& reason) {
    Record record;
    record.status = 1;
    record.err = "ERROR: " + Printable(path) + ": " + reason + "\n";
    record.tally.imagesUnread = 1;
    return record;
}

// Visits one image in a worker of its own, so that whatever happens to the
// worker happens to this image alone.
Record VisitIsolated(const std::vector<std::string>& images, std::size_t index,
                     const ImageVisitor& visit) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return FailedRecord(images[index],
                            std::string("cannot start a worker: ") + std::strerror(errno));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        RunWorker(images, index, images.size(), fds[1], visit);
    }
    const int forkError = errno;
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return FailedRecord(images[index],
                            std::string("cannot start a worker: ") + std::strerror(forkError));
    }
    std::string buffer;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    Reap(pid);
    std::map<std::size_t, Record> ready;
    TakeRecords(buffer, ready);
    if (auto it = ready.find(index); it != ready.end())
        return std::move(it->second);
    return FailedRecord(images[index], kWorkerDied);
}

// The workers started, each with the read end of its pipe; fewer than asked
// when the system refuses more.
struct Workers {
    std::vector<int> pipes;
    std::vector<pid_t> pids;
};

Workers StartWorkers(const std::vector<std::string>& images, std::size_t count,
                     const ImageVisitor& visit) {
    std::fflush(stdout);
    std::fflush(stderr);
    Workers workers;
    for (std::size_t k = 0; k < count && !images.empty(); ++k) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            break;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            for (int other : workers.pipes)
                ::close(other);
            RunWorker(images, k, count, fds[1], visit);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            break;
        }
        workers.pipes.push_back(fds[0]);
        workers.pids.push_back(pid);
    }
    return workers;
}

// Reads the workers' records until every pipe is closed, handing each
// batch to `received`; the workers are reaped.
void ReceiveRecords(Workers& workers, std::map<std::size_t, Record>& ready,
                    const std::function<void()>& received) {
    const std::vector<int>& pipes = workers.pipes;
    std::vector<std::string> buffers(pipes.size());
    std::vector<bool> open(pipes.size(), true);
    std::size_t remaining = pipes.size();
    while (remaining > 0) {
        std::vector<pollfd> polled;
        std::vector<std::size_t> which;
        for (std::size_t k = 0; k < pipes.size(); ++k)
            if (open[k]) {
                polled.push_back({pipes[k], POLLIN, 0});
                which.push_back(k);
            }
        if (::poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (std::size_t p = 0; p < polled.size(); ++p) {
            if (polled[p].revents == 0)
                continue;
            const std::size_t k = which[p];
            char chunk[65536];
            const ssize_t n = ::read(pipes[k], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                open[k] = false;
                --remaining;
                continue;
            }
            buffers[k].append(chunk, static_cast<std::size_t>(n));
            TakeRecords(buffers[k], ready);
            received();
        }
    }
    for (int fd : pipes)
        ::close(fd);
    for (pid_t pid : workers.pids)
        Reap(pid);
}

// Prints the images' records in the order of the images.
class RecordPrinter {
public:
    explicit RecordPrinter(const char* separator) : m_Separator(separator) {}
    void Print(const Record& record) {
        if (record.printed && m_bPrintedAny)
            std::fputs(m_Separator, stdout);
        std::fwrite(record.out.data(), 1, record.out.size(), stdout);
        std::fflush(stdout);
        std::fwrite(record.err.data(), 1, record.err.size(), stderr);
        m_bPrintedAny = m_bPrintedAny || record.printed;
        m_Status = std::max(m_Status, record.status);
        m_Sum.Add(record.tally);
    }
    int Status() const { return m_Status; }
    const WalkTally& Sum() const { return m_Sum; }

private:
    const char* m_Separator;
    bool m_bPrintedAny = false;
    int m_Status = 0;
    WalkTally m_Sum;
};

} // namespace

int WalkImages(const std::vector<std::string>& images, unsigned jobs, const char* separator,
               const ImageVisitor& visit, WalkTally* totals) {
    WalkTally one;
    if (totals == nullptr)
        totals = &one;
    // One image is no walk: it is visited here, as a command on one image is.
    if (images.size() == 1) {
        bool printed = false;
        *totals = {};
        return visit(images.front(), "", printed, *totals);
    }
    if (jobs == 0) {
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        jobs = cores > 0 ? static_cast<unsigned>(cores) : 1;
    }
    const std::size_t count =
        std::max<std::size_t>(std::min<std::size_t>(jobs, images.size() / kImagesPerWorker), 1);
    Workers workers = StartWorkers(images, count, visit);
    RecordPrinter printer(separator);
    std::map<std::size_t, Record> ready;
    std::size_t next = 0;
    ReceiveRecords(workers, ready, [&] {
        for (auto it = ready.find(next); it != ready.end(); it = ready.find(++next)) {
            printer.Print(it->second);
            ready.erase(it);
        }
    });
    // Images of workers that could not be started, and those of a worker
    // that died before it sent them, are visited each in a worker of its own.
    for (; next < images.size(); ++next) {
        const auto it = ready.find(next);
        printer.Print(it != ready.end() ? it->second : VisitIsolated(images, next, visit));
    }
    *totals = printer.Sum();
    return printer.Status();
}
