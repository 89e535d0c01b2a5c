#pragma once
// How the command line names files on an image and prints names.

#include "DiskStructs.h"

#include <string>
#include <vector>

// Control bytes (and DEL) as "\xNN", so that a hostile name cannot drive the
// terminal; everything else as it is.
std::string Printable(const std::string& text);

// A count with its thousands apart: "65,534".
std::string Thousands(std::size_t count);

// "USER:NAME.TYP" (or "USER:NAME" for a blank type), printable.
std::string UserAndName(const FileEntry& row);

// A file on an image as the command line names it: [USER:]PATTERN, USER 0-31
// or "*"; without it the pattern matches every user. The pattern is
// shell-style (*, ?, [...]), ignores case and is matched against "NAME.TYP"
// (or, for a blank type, "NAME" and "NAME.").
struct FilePattern {
    int user = -1; // -1: any
    std::string glob;
    bool wild = false;
};
FilePattern ParsePattern(const std::string& text);
bool Matches(const FilePattern& pattern, const FileEntry& row);

// Rows matching any pattern (every row when there is none), in catalogue
// order. A pattern that matches nothing is reported and fails the command.
// A name without wildcards must name one file: when it matches several
// (under other users, or differing only in case), nothing is selected and
// the candidates are listed, so that no file the user did not name is
// touched.
std::vector<FileEntry> SelectRows(const Catalogue& rows, const std::vector<std::string>& texts,
                                  int& status);

// "ERROR: SUBJECT: REASON" on standard error.
void Report(const std::string& subject, const std::string& reason);
