#pragma once
// put's files read and made ready to store before the image is locked.

#include "Commands.h"

#include <string>
#include <vector>

// A host file read and made ready to store, before the image is touched.
struct PreparedFile {
    std::string source; // as named on the command line
    CDiskImage::ImportTarget target;
    std::vector<std::uint8_t> data;
};

// Every host file (and standard input) read, before the image is locked:
// the lock is never held while we wait on a terminal or a pipe.
// False (reported) when a file cannot be stored and the command stops;
// with --keep-going the files that can be are prepared and `status` fails.
bool PrepareAll(const PutOptions& options, std::vector<PreparedFile>& files, int& status);
