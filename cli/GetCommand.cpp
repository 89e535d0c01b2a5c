// get: files out of an image into a folder, or one to standard output.

#include "Commands.h"
#include "Extract.h"
#include "Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace {

int NotOneFile(const std::string& image, std::size_t rows, int status) {
    if (status == kExitOk || rows > 0)
        Report(image, rows == 0 ? "no file to write to standard output"
                                : "standard output takes one file; the patterns name " +
                                      std::to_string(rows));
    return kExitFailed;
}

int WriteToStandardOutput(CCliOwner& owner, const FileEntry& row, const GetOptions& options,
                          int status) {
    std::vector<std::uint8_t> data;
    if (!Attempt(owner, UserAndName(row), [&](CDiskImage& image) {
            return image.ReadFileData(row, [&](const std::uint8_t* bytes, std::size_t size) {
                data.insert(data.end(), bytes, bytes + size);
                return true;
            });
        }))
        return kExitFailed;
    CutData(data, options.stripHeader, options.exact,
            owner.Image().Volume().LastRecordBytes(FileId::Of(row)));
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() ||
        std::fflush(stdout) != 0) {
        Report("standard output", std::strerror(errno));
        return kExitFailed;
    }
    return status;
}

// IMAGE DIR|- [PATTERN...], or with -r IMAGE|FOLDER... OUTDIR, and the
// patterns after "--" where given there.
int RunParsed(CCliOwner& owner, GetOptions& get, const std::vector<std::string>& args,
              bool patternsAfterDashes) {
    get.stripHeader = get.stripHeader || get.exact;
    if (!get.locoscript.empty() && (get.stripHeader || get.padded))
        return UsageError("--locoscript converts documents; it goes without --strip-header, "
                          "--exact and --padded");
    if (get.recursive) {
        if (args.size() < 2)
            return UsageError("get -r takes IMAGE|FOLDER... OUTDIR");
        get.paths.assign(args.begin(), args.end() - 1);
        get.folder = args.back();
        return RunGetRecursive(owner, get);
    }
    if (args.size() < 2)
        return UsageError("get takes IMAGE DIR|- [PATTERN...]");
    if (get.byUser || get.jobs != 0)
        return UsageError("--by-user and -j go with -r");
    get.image = args[0];
    get.folder = args[1];
    if (!get.locoscript.empty() && get.folder == "-")
        return UsageError("--locoscript writes files into a folder; cat --locoscript shows one");
    if (args.size() > 2 && patternsAfterDashes)
        return UsageError("give the patterns either before or after --, not both");
    if (!patternsAfterDashes)
        get.patterns.assign(args.begin() + 2, args.end());
    return RunGet(owner, get);
}

} // namespace

int RunGet(CCliOwner& owner, const GetOptions& options) {
    const bool toStdout = options.folder == "-";
    std::error_code ec;
    if (!toStdout && !fs::is_directory(options.folder, ec)) {
        Report(options.folder, "not a folder");
        return kExitFailed;
    }
    const bool opened = OpenImage(owner, options.image);
    if (!opened && !owner.Image().IsMapped())
        return kExitFailed;
    // A partly readable image still gives every file that can be read, and
    // fails; one only read-only (a warning said why) is a success.
    int status = opened ? kExitOk : kExitFailed;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), options.patterns, status);

    if (toStdout)
        return rows.size() == 1 ? WriteToStandardOutput(owner, rows.front(), options, status)
                                : NotOneFile(options.image, rows.size(), status);
    const ExtractCounts counts = ExtractRows(owner, options.image, rows, options,
                                             [&](const FileEntry&) { return options.folder; });
    if (!options.locoscript.empty())
        std::printf("LocoScript documents converted: %u, other files skipped: %u\n", counts.done,
                    counts.skipped);
    return counts.failed > 0 || counts.partial > 0 ? kExitFailed : status;
}

Verb GetVerb() {
    return {"get", "Extract files from an image into a folder, or one to standard output",
            [](CLI::App& cmd, std::vector<char*>& args) -> VerbRun {
                auto get = std::make_shared<GetOptions>();
                auto positional = std::make_shared<std::vector<std::string>>();
                // -r takes any number of images and folders before its output
                // folder, so patterns may follow "--".
                const bool dashes = TakeArgsAfterDashes(args, get->patterns);
                cmd.add_option("ARGS", *positional,
                               "IMAGE DIR|- [PATTERN...]; with -r: IMAGE|FOLDER... OUTDIR "
                               "[-- PATTERN...]")
                    ->required();
                cmd.add_flag("-r,--recursive", get->recursive,
                             "Every image found in the folders (all levels), each into a folder "
                             "of its own under OUTDIR");
                cmd.add_option("-j,--jobs", get->jobs,
                               "Worker processes for -r (default: one per core)")
                    ->check(CLI::Range(1, 256));
                cmd.add_flag("--by-user", get->byUser,
                             "With -r, each user's files in a subfolder named by its number "
                             "(always where two users have a file of one name)");
                cmd.add_flag("-n,--no-clobber", get->noClobber, "Leave existing host files alone");
                cmd.add_flag("--padded", get->padded,
                             "Host names as the directory pads them (\"GAME    .BIN\")");
                cmd.add_flag("--trim")->description("Host names without padding (the default)");
                cmd.add_flag("--locoscript{text}", get->locoscript,
                             "Only LocoScript documents, as text (=markdown: as Markdown), each "
                             "into OUTDIR/GROUP/NAME.TYP.txt (.md), GROUP the name of its group")
                    ->check(CLI::IsMember({"text", "markdown"}));
                cmd.add_flag("--strip-header", get->stripHeader,
                             "Take off a +3DOS or AMSDOS header: the data at the length it gives");
                cmd.add_flag("--exact", get->exact,
                             "As --strip-header, and files without a header cut at CP/M 3's "
                             "last-record byte count");
                cmd.footer("With -r, IMAGE.dsk's files go to OUTDIR/IMAGE/ (FOLDER/sub/x.dsk's "
                           "to OUTDIR/sub/x/), and one line sums up what was extracted.\n\n"
                           "Examples:\n  tarnlight-cli get game.dsk out/\n"
                           "  tarnlight-cli get game.dsk - 1:LOADER.BAS > loader.bas\n"
                           "  tarnlight-cli get --strip-header game.dsk . 'SCREEN*'\n"
                           "  tarnlight-cli get -r ~/disks ~/extracted\n"
                           "  tarnlight-cli get -r --by-user ~/disks out -- '*.BAS'\n"
                           "  tarnlight-cli get --locoscript pcw.dsk letters/\n"
                           "  tarnlight-cli get -r --locoscript=markdown ~/pcw-disks ~/letters");
                return [get, positional, dashes](CCliOwner& owner) {
                    return RunParsed(owner, *get, *positional, dashes);
                };
            }};
}
