#pragma once
// Spectrum tapes (.tap, .tzx) read through libspectrum, loaded on first use,
// and the files on them told apart.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One block of a tape: the standard ROM blocks with their bytes (flag,
// data, checksum), any other kind by its description.
// The most a tape file is read to: far more than any real tape.
constexpr std::uint64_t kMaxTapeBytes = 64 * 1024 * 1024;
constexpr const char* kTapeTooLong = "larger than any tape (64 MiB)";

struct TapeBlock {
    bool standard = false;
    std::vector<std::uint8_t> bytes;
};

// The blocks of a .tap or .tzx file; false, with `error`, when the tape
// cannot be read.
bool ReadTapeBlocks(std::span<const std::uint8_t> file, const std::string& name,
                    std::vector<TapeBlock>& blocks, std::string& error);

// A tape of standard blocks (each flag, data, checksum), as a .tzx file
// when `tzx`, else a .tap file; false, with `error`, when libspectrum
// cannot write it.
bool WriteTapeBlocks(const std::vector<TapeBlock>& blocks, bool tzx, std::vector<std::uint8_t>& file,
                     std::string& error);

// A ROM file: a header block (flag 0x00, 17 bytes: type, 10-byte name,
// length, parameter 1, parameter 2, little-endian) and the data block
// after it (flag 0xFF), each ending in the XOR checksum of its bytes.
struct TapeFile {
    std::uint8_t type = 0; // 0 program, 1 number array, 2 character array, 3 bytes
    std::string name;      // the 10 bytes of the header
    std::uint16_t param1 = 0;
    std::uint16_t param2 = 0;
    std::vector<std::uint8_t> data; // without flag and checksum
    std::size_t block = 0;          // the header block's number, from 0 as tzxlist counts
    // The numbers of its blocks whose checksum fails: what was read may
    // not be what was saved.
    std::vector<std::size_t> failedChecksums;
};
// What else the tape held: a block with no header before it, or a block of
// another kind, by its number and a description.
struct TapeLeftover {
    std::size_t block = 0;
    std::string description;
    std::vector<std::uint8_t> data; // a headerless block's data, flag and checksum off
    bool checksumFailed = false;
};
struct TapeContents {
    std::vector<TapeFile> files;
    std::vector<TapeLeftover> leftovers;
};
TapeContents SplitTape(const std::vector<TapeBlock>& blocks);

// The most data one ROM block can carry: a tape block's 16-bit length counts
// its flag and checksum bytes too.
constexpr std::size_t kMaxTapeData = 0xFFFF - 2;

// The header block and data block of a file (whose data is at most
// kMaxTapeData bytes), checksums made: the name space-padded (or cut) to 10
// bytes.
std::vector<TapeBlock> BlocksOfTapeFile(const TapeFile& file);

// "program", "number array", "character array", "CODE".
std::string TapeTypeName(std::uint8_t type);
// The file's name in quotes and what it is, as a loader would say it:
// "GAME" program LINE 10, "SCREEN" CODE 16384,6912, "DATA" number array.
std::string DescribeTapeFile(const TapeFile& file);
// The file as a +3 keeps it on disk: the +3DOS header a LOAD needs, then
// the data.
std::vector<std::uint8_t> Plus3FileOfTape(const TapeFile& file);
// The CP/M name a tape file takes: the tape name upper-cased, letters and
// digits kept ("." splits name and type), cut to 8.3, the type BAS, BIN or
// DAT unless the name gave one, FILEnn for a blank name, and a number in the
// last places of the name where `taken` holds it already ("NAME.TYP").
std::string DiskNameForTapeFile(const TapeFile& file, std::size_t number,
                                const std::vector<std::string>& taken);
// The CP/M name of a block stored without a header: BLOCKnn.BIN by its
// number on the tape, a letter after the number where `taken` holds that.
std::string DiskNameForBlock(std::size_t block, const std::vector<std::string>& taken);
