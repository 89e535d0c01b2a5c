// attr: sets and clears the read-only, system and archive attributes.

#include "Commands.h"
#include "Session.h"

int RunAttr(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns,
            unsigned set, unsigned clear, bool keepGoing) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    for (const FileEntry& row : SelectRows(owner.Rows(), patterns, status)) {
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.SetAttributes(row, set, clear); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status, keepGoing,
                         "no attribute changed (--keep-going changes the files that can be)");
}
