#pragma once
// A disk as the sectors its tracks hold, whatever container it came in: what
// conversions carry from one container to another and compare afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ImageSector {
    std::uint8_t cylinder = 0, head = 0, id = 0; // as the sector's id field says
    std::vector<std::uint8_t> data;              // 128 << sizeCode bytes, unless odd
    std::uint8_t sizeCode = 2;                   // the id field's N
    bool operator==(const ImageSector&) const = default;
};

struct ImageTrack {
    std::vector<ImageSector> sectors; // in the order the track holds them
    bool operator==(const ImageTrack&) const = default;
};

struct SectorImage {
    unsigned cylinders = 0, heads = 0;
    std::vector<ImageTrack> tracks; // cylinder * heads + head
    bool operator==(const SectorImage&) const = default;
};

// The disk of a CPCEMU container (standard or extended) that passed the
// container check; nullopt for anything it cannot read whole. Given
// `missing`, a file cut short is read too: the tracks whose blocks it does
// not hold whole are listed there and left unformatted.
std::optional<SectorImage> ReadCpcemuImage(const std::vector<std::uint8_t>& bytes,
                                           std::vector<unsigned>* missing = nullptr);

// The disk as an extended CPCEMU container (what LibDsk opens: unformatted
// tracks at the end are given blocks of no sectors); empty when a track does not fit
// one (more than 29 sectors, sizes other than 128 << 0..6, over 65280 bytes).
std::vector<std::uint8_t> ExtendedImageBytes(const SectorImage& disk);

// The 40-track disk a double-stepped dump holds (IsDoubleStepped): its even
// cylinders, when every odd one is unformatted or holds the same sectors;
// nullopt for any other disk, or when an odd track differs.
std::optional<SectorImage> SingleSteppedCopy(const SectorImage& disk);

// Why the disk cannot be kept in a standard CPCEMU container (every sector
// of a track one size, every track one length), naming the first track that
// shows it; "" when it can.
std::string StandardImageProblem(const SectorImage& disk);
std::vector<std::uint8_t> StandardImageBytes(const SectorImage& disk);

// The disk as a raw dump: each track's sectors in id order, without ids.
std::vector<std::uint8_t> RawImageBytes(const SectorImage& disk);

// The first sector whose data is not the size its id field gives (a weak
// sector's several readings, a sector cut short), which only an extended
// CPCEMU container keeps; "" for none.
std::string OddSectorProblem(const SectorImage& disk);

// The first track holding two sectors of one id, which containers that
// address sectors by id cannot keep apart; "" for none.
std::string RepeatedIdProblem(const SectorImage& disk);

// The first track holding a sector whose id names another cylinder or head
// (a mastering quirk: track 39's sectors saying cylinder 41), which
// containers that number sectors by their place alone cannot keep; "" for
// none.
std::string MisplacedIdProblem(const SectorImage& disk);

// The first difference between two disks, in a user's words ("track 3 (
// cylinder 1, head 1), sector 4: the data differ"); "" when they are the same.
// With `idsKept` false (a raw dump keeps no ids), only the data are compared.
std::string FirstDifference(const SectorImage& a, const SectorImage& b, bool idsKept);
