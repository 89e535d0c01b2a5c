// The CPCEMU container layout is described in DskContainer.cpp, where files
// are checked before LibDsk reads them.

#include "SectorImage.h"

#include "DiskLibraryTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kHeader = 0x100, kMaxSectors = (0x100 - 0x18) / 8;

bool SizeIsCode(std::size_t size) {
    return size >= 128 && size <= 8192 && (size & (size - 1)) == 0;
}

std::vector<std::uint8_t> DiskHeader(const SectorImage& disk, const char* magic) {
    std::vector<std::uint8_t> header(kHeader, 0);
    std::memcpy(header.data(), magic, std::strlen(magic));
    std::memcpy(header.data() + 0x22, "Tarnlight", 9);
    header[0x30] = static_cast<std::uint8_t>(disk.cylinders);
    header[0x31] = static_cast<std::uint8_t>(disk.heads);
    return header;
}

// A track block: its 256-byte header, then the sectors' data, padded to
// `length` (0: its own length rounded up to 256).
std::vector<std::uint8_t> TrackBlock(const ImageTrack& track, unsigned cylinder, unsigned head,
                                     bool extended, std::size_t length) {
    std::size_t data = 0;
    for (const ImageSector& sector : track.sectors)
        data += sector.data.size();
    std::vector<std::uint8_t> block(length != 0 ? length : kHeader + (data + 0xFF) / 0x100 * 0x100, 0);
    std::memcpy(block.data(), "Track-Info\r\n", 12);
    block[0x10] = static_cast<std::uint8_t>(cylinder);
    block[0x11] = static_cast<std::uint8_t>(head);
    block[0x14] = static_cast<std::uint8_t>(track.sectors.empty() ? 2 : SizeCode(track.sectors[0].data.size()));
    block[0x15] = static_cast<std::uint8_t>(track.sectors.size());
    block[0x16] = 0x4E;
    block[0x17] = 0xE5;
    std::size_t at = kHeader;
    for (std::size_t i = 0; i < track.sectors.size(); ++i) {
        const ImageSector& sector = track.sectors[i];
        std::uint8_t* info = block.data() + 0x18 + 8 * i;
        info[0] = sector.cylinder;
        info[1] = sector.head;
        info[2] = sector.id;
        info[3] = extended ? sector.sizeCode : static_cast<std::uint8_t>(SizeCode(sector.data.size()));
        if (extended) {
            info[6] = static_cast<std::uint8_t>(sector.data.size() & 0xFF);
            info[7] = static_cast<std::uint8_t>(sector.data.size() >> 8);
        }
        std::copy(sector.data.begin(), sector.data.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
        at += sector.data.size();
    }
    return block;
}

std::string TrackName(std::size_t index, unsigned heads) {
    return "track " + std::to_string(index) + " (cylinder " + std::to_string(index / heads) +
           ", head " + std::to_string(index % heads) + ")";
}

// A track's sectors as a raw dump keeps them: in id order.
std::vector<ImageSector> InIdOrder(std::vector<ImageSector> sectors) {
    std::stable_sort(sectors.begin(), sectors.end(),
                     [](const ImageSector& x, const ImageSector& y) { return x.id < y.id; });
    return sectors;
}

} // namespace

std::optional<SectorImage> ReadCpcemuImage(const std::vector<std::uint8_t>& bytes,
                                           std::vector<unsigned>* missing) {
    if (bytes.size() < kHeader)
        return std::nullopt;
    const bool extended = std::memcmp(bytes.data(), "EXTENDED", 8) == 0;
    if (!extended && std::memcmp(bytes.data(), "MV - CPC", 8) != 0)
        return std::nullopt;
    SectorImage disk;
    disk.cylinders = bytes[0x30];
    disk.heads = bytes[0x31];
    if (disk.heads == 0 || disk.heads > 2 || disk.cylinders * disk.heads > kHeader - 0x34)
        return std::nullopt;
    std::size_t offset = kHeader;
    for (unsigned t = 0; t < disk.cylinders * disk.heads; ++t) {
        const std::size_t blockSize =
            extended ? std::size_t{bytes[0x34 + t]} << 8 : std::size_t{bytes[0x32]} | bytes[0x33] << 8;
        ImageTrack& track = disk.tracks.emplace_back();
        if (blockSize == 0)
            continue;
        if (missing != nullptr && bytes.size() - std::min(offset, bytes.size()) < blockSize) {
            missing->push_back(t);
            offset += blockSize;
            continue;
        }
        if (blockSize < kHeader || bytes.size() - offset < blockSize ||
            std::memcmp(bytes.data() + offset, "Track-Info", 10) != 0)
            return std::nullopt;
        const std::uint8_t* header = bytes.data() + offset;
        const unsigned count = header[0x15];
        if (count > kMaxSectors)
            return std::nullopt;
        std::size_t at = offset + kHeader;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t* info = header + 0x18 + 8 * i;
            const std::size_t size = extended ? std::size_t{info[6]} | info[7] << 8
                                              : std::size_t{128} << std::min<unsigned>(header[0x14], 6);
            if (offset + blockSize - at < size)
                return std::nullopt;
            ImageSector sector{info[0], info[1], info[2], {}, info[3]};
            sector.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
            track.sectors.push_back(std::move(sector));
            at += size;
        }
        offset += blockSize;
    }
    return disk;
}

std::vector<std::uint8_t> ExtendedImageBytes(const SectorImage& disk) {
    if (disk.heads == 0 || disk.heads > 2 || disk.cylinders * disk.heads > kHeader - 0x34 ||
        disk.tracks.size() != std::size_t{disk.cylinders} * disk.heads)
        return {};
    std::vector<std::uint8_t> bytes = DiskHeader(disk, "EXTENDED CPC DSK File\r\nDisk-Info\r\n");
    // An unformatted track is one of no block, except at the end: LibDsk
    // 1.5.9 takes a file that ends in those for a corrupt one, so they get
    // a block of no sectors.
    std::size_t formatted = disk.tracks.size();
    while (formatted > 0 && disk.tracks[formatted - 1].sectors.empty())
        --formatted;
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        const ImageTrack& track = disk.tracks[t];
        if (track.sectors.size() > kMaxSectors)
            return {};
        for (const ImageSector& sector : track.sectors)
            if (sector.data.size() > 6 * 8192)
                return {};
        if (track.sectors.empty() && t < formatted)
            continue;
        const auto block = TrackBlock(track, static_cast<unsigned>(t / disk.heads),
                                      static_cast<unsigned>(t % disk.heads), true, 0);
        if (block.size() > 0xFF00)
            return {};
        bytes[0x34 + t] = static_cast<std::uint8_t>(block.size() >> 8);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    return bytes;
}

std::string StandardImageProblem(const SectorImage& disk) {
    std::size_t length = 0;
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        const ImageTrack& track = disk.tracks[t];
        std::size_t data = 0;
        for (const ImageSector& sector : track.sectors) {
            if (sector.data.size() != track.sectors[0].data.size())
                return TrackName(t, disk.heads) + " holds sectors of more than one size";
            data += sector.data.size();
        }
        if (track.sectors.empty())
            return TrackName(t, disk.heads) + " is not formatted";
        if (length != 0 && data != length)
            return TrackName(t, disk.heads) + " holds " + std::to_string(data) +
                   " bytes where the others hold " + std::to_string(length);
        length = data;
    }
    return {};
}

std::vector<std::uint8_t> StandardImageBytes(const SectorImage& disk) {
    if (!StandardImageProblem(disk).empty() || disk.tracks.empty() ||
        disk.tracks.size() != std::size_t{disk.cylinders} * disk.heads ||
        disk.cylinders * disk.heads > kHeader - 0x34 || disk.tracks[0].sectors.size() > kMaxSectors ||
        !SizeIsCode(disk.tracks[0].sectors[0].data.size()))
        return {};
    std::vector<std::uint8_t> bytes = DiskHeader(disk, "MV - CPCEMU Disk-File\r\nDisk-Info\r\n");
    std::size_t data = 0;
    for (const ImageSector& sector : disk.tracks[0].sectors)
        data += sector.data.size();
    const std::size_t length = kHeader + data;
    if (length > 0xFFFF)
        return {};
    bytes[0x32] = static_cast<std::uint8_t>(length & 0xFF);
    bytes[0x33] = static_cast<std::uint8_t>(length >> 8);
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        const auto block = TrackBlock(disk.tracks[t], static_cast<unsigned>(t / disk.heads),
                                      static_cast<unsigned>(t % disk.heads), false, length);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    return bytes;
}

std::vector<std::uint8_t> RawImageBytes(const SectorImage& disk) {
    std::vector<std::uint8_t> bytes;
    for (const ImageTrack& track : disk.tracks)
        for (const ImageSector& sector : InIdOrder(track.sectors))
            bytes.insert(bytes.end(), sector.data.begin(), sector.data.end());
    return bytes;
}

std::string OddSectorProblem(const SectorImage& disk) {
    for (std::size_t t = 0; t < disk.tracks.size(); ++t)
        for (const ImageSector& sector : disk.tracks[t].sectors)
            if (sector.sizeCode > 6 || sector.data.size() != std::size_t{128} << sector.sizeCode) {
                char id[8];
                std::snprintf(id, sizeof id, "0x%02X", sector.id);
                return TrackName(t, std::max(disk.heads, 1u)) + ", sector " + id + ": " +
                       std::to_string(sector.data.size()) + " bytes kept for a sector of " +
                       std::to_string(std::size_t{128} << std::min<unsigned>(sector.sizeCode, 6)) +
                       " (weak or cut short)";
            }
    return {};
}

std::string RepeatedIdProblem(const SectorImage& disk) {
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        const auto& sectors = disk.tracks[t].sectors;
        for (std::size_t i = 0; i < sectors.size(); ++i)
            for (std::size_t k = i + 1; k < sectors.size(); ++k)
                if (sectors[i].id == sectors[k].id) {
                    char id[8];
                    std::snprintf(id, sizeof id, "0x%02X", sectors[i].id);
                    return TrackName(t, std::max(disk.heads, 1u)) + " holds two sectors of id " + id;
                }
    }
    return {};
}

std::string MisplacedIdProblem(const SectorImage& disk) {
    const unsigned heads = std::max(disk.heads, 1u);
    for (std::size_t t = 0; t < disk.tracks.size(); ++t)
        for (const ImageSector& sector : disk.tracks[t].sectors)
            if (sector.cylinder != t / heads || sector.head != t % heads)
                return TrackName(t, heads) + " holds sectors whose ids say cylinder " +
                       std::to_string(sector.cylinder) + ", head " + std::to_string(sector.head);
    return {};
}

std::string FirstDifference(const SectorImage& a, const SectorImage& b, bool idsKept) {
    // A raw dump does not say how its tracks make cylinders and heads;
    // tracks past the last one a container holds are unformatted ones.
    if (idsKept && a.heads != b.heads)
        return std::to_string(a.heads) + " heads became " + std::to_string(b.heads);
    const ImageTrack unformatted;
    for (std::size_t t = 0; t < std::max(a.tracks.size(), b.tracks.size()); ++t) {
        const ImageTrack& one = t < a.tracks.size() ? a.tracks[t] : unformatted;
        const ImageTrack& other = t < b.tracks.size() ? b.tracks[t] : unformatted;
        // A raw dump keeps the sectors in id order and without their ids.
        const auto first = idsKept ? one.sectors : InIdOrder(one.sectors);
        const auto second = idsKept ? other.sectors : InIdOrder(other.sectors);
        const unsigned heads = std::max(a.heads, 1u);
        if (first.size() != second.size())
            return TrackName(t, heads) + ": " + std::to_string(first.size()) + " sectors became " +
                   std::to_string(second.size());
        for (std::size_t s = 0; s < first.size(); ++s) {
            const std::string where = TrackName(t, heads) + ", sector " + std::to_string(s + 1);
            if (idsKept && (first[s].id != second[s].id || first[s].cylinder != second[s].cylinder ||
                            first[s].head != second[s].head))
                return where + ": its id changed";
            if (first[s].data != second[s].data)
                return where + ": the data differ";
        }
    }
    return {};
}

std::optional<SectorImage> SingleSteppedCopy(const SectorImage& disk) {
    auto track = [&disk](unsigned cylinder, unsigned head) -> const ImageTrack* {
        const std::size_t index = std::size_t{cylinder} * disk.heads + head;
        return index < disk.tracks.size() ? &disk.tracks[index] : nullptr;
    };
    const bool stepped = IsDoubleStepped(disk.cylinders, disk.heads,
                                         [&](unsigned c, unsigned h) -> std::optional<unsigned> {
                                             const ImageTrack* t = track(c, h);
                                             if (t == nullptr || t->sectors.empty())
                                                 return std::nullopt;
                                             return t->sectors.front().cylinder;
                                         });
    if (!stepped)
        return std::nullopt;
    SectorImage single;
    single.heads = disk.heads;
    single.cylinders = (disk.cylinders + 1) / 2;
    for (unsigned c = 0; c < single.cylinders; ++c)
        for (unsigned h = 0; h < disk.heads; ++h) {
            const ImageTrack* even = track(2 * c, h);
            const ImageTrack* odd = track(2 * c + 1, h);
            if (odd != nullptr && !odd->sectors.empty() && (even == nullptr || !(*odd == *even)))
                return std::nullopt;
            single.tracks.push_back(even != nullptr ? *even : ImageTrack{});
        }
    return single;
}
