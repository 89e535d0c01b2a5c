#pragma once
// Turning a host or command-line name into an 8.3 CP/M name.

#include "DiskStructs.h"

#include <array>
#include <cstdint>
#include <string>

struct CpmName {
    std::array<std::uint8_t, kNameLen> name{};
    std::array<std::uint8_t, kTypeLen> type{};
};

enum class NameCheck {
    Valid,
    Empty,        // nothing before the type
    BadCharacter, // a byte CP/M cannot address: see ParseCpmName
};

// Name before the last ".", type after it, each cut to 8 and 3 bytes and
// space padded. Strict parsing upper-cases the name and refuses bytes that
// CP/M and the machines' file names cannot hold: spaces, < > . , ; : = ? *
// [ ] | ", control and non-ASCII bytes; otherwise the bytes are taken as
// given (the window's drop).
NameCheck ParseCpmName(const std::string& text, bool strict, CpmName& out);
// The last path component of a host path.
std::string PathLeaf(const std::string& path);
