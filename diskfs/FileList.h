#pragma once
// The files of an image as lines ("0:GAME.BIN 6912 r"), to compare two
// images by what they hold. Read by an image of its own whose messages are
// not shown: a disk without a CP/M file system converts all the same.

#include "DiskLibraryTable.h"

#include <optional>
#include <string>
#include <vector>

// Empty when the image does not open.
std::optional<std::vector<std::string>> FileListOf(const DiskLibraryTable& table,
                                                   const std::string& path);
