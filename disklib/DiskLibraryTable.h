#pragma once
// The LibDsk entry points that the file system calls. A plain set of function
// pointers so that tests can put an in-memory disk of their own behind it. A
// null slot means the entry is not available; callers treat that as a refusal.

#include <cstddef> // libdsk.h uses size_t without including it
#include <cstdint>
#include <functional>
#include <libdsk.h>
#include <optional>
#include <string>
#include <vector>

// The bytes a sector of size code N holds, 128 << N; a floppy controller's
// codes end at 8 (32K), and larger ones are read as 8.
constexpr std::uint32_t SectorBytesOfCode(unsigned code) {
    return 128u << (code > 8 ? 8 : code);
}
// The N of a sector's id field for a size: the smallest with 128 << N at
// least that many bytes (also CP/M's block shift, for a block size).
constexpr unsigned SizeCode(std::size_t size) {
    unsigned code = 0;
    while ((std::size_t{128} << code) < size)
        ++code;
    return code;
}
// "8192 and 512": the sector sizes a track holds, largest first, each once.
std::string SectorSizesText(const std::vector<std::uint32_t>& sizes);

// The sectors a track of a container holds, as its track header lists them.
struct ContainerTrack {
    static constexpr unsigned kMaxSectors = 29;
    unsigned count = 0;
    // The cylinder the first sector's id field names.
    std::uint8_t idCylinder = 0;
    std::uint8_t ids[kMaxSectors] = {};
    std::uint8_t sizeCodes[kMaxSectors] = {}; // 128 << N bytes
};

// A dump of a 40-track disk made on an 80-track drive: about twice the
// tracks, each track's id fields naming cylinder t / 2 (every track read
// twice, or every odd one left unformatted). `idCylinderOf` gives the
// cylinder a track's first id field names, nothing for a track without
// sectors.
bool IsDoubleStepped(
    unsigned cylinders, unsigned heads,
    const std::function<std::optional<unsigned>(unsigned cylinder, unsigned head)>& idCylinderOf);

// What opening a file found out besides the handle.
struct OpenFacts {
    // Why the file was refused before LibDsk saw it ("" when it was not).
    std::string refusal;
    // The cylinders and heads the container holds; 0 when it does not say.
    unsigned cylinders = 0, heads = 0;
    // The sectors of each track the container lists (cylinder * heads +
    // head); empty when it lists none (a raw dump, whose tracks are alike).
    std::vector<ContainerTrack> tracks;
    // The kind of container read in a child process ("ImageDisk"); "" for
    // the containers read here.
    std::string foreign;
    // The container in a user's words ("CPCEMU extended", "raw sector dump").
    std::string container;
    // Why the disk is read from a copy made whole and must never be changed
    // ("the container is cut short: 40 tracks promised, 9 present (tracks
    // 9 to 39 missing)"); "" for a container read as it stands.
    std::string readOnlyCause;
    // Given by the caller: the geometry will come from a format the user
    // named, so LibDsk never probes the first sector, which then need not
    // pass as a boot sector (a directory sector of a format without
    // reserved tracks often does not).
    bool geometryNamed = false;
};

struct DiskLibraryTable {
    using OpenFn = dsk_err_t (*)(DSK_PDRIVER* self, const char* path, const char* type,
                                 const char* compress);
    using CloseFn = dsk_err_t (*)(DSK_PDRIVER* self);
    using ReadFn = dsk_err_t (*)(DSK_PDRIVER self, const DSK_GEOMETRY* geom, void* buf,
                                 dsk_pcyl_t cylinder, dsk_phead_t head, dsk_psect_t sector);
    using WriteFn = dsk_err_t (*)(DSK_PDRIVER self, const DSK_GEOMETRY* geom, const void* buf,
                                  dsk_pcyl_t cylinder, dsk_phead_t head, dsk_psect_t sector);
    using GetGeomFn = dsk_err_t (*)(DSK_PDRIVER self, DSK_GEOMETRY* geom);
    using FormatFn = dsk_err_t (*)(DSK_PDRIVER self, DSK_GEOMETRY* geom, dsk_pcyl_t cylinder,
                                   dsk_phead_t head, unsigned char filler);
    using StdFormatFn = dsk_err_t (*)(DSK_GEOMETRY* geom, dsk_format_t format, dsk_cchar_t* name,
                                      dsk_cchar_t* description);
    using StrErrorFn = char* (*)(dsk_err_t err);
    using TrackIdsFn = dsk_err_t (*)(DSK_PDRIVER self, const DSK_GEOMETRY* geom, dsk_pcyl_t cylinder,
                                     dsk_phead_t head, dsk_psect_t* count, DSK_FORMAT** result);
    using XReadFn = dsk_err_t (*)(DSK_PDRIVER self, const DSK_GEOMETRY* geom, void* buf,
                                  dsk_pcyl_t cylinder, dsk_phead_t head, dsk_pcyl_t idCylinder,
                                  dsk_phead_t idHead, dsk_psect_t sector, size_t size,
                                  int* deleted);
    using XWriteFn = dsk_err_t (*)(DSK_PDRIVER self, const DSK_GEOMETRY* geom, const void* buf,
                                   dsk_pcyl_t cylinder, dsk_phead_t head, dsk_pcyl_t idCylinder,
                                   dsk_phead_t idHead, dsk_psect_t sector, size_t size,
                                   int deleted);
    using OpenImageFn = dsk_err_t (*)(DSK_PDRIVER* self, const char* path, OpenFacts* facts);
    using ForeignWritableFn = bool (*)(const char* container);
    using SaveForeignFn = bool (*)(DSK_PDRIVER edited, const char* container, unsigned cylinders,
                                   unsigned heads, int target, std::string* cause);

    OpenFn dsk_open = nullptr;
    OpenFn dsk_creat = nullptr;
    CloseFn dsk_close = nullptr;
    ReadFn dsk_pread = nullptr;
    WriteFn dsk_pwrite = nullptr;
    GetGeomFn dsk_getgeom = nullptr;
    FormatFn dsk_apform = nullptr;
    StdFormatFn dg_stdformat = nullptr;
    StrErrorFn dsk_strerror = nullptr;
    // The sector ids of a track; the array is the caller's to free().
    TrackIdsFn dsk_ptrackids = nullptr;
    // Transfers on a track whose id fields name another cylinder (a
    // double-stepped dump); null when the library lacks them.
    XReadFn dsk_xread = nullptr;
    XWriteFn dsk_xwrite = nullptr;
    // dsk_open that also says what it found out of the file (OpenFacts):
    // the binding's own, not a LibDsk entry.
    OpenImageFn open_image = nullptr;
    // Whether changes to such a container can be saved in its own type.
    ForeignWritableFn foreign_writable = nullptr;
    // Writes the disk behind `edited` (the extended copy a foreign image was
    // opened as, changed) into the open file `target` as that container,
    // and reads it back to compare; false with `cause` set when it fails.
    SaveForeignFn save_foreign = nullptr;

    // The paths handed to dsk_open name host files, which are then saved
    // whole and atomically (see SafeFile.h). A test disk that lives in
    // memory sets this false: its changes go straight through the handle.
    bool imagesAreHostFiles = true;
};
