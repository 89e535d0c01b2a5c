// rm: deletes the files that match the patterns; one save.

#include "Commands.h"
#include "Session.h"

int RunRm(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    for (const FileEntry& row : SelectRows(owner.Rows(), patterns, status)) {
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.EraseFile(row); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}
