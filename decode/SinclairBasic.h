#pragma once
// ZX Spectrum +3 BASIC programs as the +3 lists them.

#include "Listing.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// How a listing writes what the screen cannot show as text.
enum class ListingStyle {
    // As the machine shows it: £ and © in UTF-8, colour and position
    // controls and the hidden five-byte numbers left out.
    AsShown,
    // Losslessly, as the tokenizer reads text back: £ as `, © as \*,
    // controls, keyword codes inside strings and REM and spaces stored
    // outside strings as \{n}, and a hidden number that is not its digits'
    // own as \{14} and its five bytes.
    Escaped,
};

// Lists the program (the bytes after the +3DOS header, up to the offset of
// the variables). Each line is its number right-aligned in five columns and
// its text; keywords spaced as the ROM spaces them, block graphics and UDGs
// as zmakebas escapes (\'. \a).
Listing ListSinclairBasic(std::span<const std::uint8_t> program,
                          ListingStyle style = ListingStyle::AsShown);

// A keyword's text: codes 0xA3 (SPECTRUM) to 0xFF (COPY); nullptr below.
const char* SinclairKeyword(std::uint8_t code);

// Text in the Spectrum's character set (a tape name, say) as the listings
// write a string: block graphics and UDGs as zmakebas escapes, keywords as
// their words, £ and ©, a backslash doubled, and a control byte as
// \{n}; never a raw byte that is not ASCII.
std::string SpectrumTextShown(std::string_view text);
