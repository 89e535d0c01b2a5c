#pragma once
// Writes "EXTENDED CPC DSK" containers byte by byte, so that tests can build
// images with odd tracks: missing or reordered sector ids, sectors of other
// sizes, tracks with no sectors, error flags.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct DskSector {
    std::uint8_t id = 1;
    std::uint8_t sizeCode = 2; // 128 << N
    std::uint8_t st1 = 0;
    std::uint8_t st2 = 0;
    std::vector<std::uint8_t> data; // stored as is; its length is the stored length
};

// A track with no sectors is written as a Track-Info block with none.
struct DskTrack {
    std::vector<DskSector> sectors;
};

class DskWriter {
public:
    // A single-sided disk of `cylinders` tracks of nine 512-byte sectors
    // (ids first..first+8), every byte 0xE5.
    DskWriter(unsigned cylinders, std::uint8_t firstId = 1);

    DskTrack& Track(unsigned cylinder) { return m_Tracks.at(cylinder); }
    // The data of sector `id` on `cylinder`.
    std::vector<std::uint8_t>& Sector(unsigned cylinder, std::uint8_t id);
    // A logical sector counted from the first sector of cylinder `reserved`.
    std::vector<std::uint8_t>& Logical(unsigned reserved, unsigned logical);
    void PutEntry(unsigned reserved, unsigned index, const void* entry32);
    void SetBootBytes(std::initializer_list<std::uint8_t> bytes);
    // Tracks `first` on hold five 1024-byte sectors (ids 1-5) filled with
    // the last digit of their cylinder: a format of the disk's own, as a
    // game read by its own loader has.
    void FiveSectorsOf1024From(unsigned first);

    std::vector<std::uint8_t> Bytes() const;
    void Save(const std::string& path) const;

private:
    std::uint8_t m_FirstId;
    std::vector<DskTrack> m_Tracks;
};
