#pragma once
// The 128-byte headers that +3DOS and AMSDOS put in front of a file's data.
//
// +3DOS header (ZX Spectrum +3 manual, chapter 8, the +3DOS file header):
//   0..7   "PLUS3DOS"             8      0x1A (soft end of file)
//   9      issue number (1)       10     version number (0)
//   11..14 file length in bytes, header included, little-endian
//   15..22 +3 BASIC header: 15 type (0 program, 1 number array, 2 character
//          array, 3 code), 16..17 data length, 18..19 parameter 1 (program:
//          autostart line, 32768 or more for none; code: load address),
//          20..21 parameter 2 (program: program length without variables;
//          code: 32768)
//   23..126 reserved (0)          127    sum of bytes 0..126, mod 256
//
// AMSDOS header (CPC firmware guide, chapter 9 "AMSDOS"; CPCWiki "AMSDOS
// Header"):
//   0      user number            1..11  name and type, space padded
//   12..17 zero (tape: block number, last block)
//   18     file type: 0 BASIC, 1 protected BASIC, 2 binary (bits 1-3 the
//          kind, bit 0 protection)
//   19..20 data length (tape)     21..22 load address
//   23     first block (0xFF)     24..25 logical length
//   26..27 entry address          28..63 unused
//   64..66 file length without the header, 24-bit little-endian
//   67..68 sum of bytes 0..66, 16-bit little-endian; the only way to tell a
//          header from data
//
// A header is taken as one only when its checksum matches, its bytes are
// not all zero (128 zeros pass the AMSDOS sum) and its lengths fit the file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::size_t kHeaderSize = 128;

struct FileHeader {
    enum class Kind { Plus3Dos, Amsdos };
    Kind kind = Kind::Plus3Dos;
    std::uint8_t fileType = 0;
    // The bytes of data after the header: what stripping the header leaves.
    std::uint32_t dataLength = 0;
    std::uint16_t param1 = 0; // +3DOS
    std::uint16_t param2 = 0; // +3DOS
    std::uint16_t load = 0;   // AMSDOS
    std::uint16_t entry = 0;  // AMSDOS

    static constexpr std::uint8_t kPlus3Program = 0, kPlus3Numbers = 1, kPlus3Characters = 2,
                                  kPlus3Code = 3;
    static constexpr std::uint8_t kAmsdosBasic = 0, kAmsdosBinary = 2;
    // +3 BASIC's "no autostart" line.
    static constexpr std::uint16_t kNoAutostart = 32768;
};

// The header at the start of `data` (the file as stored), if there is one.
std::optional<FileHeader> ParseFileHeader(const std::uint8_t* data, std::size_t size);

// A +3DOS header for `dataLength` bytes: type, parameter 1 and 2 as above.
std::vector<std::uint8_t> MakePlus3Header(std::uint8_t fileType, std::uint32_t dataLength,
                                          std::uint16_t param1, std::uint16_t param2);
// An AMSDOS header for a file stored under `user`, `name` (8) and `type` (3).
std::vector<std::uint8_t> MakeAmsdosHeader(std::uint8_t user, const std::uint8_t* name,
                                           const std::uint8_t* type, std::uint8_t fileType,
                                           std::uint32_t dataLength, std::uint16_t load,
                                           std::uint16_t entry);

// A header asked for by the user, to be put in front of a file's data.
struct HeaderRequest {
    FileHeader::Kind kind = FileHeader::Kind::Plus3Dos;
    std::uint8_t fileType = 0;
    std::uint16_t param1 = 0;
    std::uint16_t param2 = 0;
    std::uint16_t load = 0;
    std::uint16_t entry = 0;
    // "basic:@name": the program starts at the line a label of its text
    // names (text with labels); param1 is then set from it.
    std::string startLabel;

    // A BASIC program's header: the data is a program (or the text of one).
    bool IsBasic() const;
};
// Parses "code:LOAD", "basic[:LINE]", "basic:@LABEL" (+3DOS) or "bin:LOAD[:EXEC]", "basic"
// (AMSDOS); addresses in decimal, 0x or & hex. Empty on a malformed request.
std::optional<HeaderRequest> ParseHeaderRequest(FileHeader::Kind kind, const std::string& text);
// Puts the requested header in front of the data of a file stored under
// `user`, `name` (8) and `type` (3), unless the data already starts with a
// valid header of that kind (`madeHere`, a program just made, never does,
// whatever its first bytes look like). False, with the cause, when the data
// is too long for a header's fields.
bool AddRequestedHeader(const HeaderRequest& request, std::uint8_t user, const std::uint8_t* name,
                        const std::uint8_t* type, bool madeHere, std::vector<std::uint8_t>& data,
                        std::string& cause);

// A short description for a listing: "CODE 32768,6912", "BASIC LINE 10",
// "BIN &4000,&4000".
std::string DescribeHeader(const FileHeader& header);
// The file type's name: "basic", "numbers", "characters", "code" for
// +3DOS; "basic", "protected", "binary" (else "type N") for AMSDOS.
std::string HeaderTypeName(const FileHeader& header);
