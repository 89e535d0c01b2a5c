// mv: renames a file, or gives it to another user.

#include "CatalogueView.h"
#include "Commands.h"
#include "Session.h"

#include <memory>

int RunMv(CCliOwner& owner, const std::string& image, const std::string& from,
          const std::string& to, bool force) {
    const FilePattern target = ParsePattern(to);
    FileId renamed;
    if (target.wild || ParseCpmName(target.glob, NameCase::Upper, renamed) != NameCheck::Valid) {
        Report(to, "is no CP/M name (NAME.TYP, optionally USER: in front)");
        return kExitUsage;
    }
    // A name is stored as typed or not at all.
    if (NameIsCut(target.glob)) {
        Report(to, "is longer than 8.3: nothing renamed");
        return kExitFailed;
    }
    if (ParsePattern(from).wild) {
        Report(from, "mv renames one file: give its name without wildcards");
        return kExitUsage;
    }
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    int status = kExitOk;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), {from}, status);
    if (rows.size() == 1 && !WritableOrForced(image, rows, force))
        return FinishChanges(owner, kExitFailed);
    if (rows.size() == 1) {
        const FileEntry& row = rows.front();
        renamed.user = static_cast<std::uint8_t>(target.user >= 0 ? target.user : row.user);
        if (!Attempt(
                owner, UserAndName(row),
                [&](CDiskImage& disk) { return disk.RenameFile(row, renamed); },
                std::string(": " + std::to_string(renamed.user) + ":" + Printable(target.glob) +
                            " is already on the image")
                    .c_str()))
            status = kExitFailed;
    }
    return FinishChanges(owner, status);
}

Verb MvVerb() {
    return {"mv", "Rename a file, or give it to another user",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                struct Options {
                    std::string image, from, to;
                    bool force = false;
                };
                auto mv = std::make_shared<Options>();
                cmd.add_option("IMAGE", mv->image, "Image file")->required();
                cmd.add_option("OLD", mv->from, "[USER:]NAME.TYP")->required();
                cmd.add_option("NEW", mv->to, "[USER:]NAME.TYP")->required();
                cmd.add_flag("--force", mv->force, "Rename a read-only file too");
                cmd.footer("A name longer than 8.3 is refused, and so is a read-only file "
                           "without --force; the file keeps its stamps and password.\n\n"
                           "Examples:\n  tarnlight-cli mv game.dsk DISK DISK.BAK\n"
                           "  tarnlight-cli mv game.dsk 0:GAME.BIN 1:GAME.BIN");
                return [mv](CCliOwner& owner) {
                    return RunMv(owner, mv->image, mv->from, mv->to, mv->force);
                };
            }};
}
