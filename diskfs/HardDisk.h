#pragma once
// +3e hard-disk images: the IDEDOS partition table and the +3DOS partitions
// in it, each a CP/M volume of its own, addressed as IMAGE.hdf:NAME.

#include "Layout.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HardDiskPartition {
    std::string name; // trailing spaces taken off
    std::uint8_t type = 0;
    unsigned startCylinder = 0, startHead = 0, endCylinder = 0, endHead = 0;
    // Where the partition lies, in bytes of the disk as IDEDOS counts them
    // (sectors of the disk's sector bytes, see HardDisk).
    std::uint64_t firstByte = 0, byteCount = 0;
    // The 64-byte entry as it stands (the XDPB of a +3DOS partition at 32).
    std::array<std::uint8_t, 64> entry{};
};

struct HardDisk {
    // "RS-IDE" (with its header version, 0x10 or 0x11) or raw IDEDOS.
    bool rsIde = false;
    unsigned version = 0;
    // Each 512-byte sector stored as its 256 low bytes (an 8-bit interface).
    bool halved = false;
    // Raw 8-bit: each byte of the disk in the low byte of a word of the file.
    bool eightBitWords = false;
    std::uint32_t dataOffset = 0;
    std::uint64_t fileBytes = 0;
    // Where the partition table starts, in bytes of the disk: 0, or a
    // track in when the system partition is on head 1.
    std::uint64_t tableByte = 0;
    // The disk's geometry, as the system partition gives it.
    unsigned cylinders = 0, heads = 0, sectorsPerTrack = 0;
    // The bytes a sector of the disk holds: 256 on an 8-bit interface.
    unsigned sectorBytes = 512;
    std::vector<HardDiskPartition> partitions;

    // Where byte `diskByte` of the disk lies in the file.
    std::uint64_t FileOffset(std::uint64_t diskByte) const {
        return dataOffset + (eightBitWords ? diskByte * 2 : diskByte);
    }
    const HardDiskPartition* Named(const std::string& name) const;
    // Whether the file holds all of the partition's bytes.
    bool Holds(const HardDiskPartition& p) const {
        return FileOffset(p.firstByte + p.byteCount) <= fileBytes;
    }
};

constexpr std::uint8_t kPlus3DosPartition = 0x03;

// Whether the file's first bytes are a hard-disk image's (an RS-IDE header,
// or an IDEDOS system partition as the first sector).
bool LooksLikeHardDisk(const std::uint8_t* first, std::size_t count);
// Whether the first sector ends as a PC's master boot record does: a raw
// disk whose IDEDOS table may then be on head 1 (ReadHardDisk tells).
bool HasBootRecordSignature(const std::uint8_t* first, std::size_t count);

// Reads the header and the partition table; `read` fills `count` bytes from
// offset `at` of the file and says whether all were there. "" on success,
// else why the image cannot be read.
using FileReader = std::function<bool(std::uint64_t at, std::uint8_t* buffer, std::size_t count)>;
std::string ReadHardDisk(const FileReader& read, std::uint64_t fileSize, HardDisk& disk);

// "RS-IDE v1.1 hard-disk image, halved sectors", "raw IDEDOS hard-disk image".
std::string HardDiskContainerText(const HardDisk& disk);

// "+3DOS", "FAT16", "swap", "free space"... ("type &41" for others).
std::string PartitionTypeName(std::uint8_t type);

// The CP/M layout of a +3DOS partition from its XDPB, and the sector map
// figures of the partition read as 512-byte sectors on tracks of the XDPB's
// records per track. False with `refusal` when the XDPB does not describe a
// volume inside the partition.
bool PartitionLayout(const HardDiskPartition& partition, GeometryFigures& figures,
                     DiskLayout& layout, std::string& refusal);

// An image path naming a partition ("disk.hdf:FILES"): the host file and the
// partition's name. `isHardDisk` says whether a host file is a hard-disk
// image; a path that names an existing file, or whose part before the last
// colon is not a hard-disk image, names no partition.
bool SplitPartitionPath(const std::string& path,
                        const std::function<bool(const std::string&)>& isHardDisk,
                        std::string& host, std::string& partition);
