#pragma once
// Turning a host or command-line name into an 8.3 CP/M name.

#include "DiskStructs.h"
#include "FileId.h"

#include <cstdint>
#include <string>

enum class NameCheck {
    Valid,
    Empty,        // nothing before the type
    BadCharacter, // a byte CP/M cannot address: see ParseCpmName
    TooLong,      // a name given by the user that does not fit 8.3
};

enum class NameCase {
    Upper,   // as CP/M's command line makes every name
    AsGiven, // put --keep-name
};

// Whether a byte of a name or type as the directory holds it (bit 7, an
// attribute, masked) is part of a name: control bytes are not; 0x7F is, as
// some +3 programs store it to keep a file from being typed.
bool IsNameByte(std::uint8_t byte);

// Name before the last ".", type after it, each cut to 8 and 3 bytes and
// space padded. A name is stored only if it can be listed, addressed and
// extracted afterwards: bytes that are not printable ASCII, spaces, / \ and
// < > . , ; : = ? * [ ] | " are refused.
// Only the name and type of `out` are set; its user number is left as it is.
NameCheck ParseCpmName(const std::string& text, NameCase nameCase, FileId& out);
// Whether ParseCpmName cuts the name (longer than 8) or the type (longer than 3).
bool NameIsCut(const std::string& text);
// The last path component of a host path.
std::string PathLeaf(const std::string& path);
// The name a host file is stored under (ParseCpmName then cuts it to 8.3):
// the last "." begins the type, and the dots before it are left out
// ("frame1.img.scr" is "frame1img.scr", stored as FRAME1IM.SCR). A name
// given by the user is never cut this way.
std::string HostNameForCpm(const std::string& leaf);
// Whether a host file's leaf is stored under another name than it reads:
// dots left out, or cut to 8.3.
bool HostNameIsCut(const std::string& leaf);
// The name a host file is stored under, by one rule for every front end:
// the name the user gave (`given`; stored as typed or not at all, so one
// longer than 8.3 is refused), else the host file's leaf made into one
// (HostNameForCpm, then cut to 8.3). Only the name and type of `out` are set.
NameCheck NameForStoring(const std::string& hostPath, const std::string& given, NameCase nameCase,
                         FileId& out);
