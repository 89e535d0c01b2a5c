#pragma once
// Why the last operation of an image was refused or failed, and in whose
// words. The window says it in its own words; the command line prints Text.

#include <string>
#include <utility>
#include <vector>

// The kind of box a notice is shown in. Warning: something is wrong with the
// image, but the command goes on; Information: a notice, nothing failed.
enum class MessageIcon { None, Error, Warning, Information };

// What an operation tells the user, in the order it happened: the text as
// the window's box shows it, its caption and icon, and the cause (the
// library's or the system's words) where one is known. The core shows
// nothing itself; the front ends show these.
struct Notice {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Error;
    std::string cause;
};

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
    Status(FailReason why = FailReason::None, std::string because = {}, std::string about = {})
        : reason(why), cause(std::move(because)), file(std::move(about)) {}

    FailReason reason = FailReason::None;
    std::string cause;
    // The file the operation concerns ("0:GAME.BIN", or a host path), where
    // it concerns one.
    std::string file;
    // The disk library's error (a dsk_err_t) for the sector that failed; 0
    // for none.
    int libraryError = 0;

    bool Failed() const { return reason != FailReason::None; }
    // The reason in words, followed by the cause where that says more than
    // the reason does ("cannot open host file: Permission denied").
    std::string Text() const;
};
