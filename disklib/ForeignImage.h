#pragma once
// Containers that LibDsk reads but whose parsers are not trusted in this
// process (LibDsk 1.5.9's CopyQM and TeleDisk readers die on many damaged
// files): LibDsk reads them in a child process with limited memory, time and
// descriptors, and hands back the disk as an extended CPCEMU image in memory,
// which is checked like any other before LibDsk opens it here.

#include "DiskLibraryTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct ForeignKind {
    const char* driver; // LibDsk's name for it
    const char* name;   // a user's ("ImageDisk")
};

// The kind a file's first bytes show; nullptr for none of them.
const ForeignKind* ForeignKindOf(const std::uint8_t* head, std::size_t length);

// The LibDsk entries the child uses.
struct ForeignReader {
    DiskLibraryTable::OpenFn open = nullptr;
    DiskLibraryTable::CloseFn close = nullptr;
    DiskLibraryTable::GetGeomFn getgeom = nullptr;
    DiskLibraryTable::TrackIdsFn trackids = nullptr;
    DiskLibraryTable::ReadFn read = nullptr;
};

// A descriptor of an in-memory extended CPCEMU image holding the disk of
// `path`, or -1 with `cause` set ("damaged container (the ImageDisk reader
// failed)"). The file itself is never opened for writing: the child reads a
// copy.
int CopyForeignImage(const std::string& path, const ForeignKind& kind, const ForeignReader& reader,
                     std::string& cause);
