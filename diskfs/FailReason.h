#pragma once
// Why the last file operation was refused or failed. The window stays silent
// about these; the command line prints them.

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
};

const char* FailReasonText(FailReason reason);
