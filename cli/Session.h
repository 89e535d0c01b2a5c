#pragma once
// What every command does around the core: finding the images of a
// collection, opening an image (for reading, or locked for a change),
// attempting one operation and reporting its refusal, and ending a change
// with its one save.

#include "CliOwner.h"
#include "Names.h"

#include <string>
#include <vector>

// Expands folders into the ".dsk" files they hold (all levels with
// `recursive`), each folder's files in sorted order; other arguments stay as
// given. `anyFolder` tells whether a folder was named.
std::vector<std::string> CollectImages(const std::vector<std::string>& paths, bool recursive,
                                       bool& anyFolder);
// The catalogue rows that match any of the patterns (all without one).
std::vector<FileEntry> Filtered(const Catalogue& rows, const std::vector<FilePattern>& patterns);
// The reason of the core's last failure, with the system's words where the
// host file system failed.
std::string ReasonText(const CDiskImage& disk);

// Runs one operation of the core; when it fails, reports the reason unless
// the core showed a message of its own for it. Returns whether it succeeded.
template <typename Operation>
bool Attempt(CCliOwner& owner, const std::string& subject, Operation&& operation,
             const char* existsHint = nullptr) {
    owner.TakeLastError();
    if (operation(owner.Image()))
        return true;
    if (owner.TakeLastError().empty()) {
        const FailReason reason = owner.Image().LastFailure();
        std::string text = ReasonText(owner.Image());
        if (reason == FailReason::FileExists && existsHint != nullptr)
            text += existsHint;
        Report(subject, text);
    }
    return false;
}

// Ends the command's update: every change it made is saved at once, or the
// failure is reported and the image file stays as it was.
int FinishChanges(CCliOwner& owner, int status);
