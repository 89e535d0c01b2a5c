// attr: sets and clears the read-only, system and archive attributes.

#include "Commands.h"
#include "Session.h"

#include <memory>

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

namespace {

// "rs", "a": r read-only, s system, a archive.
bool ParseFlags(const std::string& text, unsigned& flags) {
    for (char c : text) {
        switch (c) {
        case 'r':
        case 'R':
            flags |= CDiskImage::kReadOnlyAttribute;
            break;
        case 's':
        case 'S':
            flags |= CDiskImage::kSystemAttribute;
            break;
        case 'a':
        case 'A':
            flags |= CDiskImage::kArchiveAttribute;
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace

Verb AttrVerb() {
    return {
        "attr", "Set or clear the read-only, system and archive attributes",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            struct Options {
                std::string image, set, clear;
                std::vector<std::string> patterns;
                bool keepGoing = false;
            };
            auto attr = std::make_shared<Options>();
            cmd.add_option("IMAGE", attr->image, "Image file")->required();
            cmd.add_option("PATTERN", attr->patterns, "[USER:]PATTERN, shell-style, ignoring case")
                ->required();
            cmd.add_option("--set", attr->set, "Any of r (read-only), s (system), a (archive)");
            cmd.add_option("--clear", attr->clear, "Any of r, s, a");
            AddKeepGoing(cmd, attr->keepGoing, "changed");
            cmd.footer("Examples:\n  tarnlight-cli attr --set rs game.dsk DISK\n"
                       "  tarnlight-cli attr --clear a game.dsk '*'");
            return [attr](CCliOwner& owner) {
                unsigned set = 0, clear = 0;
                if (!ParseFlags(attr->set, set) || !ParseFlags(attr->clear, clear))
                    return UsageError("attribute flags are r, s and a (e.g. --set rs --clear a)");
                if (set == 0 && clear == 0)
                    return UsageError("attr needs --set or --clear");
                return RunAttr(owner, attr->image, attr->patterns, set, clear, attr->keepGoing);
            };
        }};
}
