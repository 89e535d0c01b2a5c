// +3e hard-disk images (the +3e's IDEDOS documentation, Fuse's hdf tools and
// libspectrum's ide.c, for the facts).
//
// RS-IDE header ("HDF"), little-endian:
//   0  "RS-IDE" 0x1A        7  version: 0x10 (v1.0) or 0x11 (v1.1)
//   8  flags: bit 0 halved (each 512-byte sector stored as its 256 low bytes)
//   9  offset of the disk's first sector in the file (0x80 for v1.0, 0x216
//      for v1.1)      22  the drive's IDENTIFY data (106 or 512 bytes)
// A raw image is the disk's sectors alone. A disk formatted through an
// 8-bit interface but stored whole holds each byte in the low byte of a
// word: its sectors are of 256 bytes, like a halved image's.
//
// IDEDOS partition table: from the first sector of the disk, one 64-byte
// entry per partition, the first the system partition ("PLUSIDEDOS", type 1):
//   0  name, 16 bytes, space-padded       16  type (0 unused, 3 +3DOS ...)
//   17 first cylinder (2)  19 first head   20 last cylinder (2)  22 last head
//   23 largest logical sector (4)          32 type-specific, 32 bytes
// A partition runs from its first (cylinder, head) track to its last, whole
// tracks of the disk's sectors. The system partition's type-specific bytes:
//   32 cylinders (2)  34 heads  35 sectors per track  36 sectors per
//   cylinder (2)  38 the highest partition number (2): entries 0 to it.
// A +3DOS partition's are its XDPB (CP/M's DPB, then +3DOS's own):
//   32 SPT records per track (2)  34 BSH  35 BLM  36 EXM  37 DSM (2)
//   39 DRM (2)  41 AL0  42 AL1  43 CKS (2)  45 OFF reserved tracks (2)
//   47 PSH  48 PHM  ... 60 the drive letter it is mapped to.
// The partition is a run of bytes: record r at byte 128 r, block b at
// OFF * SPT * 128 + b << (BSH + 7).

#include "HardDisk.h"

#include "DiskLibraryTable.h"
#include "DiskStructs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

constexpr char kRsIdeSignature[] = "RS-IDE\x1A";
constexpr std::size_t kRsIdeSignatureBytes = 7;
constexpr char kSystemName[] = "PLUSIDEDOS      ";
constexpr std::size_t kEntryBytes = 64;
// More entries than any IDEDOS table holds: a damaged count is not read on.
constexpr unsigned kMaxPartitionEntries = 4096;

unsigned Word(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}

bool IsSystemEntry(const std::uint8_t* entry) {
    return std::memcmp(entry, kSystemName, 16) == 0 && entry[16] == 1;
}

// The disk's bytes as an 8-bit interface stored them, one in each word.
bool IsSystemEntryInWords(const std::uint8_t* bytes) {
    std::uint8_t entry[17];
    for (std::size_t i = 0; i < sizeof entry; ++i)
        entry[i] = bytes[i * 2];
    return IsSystemEntry(entry);
}

std::string Trimmed(const std::uint8_t* name, std::size_t count) {
    std::string text(reinterpret_cast<const char*>(name), count);
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// One 64-byte entry at byte `diskByte` of the disk.
bool ReadEntry(const FileReader& read, const HardDisk& disk, std::uint64_t diskByte,
               std::uint8_t* entry) {
    const std::uint64_t at = disk.FileOffset(diskByte);
    if (!disk.eightBitWords)
        return at + kEntryBytes <= disk.fileBytes && read(at, entry, kEntryBytes);
    std::uint8_t words[kEntryBytes * 2];
    if (at + sizeof words > disk.fileBytes || !read(at, words, sizeof words))
        return false;
    for (std::size_t k = 0; k < kEntryBytes; ++k)
        entry[k] = words[k * 2];
    return true;
}

} // namespace

const HardDiskPartition* HardDisk::Named(const std::string& name) const {
    for (const HardDiskPartition& p : partitions)
        if (p.type != 0 && SameName(p.name, name))
            return &p;
    return nullptr;
}

bool LooksLikeHardDisk(const std::uint8_t* first, std::size_t count) {
    if (count >= kRsIdeSignatureBytes &&
        std::memcmp(first, kRsIdeSignature, kRsIdeSignatureBytes) == 0)
        return true;
    return (count >= 17 && IsSystemEntry(first)) || (count >= 34 && IsSystemEntryInWords(first));
}

bool HasBootRecordSignature(const std::uint8_t* first, std::size_t count) {
    return count >= 512 && first[510] == 0x55 && first[511] == 0xAA;
}

std::string ReadHardDisk(const FileReader& read, std::uint64_t fileSize, HardDisk& disk) {
    disk = {};
    disk.fileBytes = fileSize;
    std::uint8_t header[22] = {};
    if (!read(0, header, sizeof header))
        return "the file is too short for a hard-disk image";
    if (std::memcmp(header, kRsIdeSignature, kRsIdeSignatureBytes) == 0) {
        disk.rsIde = true;
        disk.version = header[7];
        if (disk.version != 0x10 && disk.version != 0x11)
            return "its RS-IDE header is of version " + std::to_string(disk.version >> 4) + "." +
                   std::to_string(disk.version & 0x0F) + "; versions 1.0 and 1.1 are read";
        disk.halved = (header[8] & 1) != 0;
        disk.dataOffset = Word(header + 9);
        if (disk.dataOffset < sizeof header || disk.dataOffset > fileSize)
            return "its RS-IDE header puts the disk at byte " + std::to_string(disk.dataOffset) +
                   ", outside the header and the file";
    }
    // The system partition: in the disk's first sector, or in the first
    // sector of head 1 (a track in, where a PC's master boot record holds
    // the first), which its own sectors per track and first head confirm.
    std::uint8_t system[kEntryBytes];
    bool found = false;
    for (const bool words : {false, true}) {
        if (words && disk.halved)
            break;
        disk.eightBitWords = words;
        const unsigned sectorBytes = disk.halved || words ? 256 : 512;
        found = ReadEntry(read, disk, 0, system) && IsSystemEntry(system);
        for (unsigned spt = 1; !found && spt < 256; ++spt) {
            disk.tableByte = std::uint64_t{spt} * sectorBytes;
            found = ReadEntry(read, disk, disk.tableByte, system) && IsSystemEntry(system) &&
                    system[35] == spt && system[19] == 1;
        }
        if (found)
            break;
        disk.tableByte = 0;
    }
    if (!found) {
        disk.eightBitWords = false;
        return "the disk holds no IDEDOS partition table (no PLUSIDEDOS system partition in the "
               "first sector of head 0 or head 1)";
    }
    disk.sectorBytes = disk.halved || disk.eightBitWords ? 256 : 512;
    disk.cylinders = Word(system + 32);
    disk.heads = system[34];
    disk.sectorsPerTrack = system[35];
    if (disk.heads == 0 || disk.sectorsPerTrack == 0 || disk.cylinders == 0)
        return "its system partition gives no geometry (" + std::to_string(disk.cylinders) +
               " cylinders, " + std::to_string(disk.heads) + " heads, " +
               std::to_string(disk.sectorsPerTrack) + " sectors per track)";
    const unsigned entries = std::min(Word(system + 38) + 1, kMaxPartitionEntries);
    const std::uint64_t trackBytes = std::uint64_t{disk.sectorsPerTrack} * disk.sectorBytes;
    std::vector<std::uint8_t> table(std::size_t{entries} * kEntryBytes);
    for (unsigned i = 0; i < entries; ++i) {
        std::uint8_t* entry = table.data() + std::size_t{i} * kEntryBytes;
        if (!ReadEntry(read, disk, disk.tableByte + std::uint64_t{i} * kEntryBytes, entry))
            return "its partition table is cut short at entry " + std::to_string(i);
        if (entry[16] == 0)
            continue;
        HardDiskPartition p;
        p.name = Trimmed(entry, 16);
        p.type = entry[16];
        p.startCylinder = Word(entry + 17);
        p.startHead = entry[19];
        p.endCylinder = Word(entry + 20);
        p.endHead = entry[22];
        std::copy(entry, entry + kEntryBytes, p.entry.begin());
        const std::uint64_t firstTrack = std::uint64_t{p.startCylinder} * disk.heads + p.startHead;
        const std::uint64_t lastTrack = std::uint64_t{p.endCylinder} * disk.heads + p.endHead;
        p.firstByte = firstTrack * trackBytes;
        p.byteCount = lastTrack >= firstTrack ? (lastTrack - firstTrack + 1) * trackBytes : 0;
        disk.partitions.push_back(std::move(p));
    }
    return {};
}

std::string HardDiskContainerText(const HardDisk& disk) {
    if (!disk.rsIde)
        return std::string("raw IDEDOS hard-disk image") + (disk.eightBitWords ? ", 8-bit" : "");
    return std::string("RS-IDE v1.") + (disk.version == 0x11 ? "1" : "0") + " hard-disk image" +
           (disk.halved          ? ", halved sectors"
            : disk.eightBitWords ? ", 8-bit"
                                 : "");
}

std::string PartitionTypeName(std::uint8_t type) {
    // The types IDEDOS and its extensions (ZXVGS, CPM22QED) define.
    static const std::pair<std::uint8_t, const char*> kTypes[] = {
        {0x01, "system"},
        {0x02, "swap"},
        {0x03, "+3DOS"},
        {0x04, "CP/M"},
        {0x05, "boot"},
        {0x0F, "movie"},
        {0x10, "FAT16"},
        {0x20, "UZI(X)"},
        {0x30, "TR-DOS disk image"},
        {0x31, "+D/SAM disk image"},
        {0x32, "MB-02 disk image"},
        {0x33, "TOS A.2 disk image"},
        {0x40, "+3 disk image"},
        {0x41, "Elwro 800 disk image"},
        {0x48, "CPC disk image"},
        {0x49, "PCW disk image"},
        {0xFE, "bad space"},
        {0xFF, "free space"},
    };
    for (const auto& [code, name] : kTypes)
        if (code == type)
            return name;
    static const char hex[] = "0123456789ABCDEF";
    return std::string("type &") + hex[type >> 4] + hex[type & 15];
}

bool PartitionLayout(const HardDiskPartition& partition, GeometryFigures& figures,
                     DiskLayout& layout, std::string& refusal) {
    const std::uint8_t* x = partition.entry.data() + 32;
    const unsigned recordsPerTrack = Word(x);
    const unsigned bsh = x[2], blm = x[3], exm = x[4];
    const std::uint32_t blocks = Word(x + 5) + 1u;
    const std::uint32_t entries = Word(x + 7) + 1u;
    const unsigned allocation = x[9] << 8 | x[10];
    const unsigned offTracks = Word(x + 13);
    auto refuse = [&](const std::string& why) {
        refusal = "its XDPB " + why;
        return false;
    };
    if (bsh < 3 || bsh > 7 || blm != (1u << bsh) - 1)
        return refuse("gives a block shift of " + std::to_string(bsh) + " and mask of " +
                      std::to_string(blm) + " (blocks of 1K to 16K are read)");
    if (recordsPerTrack == 0 || recordsPerTrack % 4 != 0)
        return refuse("gives " + std::to_string(recordsPerTrack) +
                      " records per track, not whole 512-byte sectors");
    const std::uint32_t blockSize = 128u << bsh;
    // The directory blocks are AL0/AL1's leading ones, and nothing after.
    unsigned directoryBlocks = 0;
    while (directoryBlocks < 16 && (allocation & (0x8000u >> directoryBlocks)) != 0)
        ++directoryBlocks;
    if (directoryBlocks == 0 || (allocation & (0xFFFFu >> directoryBlocks)) != 0)
        return refuse("reserves no run of directory blocks (AL0, AL1 " +
                      std::to_string(allocation >> 8) + ", " + std::to_string(allocation & 0xFF) +
                      ")");
    if (entries > directoryBlocks * blockSize / kDirEntrySize || entries > kMaxDirEntries)
        return refuse("gives " + std::to_string(entries) + " directory entries in " +
                      std::to_string(directoryBlocks) + " blocks (at most " +
                      std::to_string(kMaxDirEntries) + " are read)");
    if (blocks > kMapBlocks || blocks <= directoryBlocks)
        return refuse("gives " + std::to_string(blocks) + " blocks (at most " +
                      std::to_string(kMapBlocks) + " are read)");
    const std::uint64_t trackBytes = std::uint64_t{recordsPerTrack} * 128;
    const std::uint64_t needed = offTracks * trackBytes + std::uint64_t{blocks} * blockSize;
    if (needed > partition.byteCount)
        return refuse("gives " + std::to_string(needed) + " bytes of volume; the partition holds " +
                      std::to_string(partition.byteCount));
    // As CP/M derives them: one-byte block numbers below 256 blocks.
    const unsigned slots = blocks < 256 ? 16 : 8;
    const std::uint32_t perEntry = blockSize * slots;
    const unsigned extentMask = perEntry >= 16384 ? perEntry / 16384 - 1 : 0;
    if (exm != extentMask)
        return refuse("gives an extent mask of " + std::to_string(exm) + "; its blocks give " +
                      std::to_string(extentMask));
    const std::uint64_t tracks = partition.byteCount / trackBytes;
    if (tracks > 0xFFFF || offTracks > 0xFF)
        return refuse("gives tracks of " + std::to_string(trackBytes) + " bytes, " +
                      std::to_string(tracks) + " of them");

    figures = {};
    figures.cylinders = static_cast<std::uint16_t>(tracks);
    figures.heads = 1;
    figures.sectorsPerTrack = static_cast<std::uint16_t>(recordsPerTrack / 4);
    figures.sectorSize = 512;
    figures.firstSectorId = 0;

    layout = {};
    // What a disk specification would say of such a volume.
    layout.spec.bytes[DiskSpec::Type] = 0xFF;
    layout.spec.bytes[DiskSpec::TracksPerSide] =
        static_cast<std::uint8_t>(std::min<std::uint64_t>(tracks, 0xFF));
    layout.spec.bytes[DiskSpec::SectorsPerTrack] =
        static_cast<std::uint8_t>(std::min(recordsPerTrack / 4, 0xFFu));
    layout.spec.bytes[DiskSpec::SectorSizeCode] = 2;
    layout.spec.bytes[DiskSpec::ReservedTracks] = static_cast<std::uint8_t>(offTracks);
    layout.spec.bytes[DiskSpec::BlockShift] = static_cast<std::uint8_t>(bsh);
    layout.spec.bytes[DiskSpec::DirectoryBlocks] = static_cast<std::uint8_t>(directoryBlocks);
    layout.blockSize = static_cast<std::uint16_t>(blockSize);
    layout.sectorsPerBlock = static_cast<std::uint16_t>(blockSize / 512);
    layout.directoryBlocks = static_cast<std::uint8_t>(directoryBlocks);
    layout.totalBlocks = static_cast<std::uint16_t>(blocks);
    layout.reservedTracks = static_cast<std::uint8_t>(offTracks);
    layout.sides = SideOrder::Alternate;
    layout.slotsPerEntry = slots;
    layout.extentMask = extentMask;
    layout.usableBlocks = blocks;
    return true;
}

bool SplitPartitionPath(const std::string& path,
                        const std::function<bool(const std::string&)>& isHardDisk,
                        std::string& host, std::string& partition) {
    const std::size_t colon = path.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == path.size())
        return false;
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return false;
    const std::string before = path.substr(0, colon);
    if (!isHardDisk(before))
        return false;
    host = before;
    partition = path.substr(colon + 1);
    return true;
}
