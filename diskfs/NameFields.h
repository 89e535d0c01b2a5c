#pragma once
// Comparison and copying of the fixed-width name (8 bytes) and type (3 bytes)
// fields. Bytes are compared as stored, attribute bits included; a NUL in the
// given field ends its comparison.

#include <cstdint>

bool NameMatches(const std::uint8_t* givenName, const std::uint8_t* givenType,
                 const std::uint8_t* name, const std::uint8_t* type);

// Copies name and type up to their first NUL and fills the rest with NULs.
void CopyNameAndType(std::uint8_t* name, std::uint8_t* type, const std::uint8_t* fromName,
                     const std::uint8_t* fromType);
