#include "FailReason.h"

const char* FailReasonText(FailReason reason) {
    switch (reason) {
    case FailReason::None:
        return "no error";
    case FailReason::NoImage:
        return "no image open";
    case FailReason::FileExists:
        return "file exists";
    case FailReason::FileNotFound:
        return "file not found";
    case FailReason::DirectoryFull:
        return "directory full";
    case FailReason::DiskFull:
        return "disk full";
    case FailReason::HostOpen:
        return "cannot open host file";
    case FailReason::HostRead:
        return "host read error";
    case FailReason::HostWrite:
        return "host write error";
    case FailReason::DiskRead:
        return "disk read error";
    case FailReason::DiskWrite:
        return "disk write error";
    case FailReason::ReadOnly:
        return "image is read-only";
    case FailReason::BadName:
        return "name not allowed on this system";
    case FailReason::ForeignTrack:
        return "its data lies on a track of another format";
    case FailReason::DuplicateExtent:
        return "the file has two entries for one extent (a damaged directory: see check)";
    case FailReason::UnstorableName:
        return "the name has characters a CP/M disk cannot hold";
    case FailReason::SaveFailed:
        return "Unable to save disk image";
    case FailReason::NoBootSector:
        return "This disk has no boot sector";
    case FailReason::ImageChanged:
        return "the disk image was changed by another program";
    case FailReason::ChangesFormat:
        return "the new boot sector changes the disk's format (use --force to write it anyway)";
    }
    return "unknown error";
}

std::string Status::Text() const {
    std::string text = FailReasonText(reason);
    const bool causeTold = reason == FailReason::HostOpen || reason == FailReason::HostRead ||
                           reason == FailReason::HostWrite || reason == FailReason::ForeignTrack ||
                           reason == FailReason::ReadOnly || reason == FailReason::DiskRead ||
                           reason == FailReason::DiskWrite;
    if (causeTold && !cause.empty())
        text += ": " + cause;
    else if (reason == FailReason::DiskFull && !cause.empty())
        text += " (" + cause + ")";
    return text;
}
