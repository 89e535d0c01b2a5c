#include "ForeignImage.h"

#include "DskContainer.h"
#include "SectorImage.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <cstddef>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TARNLIGHT_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNLIGHT_ADDRESS_SANITIZER
#endif
#endif

namespace {

constexpr ForeignKind kKinds[] = {
    {"imd", "ImageDisk"}, {"tele", "TeleDisk"}, {"qm", "CopyQM"},
    {"ldbs", "LDBS"},     {"ydsk", "YAZE"},     {"qrst", "QRST"},
};

// What the child may take before it is stopped.
constexpr int kSecondsAllowed = 5;
constexpr rlim_t kOutputAllowed = 64UL << 20;
// The child's way of saying why it gave up (its exit status).
enum ChildExit { kMade = 0, kNoCopy = 10, kNotOpened, kNoGeometry, kTooManySectors, kNotWritten };

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// A sector by its id at cylinder c, head h. An id naming another cylinder or
// head than the track's own (track 39's sectors saying cylinder 41, a
// mastering quirk) is looked for by those, which only the extended calls take.
bool ReadSector(DSK_PDRIVER self, const ForeignReader& reader, const DSK_GEOMETRY& geometry,
                unsigned c, unsigned h, ImageSector& sector) {
    DSK_GEOMETRY one = geometry;
    one.dg_secsize = sector.data.size();
    if (sector.cylinder == c && sector.head == h)
        return reader.read(self, &one, sector.data.data(), c, h, sector.id) == DSK_ERR_OK;
    return reader.xread != nullptr &&
           reader.xread(self, &one, sector.data.data(), c, h, sector.cylinder, sector.head,
                        sector.id, sector.data.size(), nullptr) == DSK_ERR_OK;
}

bool WriteSector(DSK_PDRIVER self, const ForeignReader& reader, const DSK_GEOMETRY& geometry,
                 unsigned c, unsigned h, const ImageSector& sector, unsigned id) {
    DSK_GEOMETRY one = geometry;
    one.dg_secsize = sector.data.size();
    if (sector.cylinder == c && sector.head == h)
        return reader.write(self, &one, sector.data.data(), c, h, id) == DSK_ERR_OK;
    return reader.xwrite != nullptr &&
           reader.xwrite(self, &one, sector.data.data(), c, h, sector.cylinder, sector.head, id,
                         sector.data.size(), 0) == DSK_ERR_OK;
}

// The disk as LibDsk reads it: every track it lists, each sector as read
// (one that cannot be read is left out, as on a real disk). The container's
// own cylinders and heads, where known, win over LibDsk's guess from the
// boot sector.
int ReadDisk(DSK_PDRIVER self, const ForeignReader& reader, const DiskShape& shape,
             SectorImage& disk) {
    DSK_GEOMETRY geometry{};
    if (reader.getgeom(self, &geometry) != DSK_ERR_OK)
        return kNoGeometry;
    if (shape.cylinders != 0 && shape.heads != 0) {
        geometry.dg_cylinders = shape.cylinders;
        geometry.dg_heads = shape.heads;
    } else if (reader.trackids != nullptr) {
        // LibDsk guesses from the boot sector (40 x 1 for a blank one); the
        // tracks the container holds beyond the guess are asked for.
        auto holds = [&](unsigned c, unsigned h) {
            DSK_GEOMETRY probe = geometry;
            probe.dg_cylinders = std::max(probe.dg_cylinders, c + 1);
            probe.dg_heads = std::max(probe.dg_heads, h + 1);
            dsk_psect_t count = 0;
            DSK_FORMAT* listed = nullptr;
            const bool found = reader.trackids(self, &probe, c, h, &count, &listed) == DSK_ERR_OK &&
                               listed != nullptr && count > 0;
            std::free(listed);
            return found;
        };
        if (geometry.dg_heads == 1 && holds(0, 1))
            geometry.dg_heads = 2;
        while (geometry.dg_cylinders < 86 && holds(geometry.dg_cylinders, 0))
            ++geometry.dg_cylinders;
    }
    // An extended container's header lists at most 204 tracks.
    if (geometry.dg_cylinders == 0 || geometry.dg_heads == 0 || geometry.dg_heads > 2 ||
        geometry.dg_cylinders * geometry.dg_heads > 0x100 - 0x34)
        return kNoGeometry;
    disk.cylinders = geometry.dg_cylinders;
    disk.heads = geometry.dg_heads;
    for (unsigned c = 0; c < disk.cylinders; ++c) {
        for (unsigned h = 0; h < disk.heads; ++h) {
            ImageTrack& track = disk.tracks.emplace_back();
            std::vector<DSK_FORMAT> ids;
            dsk_psect_t count = 0;
            DSK_FORMAT* listed = nullptr;
            if (reader.trackids != nullptr &&
                reader.trackids(self, &geometry, c, h, &count, &listed) == DSK_ERR_OK &&
                listed != nullptr) {
                ids.assign(listed, listed + count);
                std::free(listed);
            } else {
                for (unsigned s = 0; s < geometry.dg_sectors; ++s)
                    ids.push_back({c, h, geometry.dg_secbase + s, geometry.dg_secsize});
            }
            if (ids.size() > ContainerTrack::kMaxSectors)
                return kTooManySectors;
            for (const DSK_FORMAT& id : ids) {
                const std::size_t size = id.fmt_secsize;
                if (size < 128 || size > 8192 || (size & (size - 1)) != 0 || id.fmt_sector > 0xFF)
                    continue;
                ImageSector sector{static_cast<std::uint8_t>(id.fmt_cylinder),
                                   static_cast<std::uint8_t>(id.fmt_head),
                                   static_cast<std::uint8_t>(id.fmt_sector),
                                   std::vector<std::uint8_t>(size, 0xE5),
                                   static_cast<std::uint8_t>(SizeCode(size))};
                if (ReadSector(self, reader, geometry, c, h, sector))
                    track.sectors.push_back(std::move(sector));
            }
        }
    }
    return kMade;
}

// In the child: limits on what it may take, and no descriptor but the ones
// it works with (`keep` of them, from 3 on); what it would say goes nowhere.
void Confine(int keep) {
    // A reader that crashes just dies: no handler of this program (a
    // sanitizer's, a fuzzer's) runs in the child.
    for (const int deadly : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGXCPU})
        std::signal(deadly, SIG_DFL);
    const rlimit time{kSecondsAllowed, kSecondsAllowed};
    setrlimit(RLIMIT_CPU, &time);
    const rlimit output{kOutputAllowed, kOutputAllowed};
    setrlimit(RLIMIT_FSIZE, &output);
    const rlimit core{0, 0};
    setrlimit(RLIMIT_CORE, &core);
#ifndef TARNLIGHT_ADDRESS_SANITIZER
    // (AddressSanitizer reserves far more address space than this.)
    constexpr rlim_t kMemoryAllowed = 1024UL << 20;
    const rlimit memory{kMemoryAllowed, kMemoryAllowed};
    setrlimit(RLIMIT_AS, &memory);
#endif
    ::close_range(static_cast<unsigned>(3 + keep), ~0U, 0);
    // No network: socket() fails. (A disk reader has no use for one.)
    static const sock_filter kNoSockets[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(kNoSockets)),
                       const_cast<sock_filter*>(kNoSockets)};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0)
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
}

// Waits for the child, up to a limit of wall-clock time as well; its exit
// status, or -1 when it was stopped or died.
int Wait(pid_t child) {
    int status = 0;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 2 * kSecondsAllowed) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -2;
        }
        poll(nullptr, 0, 5);
    }
}

// In the child: a copy of the file (LibDsk rewrites some files it only
// opens), then the disk read out as an extended container.
[[noreturn]] void RunChild(int input, const ForeignKind& kind, const ForeignReader& reader,
                           const DiskShape& shape, int out) {
    const int copy = memfd_create("tarnlight-foreign-input", 0);
    if (copy < 0)
        _exit(kNoCopy);
    std::uint8_t buffer[65536];
    long long total = 0;
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            _exit(kNoCopy);
        if (got == 0)
            break;
        total += got;
        if (total > kMaxImageSize || !WriteAll(copy, buffer, static_cast<std::size_t>(got)))
            _exit(kNoCopy);
    }
    ::close(input);
    const std::string copyPath = "/proc/self/fd/" + std::to_string(copy);
    DSK_PDRIVER self = nullptr;
    if (reader.open(&self, copyPath.c_str(), kind.driver, nullptr) != DSK_ERR_OK || self == nullptr)
        _exit(kNotOpened);
    SectorImage disk;
    const int read = ReadDisk(self, reader, shape, disk);
    if (read != kMade)
        _exit(read);
    // YAZE numbers a track's sectors from 0; CP/M disks' formats from 1.
    if (std::string_view(kind.driver) == "ydsk")
        for (ImageTrack& track : disk.tracks)
            for (ImageSector& sector : track.sectors)
                ++sector.id;
    const std::vector<std::uint8_t> bytes = ExtendedImageBytes(disk);
    if (bytes.empty())
        _exit(kTooManySectors);
    _exit(WriteAll(out, bytes.data(), bytes.size()) ? kMade : kNotWritten);
}

std::string Failed(const ForeignKind& kind, const char* what) {
    return std::string("damaged container (the ") + kind.name + " reader " + what + ")";
}

} // namespace

const ForeignKind* ForeignKindOf(const std::uint8_t* head, std::size_t length) {
    const auto starts = [&](std::string_view magic) {
        return length >= magic.size() && std::memcmp(head, magic.data(), magic.size()) == 0;
    };
    if (starts("IMD "))
        return &kKinds[0];
    if (starts("TD") || starts("td"))
        return &kKinds[1];
    if (starts("CQ\x14"))
        return &kKinds[2];
    if (starts("LBS\x01"))
        return &kKinds[3];
    if (starts("<CPM_Disk>"))
        return &kKinds[4];
    if (starts("QRST"))
        return &kKinds[5];
    return nullptr;
}

int CopyForeignImage(const std::string& path, const ForeignKind& kind, const ForeignReader& reader,
                     std::string& cause, const DiskShape& shape) {
    if (reader.open == nullptr || reader.getgeom == nullptr || reader.read == nullptr) {
        cause = "the disk library is not loaded";
        return -1;
    }
    // Opened here: the path may name a descriptor of this process.
    const int input = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        cause = std::strerror(errno);
        return -1;
    }
    const int out = memfd_create("tarnlight-foreign", MFD_CLOEXEC);
    if (out < 0) {
        cause = std::strerror(errno);
        ::close(input);
        return -1;
    }
    const pid_t child = fork();
    if (child < 0) {
        cause = std::strerror(errno);
        ::close(input);
        ::close(out);
        return -1;
    }
    if (child == 0) {
        // The output as 3 and the input as 4.
        const int highOut = fcntl(out, F_DUPFD, 10), highInput = fcntl(input, F_DUPFD, 10);
        if (highOut < 0 || highInput < 0 || ::dup2(highOut, 3) < 0 || ::dup2(highInput, 4) < 0)
            _exit(kNotWritten);
        Confine(2);
        RunChild(4, kind, reader, shape, 3);
    }
    ::close(input);
    const int status = Wait(child);
    if (status != kMade) {
        ::close(out);
        cause = status == -2                ? Failed(kind, "took too long")
                : status == kTooManySectors ? Failed(kind, "found tracks a .dsk cannot hold")
                : status == kNoCopy         ? Failed(kind, "could not read the file")
                                            : Failed(kind, "failed");
        return -1;
    }
    if (::lseek(out, 0, SEEK_SET) != 0) {
        ::close(out);
        cause = std::strerror(errno);
        return -1;
    }
    return out;
}

bool WriteImageInChild(const SectorImage& disk, const char* driver, int fd,
                       const ForeignReader& reader, std::string& cause) {
    if (reader.creat == nullptr || reader.write == nullptr || reader.close == nullptr) {
        cause = "the disk library is not loaded";
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        cause = std::strerror(errno);
        return false;
    }
    if (child == 0) {
        const int high = fcntl(fd, F_DUPFD, 10);
        if (high < 0 || ::dup2(high, 3) < 0)
            _exit(kNotOpened);
        Confine(1);
        DSK_PDRIVER self = nullptr;
        if (reader.creat(&self, "/proc/self/fd/3", driver, nullptr) != DSK_ERR_OK || self == nullptr)
            _exit(kNotOpened);
        // YAZE numbers sectors from 0 (see RunChild).
        const unsigned fromOne = std::string_view(driver) == "ydsk" ? 1 : 0;
        DSK_GEOMETRY geometry{};
        geometry.dg_sidedness = SIDES_ALT;
        geometry.dg_cylinders = disk.cylinders;
        geometry.dg_heads = disk.heads;
        geometry.dg_sectors = 0;
        geometry.dg_secbase = 0xFF;
        geometry.dg_secsize = 512;
        for (const ImageTrack& track : disk.tracks) {
            geometry.dg_sectors = std::max<unsigned>(geometry.dg_sectors, static_cast<unsigned>(track.sectors.size()));
            for (const ImageSector& sector : track.sectors)
                geometry.dg_secbase = std::min<unsigned>(geometry.dg_secbase, sector.id);
        }
        if (!disk.tracks.empty() && !disk.tracks[0].sectors.empty())
            geometry.dg_secsize = disk.tracks[0].sectors[0].data.size();
        geometry.dg_secbase -= fromOne;
        geometry.dg_datarate = RATE_SD;
        geometry.dg_rwgap = 0x2A;
        geometry.dg_fmtgap = 0x52;
        geometry.dg_fm = RECMODE_MFM;
        for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
            const ImageTrack& track = disk.tracks[t];
            const auto c = static_cast<dsk_pcyl_t>(t / disk.heads);
            const auto h = static_cast<dsk_phead_t>(t % disk.heads);
            std::vector<DSK_FORMAT> ids;
            for (const ImageSector& sector : track.sectors)
                ids.push_back({sector.cylinder, sector.head, sector.id - fromOne, sector.data.size()});
            if (ids.empty())
                continue;
            if (reader.format != nullptr) {
                DSK_GEOMETRY formatted = geometry;
                formatted.dg_sectors = static_cast<dsk_psect_t>(ids.size());
                formatted.dg_secsize = ids[0].fmt_secsize;
                if (reader.format(self, &formatted, c, h, ids.data(), 0xE5) != DSK_ERR_OK)
                    _exit(kNotWritten);
            }
            for (const ImageSector& sector : track.sectors)
                if (!WriteSector(self, reader, geometry, c, h, sector, sector.id - fromOne))
                    _exit(kNotWritten);
        }
        _exit(reader.close(&self) == DSK_ERR_OK ? kMade : kNotWritten);
    }
    const int status = Wait(child);
    if (status != kMade) {
        cause = status == -2 ? "the disk library took too long to write it"
                             : "the disk library could not write it";
        return false;
    }
    return true;
}

const ForeignKind* ForeignKindNamed(const std::string& name) {
    for (const ForeignKind& kind : kKinds)
        if (name == kind.name)
            return &kind;
    return nullptr;
}

bool ForeignKindIsWritable(const ForeignKind& kind) {
    const std::string_view driver = kind.driver;
    return driver == "imd" || driver == "tele" || driver == "qm" || driver == "ldbs" ||
           driver == "ydsk" || driver == "qrst";
}

bool ReadDiskThrough(DSK_PDRIVER self, const ForeignReader& reader, const DiskShape& shape,
                     SectorImage& disk) {
    return reader.getgeom != nullptr && reader.read != nullptr &&
           ReadDisk(self, reader, shape, disk) == kMade;
}
