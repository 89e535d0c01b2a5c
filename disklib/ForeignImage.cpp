#include "ForeignImage.h"

#include "DskContainer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/mman.h>
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
constexpr int kSecondsAllowed = 20;
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

// The disk as an extended CPCEMU image (its layout is described in
// DskContainer.cpp): every track LibDsk lists, each sector as read.
int WriteExtendedImage(void* handle, const ForeignReader& reader, int out) {
    auto* self = static_cast<DSK_PDRIVER>(handle);
    DSK_GEOMETRY geometry{};
    // The container's header lists at most 204 tracks.
    if (reader.getgeom(self, &geometry) != DSK_ERR_OK || geometry.dg_cylinders == 0 ||
        geometry.dg_heads == 0 || geometry.dg_heads > 2 ||
        geometry.dg_cylinders * geometry.dg_heads > 0x100 - 0x34)
        return kNoGeometry;
    const unsigned cylinders = geometry.dg_cylinders;
    const unsigned heads = geometry.dg_heads;
    std::vector<std::vector<std::uint8_t>> blocks;
    for (unsigned c = 0; c < cylinders; ++c) {
        for (unsigned h = 0; h < heads; ++h) {
            struct Sector {
                unsigned id, size;
                std::uint8_t cylinder, head;
                std::vector<std::uint8_t> data;
            };
            std::vector<Sector> sectors;
            dsk_psect_t count = 0;
            DSK_FORMAT* ids = nullptr;
            if (reader.trackids != nullptr &&
                reader.trackids(self, &geometry, c, h, &count, &ids) == DSK_ERR_OK && ids != nullptr) {
                for (dsk_psect_t i = 0; i < count; ++i)
                    sectors.push_back({ids[i].fmt_sector, static_cast<unsigned>(ids[i].fmt_secsize),
                                       static_cast<std::uint8_t>(ids[i].fmt_cylinder),
                                       static_cast<std::uint8_t>(ids[i].fmt_head), {}});
                std::free(ids);
            } else {
                for (unsigned s = 0; s < geometry.dg_sectors; ++s)
                    sectors.push_back({geometry.dg_secbase + s, static_cast<unsigned>(geometry.dg_secsize),
                                       static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h), {}});
            }
            if (sectors.size() > ContainerTrack::kMaxSectors)
                return kTooManySectors;
            // A sector that cannot be read is left out, as an unreadable
            // sector is on a real disk.
            std::vector<Sector> read;
            for (Sector& sector : sectors) {
                if (sector.size == 0 || sector.size > 8192 || (sector.size & (sector.size - 1)) != 0 ||
                    sector.id > 0xFF)
                    continue;
                DSK_GEOMETRY one = geometry;
                one.dg_secsize = sector.size;
                sector.data.assign(sector.size, 0xE5);
                if (reader.read(self, &one, sector.data.data(), c, h, sector.id) == DSK_ERR_OK)
                    read.push_back(std::move(sector));
            }
            std::vector<std::uint8_t> block;
            if (!read.empty()) {
                std::size_t dataSize = 0;
                for (const Sector& sector : read)
                    dataSize += sector.size;
                block.assign(0x100 + (dataSize + 0xFF) / 0x100 * 0x100, 0);
                std::memcpy(block.data(), "Track-Info\r\n", 12);
                block[0x10] = static_cast<std::uint8_t>(c);
                block[0x11] = static_cast<std::uint8_t>(h);
                unsigned code = 0;
                while ((128u << code) < read[0].size)
                    ++code;
                block[0x14] = static_cast<std::uint8_t>(code);
                block[0x15] = static_cast<std::uint8_t>(read.size());
                block[0x16] = 0x4E;
                block[0x17] = 0xE5;
                std::size_t at = 0x100;
                for (std::size_t i = 0; i < read.size(); ++i) {
                    const Sector& sector = read[i];
                    std::uint8_t* info = block.data() + 0x18 + 8 * i;
                    unsigned n = 0;
                    while ((128u << n) < sector.size)
                        ++n;
                    info[0] = sector.cylinder;
                    info[1] = sector.head;
                    info[2] = static_cast<std::uint8_t>(sector.id);
                    info[3] = static_cast<std::uint8_t>(n);
                    info[6] = static_cast<std::uint8_t>(sector.size & 0xFF);
                    info[7] = static_cast<std::uint8_t>(sector.size >> 8);
                    std::memcpy(block.data() + at, sector.data.data(), sector.size);
                    at += sector.size;
                }
                if (block.size() > 0xFF00)
                    return kTooManySectors;
            }
            blocks.push_back(std::move(block));
        }
    }
    std::vector<std::uint8_t> header(0x100, 0);
    std::memcpy(header.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
    std::memcpy(header.data() + 0x22, "Tarnlight", 9);
    header[0x30] = static_cast<std::uint8_t>(cylinders);
    header[0x31] = static_cast<std::uint8_t>(heads);
    for (std::size_t t = 0; t < blocks.size(); ++t)
        header[0x34 + t] = static_cast<std::uint8_t>(blocks[t].size() >> 8);
    if (!WriteAll(out, header.data(), header.size()))
        return kNotWritten;
    for (const auto& block : blocks)
        if (!WriteAll(out, block.data(), block.size()))
            return kNotWritten;
    return kMade;
}

// In the child: the limits, then a copy of the file (LibDsk rewrites some
// files it only opens), then the disk read out.
[[noreturn]] void RunChild(int input, const ForeignKind& kind, const ForeignReader& reader,
                           int out) {
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
    const int made = WriteExtendedImage(self, reader, out);
    _exit(made);
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
                     std::string& cause) {
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
        // The output as 3 and the input as 4; every other descriptor the
        // child inherited is closed.
        const int highOut = fcntl(out, F_DUPFD, 10), highInput = fcntl(input, F_DUPFD, 10);
        if (highOut < 0 || highInput < 0 || ::dup2(highOut, 3) < 0 || ::dup2(highInput, 4) < 0)
            _exit(kNotWritten);
        ::close_range(5, ~0U, 0);
        // What LibDsk (or a sanitizer) would say is not this program's.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (null > 4)
                ::close(null);
        }
        RunChild(4, kind, reader, 3);
    }
    ::close(input);
    // Waited for, up to a limit of wall-clock time as well.
    int status = 0;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR) {
            status = -1;
            break;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 2 * kSecondsAllowed) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ::close(out);
            cause = Failed(kind, "took too long");
            return -1;
        }
        poll(nullptr, 0, 5);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != kMade) {
        ::close(out);
        if (WIFEXITED(status) && WEXITSTATUS(status) == kTooManySectors)
            cause = Failed(kind, "found tracks a .dsk cannot hold");
        else if (WIFEXITED(status) && WEXITSTATUS(status) == kNoCopy)
            cause = Failed(kind, "could not read the file");
        else
            cause = Failed(kind, "failed");
        return -1;
    }
    if (::lseek(out, 0, SEEK_SET) != 0) {
        ::close(out);
        cause = std::strerror(errno);
        return -1;
    }
    return out;
}
