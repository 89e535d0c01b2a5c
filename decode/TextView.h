#pragma once
// CP/M text files and bytes shown as hex.

#include <cstdint>
#include <span>
#include <string>

// Whether the bytes up to the first 0x1A (CP/M's end of text; without one,
// up to the zeros or 0xE5 bytes padding the last record) are text:
// printable ASCII, tab, CR, LF and form feed; bit 7 may be set on letters
// (WordStar marks words with it). An empty file is not text.
bool LooksLikeText(std::span<const std::uint8_t> data);

struct TextOptions {
    bool crlfToLf = true;   // CR LF becomes LF
    bool clearBit7 = false; // WordStar's marks taken off
};
// The text up to the first 0x1A (or the last record's padding).
std::string CpmText(std::span<const std::uint8_t> data, const TextOptions& options);

// Lines as xxd writes them: the offset (counted from `firstOffset`), 16
// bytes in pairs, and the printable ones as characters ('.' for others).
std::string HexDump(std::span<const std::uint8_t> data, std::uint64_t firstOffset = 0);
