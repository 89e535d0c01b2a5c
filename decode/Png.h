#pragma once
// Pictures as PNG files (libpng, loaded on first use), in memory.

#include "Screens.h"

#include <cstdint>
#include <string>
#include <vector>

// The PNG file of an 8-bit RGB picture; empty (and `error` set) when libpng fails.
std::vector<std::uint8_t> EncodePng(const Picture& picture, std::string& error);
