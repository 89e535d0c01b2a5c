#pragma once
// The LibDsk entry points that the file system calls. A plain set of function
// pointers so that tests can put an in-memory disk of their own behind it. A
// null slot means the entry is not available; callers treat that as a refusal.

#include <cstddef> // libdsk.h uses size_t without including it
#include <cstdint>
#include <libdsk.h>
#include <string>

// The sectors a track of a container holds, as its track header lists them.
struct ContainerTrack {
    static constexpr unsigned kMaxSectors = 29;
    unsigned count = 0;
    std::uint8_t ids[kMaxSectors] = {};
    std::uint8_t sizeCodes[kMaxSectors] = {}; // 128 << N bytes
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
    using RefusalFn = const char* (*)();
    using ShapeFn = bool (*)(unsigned* cylinders, unsigned* heads);
    using TrackFn = bool (*)(unsigned cylinder, unsigned head, ContainerTrack* track);
    using ForeignFn = const char* (*)();
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
    // Why the last dsk_open refused a file before LibDsk saw it ("" when it
    // did not): not a LibDsk entry, the binding's own.
    RefusalFn open_refusal = nullptr;
    // The cylinders and heads that the container of the file last opened
    // holds; false when it does not say. The binding's own, like
    // open_refusal.
    ShapeFn open_shape = nullptr;
    // The sectors of a track of that container; false when the container
    // does not list them (a raw dump, whose tracks are all alike).
    TrackFn open_track = nullptr;
    // The kind of container ("ImageDisk") the file last opened was read
    // from in a child process; "" for the containers read here.
    ForeignFn open_foreign = nullptr;
    // The container of the file last opened, in a user's words ("CPCEMU
    // extended", "raw sector dump", "ImageDisk").
    ForeignFn open_container = nullptr;
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
