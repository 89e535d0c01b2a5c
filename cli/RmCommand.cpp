// rm: deletes the files that match the patterns; one save.

#include "Commands.h"
#include "Session.h"

#include <memory>

bool WritableOrForced(const std::string& image, const std::vector<FileEntry>& rows, bool force) {
    bool writable = true;
    for (const FileEntry& row : rows) {
        if (!row.readOnly || force)
            continue;
        Report(image,
               UserAndName(row) + " is read-only: clear it with attr --clear r, or give --force");
        writable = false;
    }
    return writable;
}

int RunRm(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns,
          bool force, bool keepGoing) {
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), patterns, status);
    // Read-only files are kept, as CP/M Plus and +3DOS keep them; then
    // nothing is deleted.
    if (!WritableOrForced(image, rows, force))
        return FinishChanges(owner, kExitFailed);
    for (const FileEntry& row : rows) {
        if (!Attempt(owner, UserAndName(row),
                     [&](CDiskImage& disk) { return disk.EraseFile(row); }))
            status = kExitFailed;
    }
    return FinishChanges(owner, status, keepGoing,
                         "nothing deleted (--keep-going deletes the files that can be)");
}

Verb RmVerb() {
    return {"rm", "Delete files from an image", [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                struct Options {
                    std::string image;
                    std::vector<std::string> patterns;
                    bool force = false, keepGoing = false;
                };
                auto rm = std::make_shared<Options>();
                cmd.add_option("IMAGE", rm->image, "Image file")->required();
                cmd.add_option("PATTERN", rm->patterns,
                               "[USER:]PATTERN, shell-style, ignoring case")
                    ->required();
                cmd.add_flag("--force", rm->force, "Delete read-only files too");
                AddKeepGoing(cmd, rm->keepGoing, "deleted");
                cmd.footer("A read-only file is refused (nothing is deleted) without --force.\n\n"
                           "Examples:\n  tarnlight-cli rm game.dsk OLD.BAS\n"
                           "  tarnlight-cli rm game.dsk '3:*.TMP'\n"
                           "  tarnlight-cli rm --keep-going game.dsk OLD.BAS GONE.BAS");
                return [rm](CCliOwner& owner) {
                    return RunRm(owner, rm->image, rm->patterns, rm->force, rm->keepGoing);
                };
            }};
}
