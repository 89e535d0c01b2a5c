// ls: the files and space of images, as text (the window's columns, or -l)
// or one JSON object per image.

#include "CatalogueView.h"
#include "Commands.h"
#include "FileHeader.h"
#include "FileKind.h"
#include "Json.h"
#include "LocoScriptFiles.h"
#include "Session.h"
#include "Walk.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

// Without "--", an argument after an image that names no file but reads as
// a pattern (wildcards, or USER: in front) is a pattern too.
void TakePatternsAfterImages(std::vector<char*>& args, std::vector<std::string>& patterns) {
    for (std::size_t i = 3; i < args.size();) {
        std::error_code ec;
        const std::string arg = args[i];
        const FilePattern pattern = ParsePattern(arg);
        if (arg[0] != '-' && !std::filesystem::exists(arg, ec) &&
            (pattern.wild || pattern.glob != arg)) {
            patterns.push_back(arg);
            args.erase(args.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

// R/O, SYS, ARC and P (a CP/M Plus password protects the file).
std::string Attributes(const CDiskImage& image, const FileEntry& row, bool passwords) {
    std::string text = row.readOnly ? "R/O" : "---";
    text += row.system ? " SYS" : " ---";
    text += row.archive ? " ARC" : " ---";
    text += passwords && image.Volume().PasswordModeOf(FileId::Of(row)) ? " P" : " -";
    return text;
}

void PrintText(CDiskImage& image, const std::vector<FileEntry>& shown, bool longFormat) {
    // What every file's stamps and password depend on, found once (and only
    // for the long listing that shows them).
    const auto label = longFormat ? image.Volume().Label() : std::nullopt;
    const bool stamps = longFormat && image.Volume().HasStampEntries();
    const bool passwords = longFormat && image.Volume().HasPasswordRecords();
    const LocoScriptGroupMap groups =
        longFormat ? image.Volume().LocoScriptGroups() : LocoScriptGroupMap{};
    if (longFormat)
        std::printf("%2s  %-8s  %-3s  %-9s  %-13s  %7s  %6s  %-16s  %-19s  %s\n", "U", "Filename",
                    "Ext", "Size", "Attributes", "Records", "Blocks", "Updated", "Kind", "Header");
    else
        std::printf("%2s  %-8s  %-3s  %s\n", "U", "Filename", "Ext", "Size");
    const auto starts =
        longFormat ? image.FileStarts(shown) : std::vector<std::vector<std::uint8_t>>{};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const FileEntry& row = shown[i];
        const std::string name = Printable(ShownField(row.name, kNameLen));
        const std::string type = Printable(ShownField(row.type, kTypeLen));
        if (!longFormat) {
            std::printf("%2u  %s  %s  %s\n", unsigned{row.user}, name.c_str(), type.c_str(),
                        FormatSize(row.size).c_str());
            continue;
        }
        const std::vector<std::uint8_t>& start = starts[i];
        const auto header = FileHeaderOf(start, row);
        const FileKind kind = KindOfRow(groups, row, header, start);
        // The last column: the file's header, or the group a document is in.
        std::string about = header ? DescribeHeader(*header) : "";
        if (kind == FileKind::LocoScriptDocument)
            about = LocoScriptVersionName(*ReadLocoScriptHeader(start)) + ", group " +
                    LocoScriptGroupName(groups, row.user);
        const auto updated =
            stamps ? image.Volume().StampsOf(FileId::Of(row), label).updated : std::nullopt;
        const std::string stamp = updated ? FormatStamp(*updated, ' ') : "";
        std::printf("%2u  %s  %s  %-9s  %s  %7lu  %6lu  %-16s  %-19s%s%s\n", unsigned{row.user},
                    name.c_str(), type.c_str(), FormatSize(row.size).c_str(),
                    Attributes(image, row, passwords).c_str(),
                    static_cast<unsigned long>(row.size / 128),
                    static_cast<unsigned long>(image.Volume().FileBlockCount(FileId::Of(row))),
                    stamp.c_str(), FileKindName(kind), about.empty() ? "" : "  ", about.c_str());
    }
    const SpaceFigures figures = ComputeSpaceFigures(
        image.Volume().GetUsedSpace(), image.Volume().GetCapacity(), image.Volume().GetFreeSpace());
    std::printf("Total in use : %s\nMaximum : %s\nFree : %s\n", figures.used.c_str(),
                figures.maximum.c_str(), figures.free.c_str());
}

} // namespace

int RunLs(CCliOwner& owner, const LsOptions& options) {
    const ImageSet set = CollectImages(options.paths, options.recursive);
    const bool headed = set.images.size() > 1 || set.anyFolder;
    std::vector<FilePattern> patterns;
    for (const std::string& text : options.patterns)
        patterns.push_back(ParsePattern(text));
    CDiskImage& disk = owner.Image();
    WalkTally totals;
    int status = WalkImages(set.images, options.jobs, options.json ? "" : "\n",
        [&](const std::string& path, const char* lead, bool& printed, WalkTally& tally) {
            int result = kExitOk;
            if (!OpenForListing(owner, path, options.json, result))
                return result;
            const std::vector<FileEntry> shown =
                Filtered(owner.Rows(), patterns, &tally.patternsMatched);
            printed = true;
            if (options.json) {
                PrintJsonLine(ListingJson(path, disk, shown,
                                          owner.OpenError() ? owner.OpenError()->text : ""));
            } else {
                if (headed)
                    std::printf("%s%s:\n", lead, Printable(path).c_str());
                PrintText(disk, shown, options.longFormat);
            }
            owner.SayNotices();
            return result;
        },
        &totals);
    disk.CloseImage();
    if (ReportUnmatched(options.patterns, totals.patternsMatched) || set.failed)
        status = std::max(status, int{kExitFailed});
    return status;
}

Verb LsVerb() {
    return {"ls", "List the files and the space of images",
            [](CLI::App& cmd, std::vector<char*>& args) -> VerbRun {
                auto ls = std::make_shared<LsOptions>();
                cmd.add_option("PATH", ls->paths,
                               "Images, or folders whose disk images (.dsk, .imd, .td0, .cqm, "
                               ".ldbs, .ydsk, .qrst) are listed")
                    ->required();
                cmd.add_flag("-l,--long", ls->longFormat,
                             "Attributes, records, blocks and file header of each file");
                AddWalkOptions(cmd, ls->json, ls->recursive, ls->jobs,
                               "One JSON object per image and line");
                cmd.footer("Patterns follow \"--\" (or the images, when they name no file): "
                           "[USER:]PATTERN, shell-style, ignoring case.\n\n"
                           "Examples:\n  tarnlight-cli ls game.dsk\n"
                           "  tarnlight-cli ls -l game.dsk -- '*.BAS' '1:*'\n"
                           "  tarnlight-cli ls --json -r ~/disks > catalogue.jsonl");
                TakeArgsAfterDashes(args, ls->patterns);
                TakePatternsAfterImages(args, ls->patterns);
                return [ls](CCliOwner& owner) { return RunLs(owner, *ls); };
            }};
}
