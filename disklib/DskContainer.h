#pragma once
// Checks made before LibDsk parses an image file, for what LibDsk 1.5.9
// trusts and then mishandles (found by fuzzing):
// - CPCEMU containers ("MV - CPC" and "EXTENDED CPC DSK") whose track blocks
//   are not where the header says or whose sectors do not fit their blocks
//   (LibDsk copies past its track buffer), or whose first track has no
//   sectors (LibDsk divides by their count);
// - boot sectors whose DOS, PCW, Apricot or Opus fields claim sectors over
//   512 bytes (LibDsk's geometry probe then reads that much into a 512-byte
//   buffer), or whose PCW fields it divides or shifts by unchecked;
// - containers cut short, whose missing tracks LibDsk reports as a missing file.
// Only these containers and raw dumps reach LibDsk in this process (see
// IdentifyImageFile); others it reads are read in a child (ForeignImage.h).

#include "DiskLibraryTable.h"
#include "ForeignImage.h"

#include <cstdint>
#include <string>
#include <vector>

// What a file is, judged from the file itself before LibDsk sees it. Only the
// container types that are checked here (and fuzzed) reach LibDsk, each under
// its own driver name, so that no other driver probes the file (one of them
// opens a host folder as a disk).
struct ImageKind {
    enum class Verdict {
        Image,       // `driver` names the LibDsk driver to open it with
        NotReadable, // missing, unreadable, not a regular file, or not a disk image
        Unsupported, // a known kind that is not supported (compressed, foreign)
    };
    Verdict verdict = Verdict::NotReadable;
    const char* driver = nullptr;
    std::string cause; // why it was refused, in a user's words
    // The cylinders and heads the container holds (0 when it does not say):
    // the disk's own shape, which LibDsk's geometry guess from the boot
    // sector may not match.
    unsigned cylinders = 0;
    unsigned heads = 0;
    // Set for a container read in a child process (see ForeignImage.h).
    const ForeignKind* foreign = nullptr;
};
// Images larger than this are no floppy disk.
constexpr long long kMaxImageSize = 16LL << 20;
ImageKind IdentifyImageFile(const std::string& path);

// Why LibDsk must not be given the file, in a user's words ("damaged
// container", "the container is cut short: 40 tracks promised, 23
// present"); empty when it may.
// The tracks a sound CPCEMU container holds are listed in `tracks` (track t
// is cylinder t / sides, head t % sides), when given.
// A sound container LibDsk 1.5.9 cannot read as it stands, whose disk is
// read from a copy made whole (see ReadCpcemuImage): `repair` says which.
enum class ContainerRepair {
    None,
    CutShort,        // the file ends before the tracks its header promises
    EndsUnformatted, // an extended header whose last tracks have no block
};
// `probed`: LibDsk will probe the first sector for the geometry, so it must
// be one the probe reads safely.
std::string ContainerDamage(const std::string& path, std::vector<ContainerTrack>* tracks = nullptr,
                            ContainerRepair* repair = nullptr, bool probed = true);
bool DskContainerIsSound(const std::string& path);
// "the container is cut short: 40 tracks promised, 9 present"
std::string CutShortText(unsigned promised, unsigned present);
// The missing tracks in a user's words: "tracks 9 to 39 missing", "track 3
// and tracks 9 to 39 missing".
std::string MissingTracksText(const std::vector<unsigned>& tracks);

// What a CPCEMU container records of each sector beside its data: its id
// and size code (R, N), its status bytes, and how many bytes of
// data it keeps (an extended container keeps several copies of a sector
// read differently each time, as weak sectors are).
struct SectorRecord {
    std::uint8_t id = 0, sizeCode = 0;
    std::uint8_t st1 = 0, st2 = 0;
    std::uint32_t stored = 0;
    // The first copy of its data, when asked for (at most Size() bytes).
    std::vector<std::uint8_t> data;
    // Bytes the sector holds by its size code.
    std::uint32_t Size() const { return SectorBytesOfCode(sizeCode); }
    // More than one copy of its data is kept.
    bool Weak() const { return stored > Size() && stored % Size() == 0; }
    // The controller reported an error: end of cylinder, CRC, no data or a
    // missing address mark (ST1 0x80, 0x20, 0x04, 0x01; ST2 0x20, 0x01).
    bool ErrorStatus() const { return (st1 & 0xA5) != 0 || (st2 & 0x21) != 0; }
    // A deleted-data mark (ST2 0x40).
    bool Deleted() const { return (st2 & 0x40) != 0; }
};
struct TrackRecord {
    bool formatted = false;
    std::vector<SectorRecord> sectors; // in the order the track holds them
};
// Every track a CPCEMU container holds (track t is cylinder t / sides, head
// t % sides), as its track headers describe it; empty for other files and
// for a container whose track blocks are not where its header says. With
// `withData` each sector's first copy of its data comes too; `heads` gets
// the container's sides.
std::vector<TrackRecord> ReadTrackRecords(const std::string& path, bool withData = false,
                                          unsigned* heads = nullptr);

// False when LibDsk's geometry probe would read this boot sector again with
// sectors larger than 512 bytes.
bool BootSectorIsSafe(const std::uint8_t* boot);
