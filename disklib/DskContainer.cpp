// CPCEMU container layout:
//   0x00  "MV - CPC" (standard) or "EXTENDED CPC DSK File" (extended)
//   0x30  tracks, 0x31 sides
//   0x32  standard: size of every track block, 16-bit little-endian
//   0x34  extended: one byte per track, the block size / 256 (0 = no track)
//   0x100 the track blocks, each starting with a 256-byte "Track-Info" header:
//         0x14 sector size code, 0x15 sector count, 0x18 eight bytes per
//         sector (C, H, R, N, ST1, ST2, extended: data length 16-bit LE)

#include "DskContainer.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr long kHeaderSize = 0x100;
// Floppy images are far smaller; anything larger is left to LibDsk.
constexpr off_t kMaxCheckedSize = 64L << 20;
constexpr unsigned kMaxSectorsPerTrack = (0x100 - 0x18) / 8;

// The open file: only the disk header, the track headers and one boot sector
// are read, each where it lies.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes() {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    bool Load(const std::string& path) {
        // Non-blocking: a FIFO put in the image's place must not hang the open.
        m_Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (m_Fd < 0)
            return false;
        struct stat st {};
        if (fstat(m_Fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxCheckedSize)
            return false;
        m_Size = static_cast<std::size_t>(st.st_size);
        return true;
    }
    // Served from a window of the file read ahead: the checks walk the
    // track headers in order, a few kilobytes apart.
    bool Read(long offset, std::uint8_t* buffer, std::size_t size) const {
        if (size == 0)
            return true;
        if (size > kWindow)
            return ReadDirect(offset, buffer, size);
        if (m_WindowSize == 0 || offset < m_WindowStart ||
            offset + static_cast<long>(size) > m_WindowStart + static_cast<long>(m_WindowSize)) {
            const std::size_t want = std::min<std::size_t>(kWindow, m_Size - static_cast<std::size_t>(offset));
            if (want < size || !ReadDirect(offset, m_Window, want))
                return false;
            m_WindowStart = offset;
            m_WindowSize = want;
        }
        std::memcpy(buffer, m_Window + (offset - m_WindowStart), size);
        return true;
    }
    std::size_t size() const { return m_Size; }

private:
    static constexpr std::size_t kWindow = 32768;

    bool ReadDirect(long offset, std::uint8_t* buffer, std::size_t size) const {
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::pread(m_Fd, buffer + got, size - got, offset + static_cast<long>(got));
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    int m_Fd = -1;
    std::size_t m_Size = 0;
    mutable std::uint8_t m_Window[kWindow];
    mutable long m_WindowStart = 0;
    mutable std::size_t m_WindowSize = 0;
};
using File = const FileBytes*;

// A floppy controller's sector size codes end at 8 (32K); LibDsk divides by
// sizes computed from larger ones.
constexpr std::uint8_t kMaxSizeCode = 8;

long SizeOfCode(std::uint8_t code) { return SectorBytesOfCode(code); }

bool ReadAt(File file, long offset, std::uint8_t* buffer, std::size_t size) {
    if (offset < 0 || static_cast<std::size_t>(offset) > file->size() ||
        file->size() - static_cast<std::size_t>(offset) < size)
        return false;
    return file->Read(offset, buffer, size);
}

// One track block: its header must be there and its sectors must fit it.
// Where the data of the sector with this id lies in a track block (0 when
// the track has no such sector).
// The room a sector's data takes in its track block: in an extended block
// its stored length (0 for an entry with no data, as some captures hold, and
// as LibDsk reads them), in a standard block 128 << the track's size code.
long PlacedLength(const std::uint8_t* header, const std::uint8_t* info, bool extended) {
    if (!extended)
        return SizeOfCode(header[0x14]);
    return info[6] | info[7] << 8;
}

long SectorOffset(const std::uint8_t* header, bool extended, std::uint8_t id) {
    long offset = kHeaderSize;
    for (unsigned i = 0; i < header[0x15] && i < kMaxSectorsPerTrack; ++i) {
        const std::uint8_t* info = header + 0x18 + 8 * i;
        if (info[2] == id)
            return offset;
        offset += PlacedLength(header, info, extended);
    }
    return 0;
}

bool TrackIsSound(File file, long offset, long blockSize, bool extended) {
    std::uint8_t header[kHeaderSize];
    if (!ReadAt(file, offset, header, sizeof header))
        return true; // past the end of the file: LibDsk reports the missing track itself
    if (std::memcmp(header, "Track-Info", 10) != 0)
        return false;
    const unsigned sectors = header[0x15];
    if (sectors > kMaxSectorsPerTrack || header[0x14] > kMaxSizeCode)
        return false;
    // Every sector's data must lie inside the block. In a standard block
    // LibDsk also goes by each sector's own size code: both readings must fit.
    const long room = blockSize - kHeaderSize;
    long placed = 0;
    long bySector = 0;
    for (unsigned i = 0; i < sectors; ++i) {
        const std::uint8_t* info = header + 0x18 + 8 * i;
        if (info[3] > kMaxSizeCode)
            return false;
        placed += PlacedLength(header, info, extended);
        bySector += SizeOfCode(info[3]);
        if (placed > room || (!extended && bySector > room))
            return false;
    }
    return true;
}

bool StartsWith(const std::uint8_t* data, const char* magic) {
    return std::memcmp(data, magic, std::strlen(magic)) == 0;
}

// The boot sector of a CPCEMU container: sector id 1 of the first track.
bool ContainerBootSectorIsSafe(File file, const std::uint8_t* diskHeader, bool extended) {
    const long blockSize = extended ? long{diskHeader[0x34]} << 8
                                    : diskHeader[0x32] | diskHeader[0x33] << 8;
    if (blockSize < kHeaderSize)
        return true;
    std::uint8_t track[kHeaderSize];
    std::uint8_t boot[512];
    if (!ReadAt(file, kHeaderSize, track, sizeof track))
        return true;
    const long offset = SectorOffset(track, extended, 1);
    if (offset == 0 || !ReadAt(file, kHeaderSize + offset, boot, sizeof boot))
        return true;
    return BootSectorIsSafe(boot);
}

} // namespace

bool BootSectorIsSafe(const std::uint8_t* b) {
    // LibDsk tries these readings in turn; the first that fits decides the
    // sector size with which it reads the boot sector again.
    const bool dosStart = b[0] == 0xE9 || b[0] == 0xEB ||
                          (b[0x0B] == 0 && b[0x0C] == 2 && b[0x15] >= 0xF8 && b[0x1B] == 0) ||
                          (b[0] == 0 && b[1] == 0 && b[2] == 0);
    if (dosStart && b[511] != 144 && b[511] != 72 && b[511] != 12) {
        const unsigned size = b[11] | b[12] << 8;
        const bool fits = size % 128 == 0 && size != 0 && (b[26] | b[27]) != 0 &&
                          (b[24] | b[25]) != 0;
        if (fits)
            return size <= 512;
    }
    static const std::uint8_t kAllE5[10] = {0xE5, 0xE5, 0xE5, 0xE5, 0xE5,
                                            0xE5, 0xE5, 0xE5, 0xE5, 0xE5};
    if (std::memcmp(b, kAllE5, sizeof kAllE5) == 0)
        return true;
    const std::uint8_t* spec = b;
    bool pcw = true;
    if (b[0] == 0xE9 || b[0] == 0xEA) {
        pcw = StartsWith(b + 0x2B, "CP/M") && StartsWith(b + 0x33, "DSK") &&
              StartsWith(b + 0x7C, "CP/M");
        spec = b + 0x80;
    }
    // A PCW specification also has its block shift and directory blocks
    // turned into CP/M parameters: LibDsk divides by 128 << shift and shifts
    // by 16 - directory blocks.
    if (pcw && (spec[0] == 0 || spec[0] == 3) && (spec[1] & 3) != 3 && spec[2] != 0 &&
        spec[3] != 0)
        return spec[4] <= 2 && spec[6] <= 24 && spec[7] <= 16;
    bool ascii = true;
    for (int i = 0; i < 8; ++i)
        ascii = ascii && (b[i] == 0 || (b[i] >= 0x20 && b[i] <= 0x7E));
    if (ascii) {
        const unsigned size = b[0x0E] | b[0x0F] << 8;
        if (size % 128 == 0 && size != 0 && b[0x16] != 0 && (b[0x10] | b[0x11]) != 0)
            return size <= 512;
    }
    switch (b[511]) {
    case 0x00: case 0x01: case 0x0C: case 0x40: case 0x10: case 0x11: case 0x48: case 0x90:
        return true; // CP/M-86: standard formats of 512-byte sectors
    default:
        break;
    }
    if (b[0] == 0x18) // Opus Discovery
        return b[4] <= 2;
    return true;
}

namespace {

struct KnownMagic {
    const char* magic;
    std::size_t length;
    const char* kind;
};

// Compressed files and containers of other systems: told apart so that the
// user hears what the file is.
constexpr KnownMagic kForeign[] = {
    {"\x1f\x8b", 2, "gzip-compressed"},
    {"BZh", 3, "bzip2-compressed"},
    {"\x1f\x9d", 2, "compress-compressed"},
    {"\x76\xff", 2, "squeeze-compressed"},
    {"\xfd" "7zXZ", 5, "xz-compressed"},
    {"PK\x03\x04", 4, "a zip archive"},
    {"ACT Apricot", 11, "an Apricot image"},
    {"SAP\x00", 4, "a SAP image"},
    {"JV3", 3, "a JV3 image"},
    {"DQK", 3, "a Sydex image"},
};

// Raw sector dumps: whole tracks of nine 512-byte sectors, 35 to 172 of them
// (single-sided 40-track disks up to double-sided 86-track ones).
constexpr long long kRawTrack = 9 * 512;
bool IsRawSize(long long size) {
    return size % kRawTrack == 0 && size >= 35 * kRawTrack && size <= 172 * kRawTrack;
}

} // namespace

ImageKind IdentifyImageFile(const std::string& path) {
    ImageKind kind;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        kind.cause = std::strerror(errno);
        return kind;
    }
    if (!S_ISREG(st.st_mode)) {
        kind.cause = "not a regular file";
        return kind;
    }
    // Non-blocking, so that a file swapped for a FIFO meanwhile cannot hang
    // the open; the descriptor is checked again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        kind.cause = std::strerror(errno);
        return kind;
    }
    std::uint8_t head[0x32] = {};
    ssize_t got = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        got = ::pread(fd, head, sizeof head, 0);
    else
        kind.cause = "not a regular file";
    const int readError = errno;
    ::close(fd);
    if (got < 0) {
        if (kind.cause.empty())
            kind.cause = std::strerror(readError);
        return kind;
    }
    if (st.st_size > kMaxImageSize) {
        kind.verdict = ImageKind::Verdict::Unsupported;
        kind.cause = "too large for a floppy-disk image";
        return kind;
    }
    const auto at = [&](const char* magic, std::size_t length) {
        return static_cast<std::size_t>(got) >= length && std::memcmp(head, magic, length) == 0;
    };
    kind.verdict = ImageKind::Verdict::Image;
    if (at("MV - CPC", 8) || at("EXTENDED", 8)) {
        kind.driver = head[0] == 'M' ? "dsk" : "edsk";
        if (got == sizeof head && (head[0x31] == 1 || head[0x31] == 2)) {
            kind.cylinders = head[0x30];
            kind.heads = head[0x31];
        }
        return kind;
    }
    if (const ForeignKind* foreign = ForeignKindOf(head, static_cast<std::size_t>(got))) {
        kind.driver = foreign->driver;
        kind.foreign = foreign;
        return kind;
    }
    for (const KnownMagic& known : kForeign) {
        if (at(known.magic, known.length)) {
            kind.verdict = ImageKind::Verdict::Unsupported;
            kind.cause = known.kind;
            return kind;
        }
    }
    if (IsRawSize(st.st_size)) {
        kind.driver = "raw";
        // Up to 86 tracks fit one side; more are two sides of half as many.
        const auto tracks = static_cast<unsigned>(st.st_size / kRawTrack);
        kind.heads = tracks > 86 && tracks % 2 == 0 ? 2 : 1;
        kind.cylinders = tracks / kind.heads;
        return kind;
    }
    kind.verdict = ImageKind::Verdict::NotReadable;
    kind.cause = "not a disk image";
    return kind;
}

std::string ContainerDamage(const std::string& path, std::vector<ContainerTrack>* shapes,
                            ContainerRepair* repair, bool probed) {
    static const std::string kDamaged = "damaged container";
    if (repair != nullptr)
        *repair = ContainerRepair::None;
    const auto repairable = [repair](ContainerRepair how, std::string cause) {
        if (repair != nullptr)
            *repair = how;
        return cause;
    };
    FileBytes contents;
    if (!contents.Load(path))
        return {}; // LibDsk reports what cannot be opened or read
    const File file = &contents;
    std::uint8_t header[kHeaderSize];
    const bool standard = ReadAt(file, 0, header, sizeof header) && StartsWith(header, "MV - CPC");
    // LibDsk goes by the first eight bytes alone.
    const bool extended = !standard && ReadAt(file, 0, header, sizeof header) &&
                          StartsWith(header, "EXTENDED");
    // A raw dump is read through its first sector, and so is a file whose
    // container header LibDsk does not accept after all: those 512 bytes
    // must pass as a boot sector (those of a sound CPCEMU header do).
    std::uint8_t boot[512];
    // (A sound container whose first sector is no boot sector, as a ROMDOS
    // D1 disk's directory, is read once its format is named.)
    static const std::string kUntold =
        "its first sector does not tell the disk's format; name the format (a ROMDOS D1 or "
        "Vortex disk?)";
    if (probed && ReadAt(file, 0, boot, sizeof boot) && !BootSectorIsSafe(boot))
        return standard || extended ? kDamaged
                                    : "a raw sector dump whose layout cannot be told from its bytes";
    if (!standard && !extended)
        return {};
    if (probed && !ContainerBootSectorIsSafe(file, header, extended))
        return kUntold;
    const unsigned tracks = header[0x30] * header[0x31];
    if (!extended) {
        const long blockSize = header[0x32] | header[0x33] << 8;
        if (tracks != 0 && blockSize < kHeaderSize)
            return kDamaged;
        const long present = blockSize > 0 ? (static_cast<long>(file->size()) - kHeaderSize) / blockSize : 0;
        if (present < static_cast<long>(tracks))
            return repairable(ContainerRepair::CutShort,
                              CutShortText(tracks, static_cast<unsigned>(std::max(present, 0L))));
    } else if (tracks > kHeaderSize - 0x34) {
        return kDamaged;
    }
    // LibDsk's geometry probe asks the first track for a sector id and
    // divides by its sector count: that track must have sectors.
    std::uint8_t firstTrack[kHeaderSize];
    if ((extended && header[0x34] == 0) ||
        (ReadAt(file, kHeaderSize, firstTrack, sizeof firstTrack) && firstTrack[0x15] == 0))
        return kDamaged;
    long offset = kHeaderSize;
    unsigned promised = 0, present = 0;
    for (unsigned t = 0; t < tracks; ++t) {
        const long blockSize = extended ? long{header[0x34 + t]} << 8 : header[0x32] | header[0x33] << 8;
        ContainerTrack shape;
        if (blockSize == 0) {
            if (shapes != nullptr)
                shapes->push_back(shape);
            continue; // an extended image's unformatted track
        }
        ++promised;
        if (blockSize < kHeaderSize || !TrackIsSound(file, offset, blockSize, extended))
            return kDamaged;
        std::uint8_t trackHeader[kHeaderSize];
        if (shapes != nullptr && ReadAt(file, offset, trackHeader, sizeof trackHeader)) {
            const unsigned listed = std::min<unsigned>(trackHeader[0x15], ContainerTrack::kMaxSectors);
            for (unsigned i = 0; i < listed; ++i) {
                const std::uint8_t* info = trackHeader + 0x18 + 8 * i;
                // An extended entry without data (as some captures hold)
                // is no sector that can be read or written.
                if (extended && PlacedLength(trackHeader, info, true) == 0)
                    continue;
                if (shape.count == 0)
                    shape.idCylinder = info[0];
                shape.ids[shape.count] = info[2];
                shape.sizeCodes[shape.count] = info[3];
                ++shape.count;
            }
        }
        if (shapes != nullptr)
            shapes->push_back(shape);
        if (offset + blockSize <= static_cast<long>(file->size()))
            ++present;
        offset += blockSize;
    }
    if (present < promised)
        return repairable(ContainerRepair::CutShort, CutShortText(promised, present));
    if (extended && tracks > 0 && header[0x34 + tracks - 1] == 0)
        return repairable(ContainerRepair::EndsUnformatted,
                          "the container ends in unformatted tracks, which the disk library "
                          "cannot read as they stand");
    return {};
}

std::vector<TrackRecord> ReadTrackRecords(const std::string& path, bool withData, unsigned* heads) {
    FileBytes contents;
    std::uint8_t header[kHeaderSize];
    if (!contents.Load(path) || !ReadAt(&contents, 0, header, sizeof header))
        return {};
    const bool extended = StartsWith(header, "EXTENDED");
    if (!extended && !StartsWith(header, "MV - CPC"))
        return {};
    const unsigned tracks = header[0x30] * header[0x31];
    if (extended && tracks > kHeaderSize - 0x34)
        return {};
    if (heads != nullptr)
        *heads = header[0x31];
    std::vector<TrackRecord> records(tracks);
    long offset = kHeaderSize;
    for (unsigned t = 0; t < tracks; ++t) {
        const long blockSize =
            extended ? long{header[0x34 + t]} << 8 : header[0x32] | header[0x33] << 8;
        if (blockSize == 0)
            continue;
        std::uint8_t track[kHeaderSize];
        if (blockSize < kHeaderSize || !ReadAt(&contents, offset, track, sizeof track))
            break; // cut short: the tracks present are told
        if (!StartsWith(track, "Track-Info"))
            return {};
        TrackRecord& record = records[t];
        record.formatted = true;
        const unsigned count = std::min<unsigned>(track[0x15], kMaxSectorsPerTrack);
        long at = offset + kHeaderSize;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t* info = track + 0x18 + 8 * i;
            const long placed = PlacedLength(track, info, extended);
            SectorRecord sector{
                info[2], info[3], info[4], info[5], static_cast<std::uint32_t>(placed), {}};
            if (withData && placed > 0 && at + placed <= offset + blockSize) {
                sector.data.resize(
                    std::min<std::size_t>(static_cast<std::size_t>(placed), sector.Size()));
                if (!ReadAt(&contents, at, sector.data.data(), sector.data.size()))
                    sector.data.clear();
            }
            record.sectors.push_back(std::move(sector));
            at += placed;
        }
        offset += blockSize;
    }
    return records;
}

std::string SectorSizesText(const std::vector<std::uint32_t>& sizes) {
    const std::set<std::uint32_t, std::greater<>> distinct(sizes.begin(), sizes.end());
    std::string text;
    for (const std::uint32_t size : distinct)
        text += (text.empty() ? "" : " and ") + std::to_string(size);
    return text;
}

bool DskContainerIsSound(const std::string& path) { return ContainerDamage(path).empty(); }

std::string CutShortText(unsigned promised, unsigned present) {
    return "the container is cut short: " + std::to_string(promised) + " tracks promised, " +
           std::to_string(present) + " present";
}

std::string MissingTracksText(const std::vector<unsigned>& tracks) {
    std::vector<std::string> runs;
    for (std::size_t i = 0; i < tracks.size();) {
        std::size_t end = i;
        while (end + 1 < tracks.size() && tracks[end + 1] == tracks[end] + 1)
            ++end;
        runs.push_back(end == i ? "track " + std::to_string(tracks[i])
                                : "tracks " + std::to_string(tracks[i]) + " to " +
                                      std::to_string(tracks[end]));
        i = end + 1;
    }
    std::string text;
    for (std::size_t i = 0; i < runs.size(); ++i)
        text += (i == 0 ? "" : i + 1 == runs.size() ? " and " : ", ") + runs[i];
    return text + " missing";
}

bool IsDoubleStepped(
    unsigned cylinders, unsigned heads,
    const std::function<std::optional<unsigned>(unsigned, unsigned)>& idCylinderOf) {
    // An 80-track drive's dump of a 40-track disk: 70 to 90 cylinders.
    if (cylinders < 70 || cylinders > 90 || heads == 0)
        return false;
    bool beyondFirst = false;
    for (unsigned c = 0; c < cylinders; ++c)
        for (unsigned h = 0; h < heads; ++h) {
            const std::optional<unsigned> id = idCylinderOf(c, h);
            if (!id)
                continue;
            if (*id != c / 2)
                return false;
            beyondFirst = beyondFirst || c >= 2;
        }
    return beyondFirst;
}
