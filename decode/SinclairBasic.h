#pragma once
// ZX Spectrum +3 BASIC programs as the +3 lists them.

#include "Listing.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Lists the program (the bytes after the +3DOS header, up to the offset of
// the variables). Each line is its number right-aligned in five columns and
// its text; keywords spaced as the ROM spaces them, block graphics and UDGs
// as zmakebas escapes (\'. \a), 0x7F as ©, colour and position controls and
// the hidden five-byte numbers left out.
Listing ListSinclairBasic(std::span<const std::uint8_t> program);

// A keyword's text: codes 0xA3 (SPECTRUM) to 0xFF (COPY); nullptr below.
const char* SinclairKeyword(std::uint8_t code);

// Text in the Spectrum's character set (a tape name, say) as the listings
// write a string: block graphics and UDGs as zmakebas escapes, keywords as
// their words, 0x7F as ©, a backslash doubled, and a control byte as
// \{n}; never a raw byte that is not ASCII.
std::string SpectrumTextShown(std::string_view text);
