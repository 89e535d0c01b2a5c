#pragma once
// Why the last operation of an image was refused or failed, and in whose
// words. The window says it in its own words; the command line prints Text.

#include <string>

enum class FailReason {
    None,
    NoImage,
    FileExists,
    FileNotFound,
    DirectoryFull,
    DiskFull,
    HostOpen,
    HostRead,
    HostWrite,
    DiskRead,
    DiskWrite,
    ReadOnly,
    BadName,
    UnstorableName,
    DuplicateExtent,
    ForeignTrack,
    SaveFailed,
    NoBootSector,
    ChangesFormat,
    ImageChanged,
};

const char* FailReasonText(FailReason reason);

// How the image's last operation ended: why it failed (None when it did
// not) and the cause in the library's or the system's words, where one is
// known. Every operation sets it afresh.
struct Status {
    FailReason reason = FailReason::None;
    std::string cause;

    bool Failed() const { return reason != FailReason::None; }
    // The reason in words, followed by the cause where that says more than
    // the reason does ("cannot open host file: Permission denied").
    std::string Text() const;
};
