#pragma once
// One directory entry, decoded. Nothing else in the file system reads or
// writes the raw bytes of an entry.
//
// Directory entry, 32 bytes:
//   0      user: 0..31 live, 0xE5 free, anything else neither
//   1..8   name, space padded; bit 7 of each byte is an attribute bit (f1-f8)
//   9..11  type, space padded; bit 7 of bytes 9, 10, 11 = read-only, system,
//          archive
//   12 EX  extent number, low 5 bits     13 S1  last record's byte count (CP/M 3)
//   14 S2  extent number, high bits      15 RC  records in the entry's last
//                                               logical extent
//   16..31 block numbers: 16 bytes when the disk has fewer than 256 blocks,
//          otherwise 8 little-endian 16-bit words; 0 means no block
// An entry holds extent mask + 1 logical extents of 16K (CP/M's EXM); its
// EX is the number of the last one it holds, so it holds
// (EX AND mask) * 128 + RC records.

#include "DiskStructs.h"
#include "FileId.h"

#include <algorithm>
#include <array>
#include <cstdint>

struct CpmEntry {
    std::uint8_t user = kFreeUser;
    // Name and type with the attribute bits cleared; the bits on their own.
    std::array<std::uint8_t, kNameLen> name{};
    std::array<std::uint8_t, kTypeLen> type{};
    std::uint8_t nameBits = 0; // bit i: bit 7 of name byte i
    bool readOnly = false;
    bool system = false;
    bool archive = false;
    std::uint8_t ex = 0;
    std::uint8_t s1 = 0;
    std::uint8_t s2 = 0;
    std::uint8_t rc = 0;
    std::array<std::uint16_t, 16> blocks{};
    unsigned slotCount = 16; // 16 one-byte or 8 two-byte numbers

    static CpmEntry Decode(const std::uint8_t* raw, unsigned slotCount);
    // Fields read straight from a raw entry, for scans over the whole
    // directory that would otherwise decode every entry.
    static std::uint16_t RawBlock(const std::uint8_t* raw, unsigned slot, unsigned slotCount);
    static void SetRawBlock(std::uint8_t* raw, unsigned slot, unsigned slotCount,
                            std::uint16_t block);
    static unsigned RawExtent(const std::uint8_t* raw) { return ExtentNumber(raw[12], raw[14]); }
    static bool RawSameFile(const std::uint8_t* raw, const FileId& file);
    static unsigned ExtentNumber(std::uint8_t ex, std::uint8_t s2) { return ex + 32u * (s2 & 0x3F); }
    void Encode(std::uint8_t* raw) const;

    bool Live() const { return user <= kMaxLiveUser; }
    bool PasswordRecord() const { return user > kMaxLiveUser && user <= kMaxPasswordUser; }
    bool Free() const { return user == kFreeUser; }
    // The logical extent number, EX + 32 * S2.
    unsigned Extent() const { return ExtentNumber(ex, s2); }
    // Block numbers other than 0 (no block).
    unsigned BlockCount() const;
    // Names no block and holds no record: it adds nothing to its file's
    // data, not even a hole (LocoScript names its groups with such entries,
    // at extent 32).
    bool HoldsNothing(unsigned extentMask) const {
        return Records(extentMask) == 0 && BlockCount() == 0;
    }
    // EX above 31 or S2 above 63: a number CP/M never writes.
    bool ExtentNumberInvalid() const { return ex > 0x1F || s2 > 0x3F; }
    std::uint32_t Records(unsigned extentMask) const { return (ex & extentMask) * 128u + rc; }
    // Where the entry's data starts in the file: its first logical extent
    // (EX with the extent mask cleared) times 16K.
    std::uint64_t FirstByte(unsigned extentMask) const {
        return std::uint64_t{Extent() & ~extentMask} * 16384u;
    }
    // The file the entry belongs to (for a password record: user + 16).
    FileId Id() const {
        FileId id;
        id.user = user;
        id.name = name;
        id.type = type;
        return id;
    }
    // Every name and type byte is a printable character.
    bool NameIsValid() const;
    // LocoScript names its groups 0-7 by entries NAME.GRP of users 0-7 with
    // EX 0x20, no record and no block: no file, and no damage.
    bool IsLocoScriptGroup() const;
};
