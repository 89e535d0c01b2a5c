#pragma once
// How a file's contents are shown, chosen by what it holds: the rules the
// command line's cat and screen and the window's viewer share.

#include "FileHeader.h"
#include "FileKind.h"
#include "Listing.h"
#include "Screens.h"
#include "SinclairBasic.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class FileView { Basic, LocoScript, Text, Hex };

// The view a file is shown in when none is asked for: BASIC for a program
// with a BASIC header (protected ones too, whose view says why it is not
// listed), a LocoScript document's text, text for printable text, hex for
// anything else.
FileView ChosenView(FileKind kind);

// The data after a +3DOS or AMSDOS header (as long as the header says), or
// the whole file without one.
std::span<const std::uint8_t> ContentAfterHeader(const std::optional<FileHeader>& header,
                                                 std::span<const std::uint8_t> file);

// The BASIC program of a file with a BASIC header, listed; nothing, with
// `refusal` saying why, for a protected program or any other file.
std::optional<Listing> ListBasicFile(const std::optional<FileHeader>& header,
                                     std::span<const std::uint8_t> file, ListingStyle style,
                                     std::string& refusal);

// The text a file shows as text: a LocoScript document's printable runs,
// else CP/M text up to its end mark (`clearBit7` takes WordStar's marks off).
std::string TextOfFile(std::span<const std::uint8_t> data, bool clearBit7);

// Which machine's screen a file's content is, by its size and header: a
// Spectrum SCREEN$ (6912 or 6144 bytes, no AMSDOS header) or a CPC screen
// (IsCpcScreenSize, no +3DOS header).
enum class ScreenKind { None, Spectrum, Cpc };
ScreenKind ScreenKindOf(const std::optional<FileHeader>& header, std::size_t contentSize);
// Why content of that size is no screen.
std::string ScreenSizesText(std::size_t contentSize);
