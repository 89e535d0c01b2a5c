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

struct SectorImage;

// The LibDsk entries the children use.
struct ForeignReader {
    using PFormatFn = dsk_err_t (*)(DSK_PDRIVER self, DSK_GEOMETRY* geom, dsk_pcyl_t cylinder,
                                    dsk_phead_t head, const DSK_FORMAT* format, unsigned char filler);
    DiskLibraryTable::OpenFn open = nullptr;
    DiskLibraryTable::CloseFn close = nullptr;
    DiskLibraryTable::GetGeomFn getgeom = nullptr;
    DiskLibraryTable::TrackIdsFn trackids = nullptr;
    DiskLibraryTable::ReadFn read = nullptr;
    DiskLibraryTable::OpenFn creat = nullptr;
    PFormatFn format = nullptr;
    DiskLibraryTable::WriteFn write = nullptr;
    // A sector whose id names another cylinder or head than the track's
    // (a mastering quirk) is found by the id's own (cylinder, head).
    DiskLibraryTable::XReadFn xread = nullptr;
    DiskLibraryTable::XWriteFn xwrite = nullptr;
};

// The cylinders and heads a container holds, where it says (0: it does not).
struct DiskShape {
    unsigned cylinders = 0, heads = 0;
};

// A descriptor of an in-memory extended CPCEMU image holding the disk of
// `path`, or -1 with `cause` set ("damaged container (the ImageDisk reader
// failed)"). The file itself is never opened for writing: the child reads a
// copy.
int CopyForeignImage(const std::string& path, const ForeignKind& kind, const ForeignReader& reader,
                     std::string& cause, const DiskShape& shape = {});

// The kind a user's name stands for ("ImageDisk"); nullptr for none.
const ForeignKind* ForeignKindNamed(const std::string& name);
// Whether LibDsk writes that kind back (ImageDisk, TeleDisk, CopyQM, LDBS).
bool ForeignKindIsWritable(const ForeignKind& kind);

// The disk behind an open handle on a container this process reads itself
// (never a foreign one: its parser is not trusted here).
bool ReadDiskThrough(DSK_PDRIVER self, const ForeignReader& reader, const DiskShape& shape,
                     SectorImage& disk);

// Writes the disk into the open file `fd` as a new container of LibDsk's
// type `driver`, LibDsk working in a child process as above.
bool WriteImageInChild(const SectorImage& disk, const char* driver, int fd,
                       const ForeignReader& reader, std::string& cause);
