#pragma once
// What a decoder of a file's contents gives back: the text, and why it
// stopped early when it did (empty when the whole file was decoded).

#include <string>

struct Listing {
    std::string text;
    std::string warning;
    // What the listing leaves out by design, as the machine does (a
    // protected loader's hidden lines): said, but no failure.
    std::string note;
};
