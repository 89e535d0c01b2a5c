// put: host files (or standard input) into an image, with a +3DOS or
// AMSDOS header where asked; one save for the whole command.

#include "CatalogueView.h"
#include "Commands.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "PutPrepare.h"
#include "Session.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

int RunPut(CCliOwner& owner, const PutOptions& options) {
    // A command is one change: every file is stored, or none is.
    // (Said where the command named more than the file that failed.)
    const bool several = options.files.size() > 1 && !options.keepGoing;
    const char* const kNothing = several ? ": nothing stored" : "";
    int status = kExitOk;
    std::vector<PreparedFile> files;
    if (!PrepareAll(options, files, status))
        return kExitFailed;
    if (!OpenImage(owner, options.image, true))
        return FinishChanges(owner, kExitFailed);
    // The host file each name of this command came from: two that cut to one
    // name are never stored over each other.
    std::map<FileId, std::string> stored;
    std::vector<std::string> cut;
    for (const PreparedFile& file : files) {
        const CDiskImage::ImportTarget& target = file.target;
        bool fine = true;
        if (const auto earlier = stored.find(target.file); earlier != stored.end()) {
            Report(file.source, "is stored as " + Printable(target.file.Shown()) + ", as " +
                                    earlier->second + " is: not stored over it" + kNothing);
            fine = false;
        }
        // A read-only file is replaced only when forced.
        if (fine && options.replace) {
            std::vector<FileEntry> existing;
            for (std::size_t i = 0; i < CatalogueLength(owner.Rows()); ++i) {
                const FileEntry& row = owner.Rows()[i];
                if (FileId::Of(row) == target.file)
                    existing.push_back(row);
            }
            fine = WritableOrForced(options.image, existing, options.force);
        }
        fine = fine && Attempt(
                           owner, file.source,
                           [&](CDiskImage& image) { return image.ImportData(target, file.data); },
                           " on the image (use --replace to replace it)", kNothing);
        if (!fine) {
            status = kExitFailed;
            if (!options.keepGoing)
                return FinishChanges(owner, status);
            continue;
        }
        stored.emplace(target.file, file.source);
        // A host name cut to fit is said, with what it became.
        if (options.as.empty() && HostNameIsCut(PathLeaf(file.source)))
            cut.push_back(Printable(file.source) + " \u2192 " + std::to_string(target.file.user) +
                          ":" + Printable(target.file.ShownName()));
    }
    if (!owner.CommitChange())
        return kExitFailed;
    for (const std::string& line : cut)
        std::printf("%s\n", line.c_str());
    if (status != kExitOk && !stored.empty())
        std::fprintf(stderr, "WARNING: %s: %zu of %zu files stored (--keep-going)\n",
                     Printable(options.image).c_str(), stored.size(), options.files.size());
    return status;
}

namespace {

struct PutArguments {
    PutOptions put;
    std::string plus3, amsdos;
    bool labels = false;
    LabelNumbering numbering;
};

// What CLI11 cannot check: the header asked for, and the names given.
int CheckAndRun(CCliOwner& owner, PutArguments& args) {
    PutOptions& put = args.put;
    if (!args.plus3.empty() && !args.amsdos.empty())
        return UsageError("--plus3 and --amsdos cannot both be given");
    if (!args.plus3.empty() || !args.amsdos.empty()) {
        const bool plus3 = !args.plus3.empty();
        put.header =
            ParseHeaderRequest(plus3 ? FileHeader::Kind::Plus3Dos : FileHeader::Kind::Amsdos,
                               plus3 ? args.plus3 : args.amsdos);
        if (!put.header)
            return UsageError(plus3 ? "--plus3 takes code:LOAD, basic[:LINE] (LINE 0-9999) or "
                                      "basic:@LABEL"
                                    : "--amsdos takes bin:LOAD[:EXEC] or basic");
    }
    if (put.tokenize && !(put.header && put.header->IsBasic()))
        return UsageError("--tokenize needs --plus3 basic[:LINE] or --amsdos basic");
    if (args.labels && !(put.tokenize && put.header->kind == FileHeader::Kind::Plus3Dos))
        return UsageError("--labels is for +3 BASIC text: give --plus3 basic[:LINE] --tokenize");
    if (args.labels)
        put.labels = args.numbering;
    if (put.header && !put.header->startLabel.empty() && !args.labels)
        return UsageError("--plus3 basic:@LABEL starts at a label: give --labels --tokenize");
    if (!put.as.empty() && put.files.size() != 1)
        return UsageError("--as names one file: give exactly one FILE");
    if (!put.as.empty() && put.user >= 0 && ParsePattern(put.as).user >= 0)
        return UsageError("give the user either with -u or in --as, not both");
    if (put.as.empty() && std::find(put.files.begin(), put.files.end(), "-") != put.files.end())
        return UsageError("standard input (-) needs a name: --as NAME.TYP");
    return RunPut(owner, put);
}

} // namespace

Verb PutVerb() {
    return {
        "put", "Add host files to an image", [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto args = std::make_shared<PutArguments>();
            PutOptions& put = args->put;
            cmd.add_option("IMAGE", put.image, "Image file")->required();
            cmd.add_option("FILE", put.files, "Host files, added in order; - for standard input")
                ->required();
            cmd.add_option("-u,--user", put.user, "User number (0-15, default 0)")
                ->check(CLI::Range(0, 15));
            cmd.add_option("--as", put.as, "[USER:]NAME.TYP to store the one file under");
            cmd.add_flag("--replace", put.replace,
                         "Replace a file of that user and name (kept if anything fails); the "
                         "new file keeps its R/O and SYS attributes");
            cmd.add_flag("--force", put.force, "With --replace, replace a read-only file too");
            cmd.add_flag("--keep-name", put.keepName,
                         "Keep the host name's case (it is still checked)");
            cmd.add_option("--plus3", args->plus3,
                           "Add a +3DOS header: code:LOAD, basic[:LINE] or, with --labels, "
                           "basic:@LABEL");
            cmd.add_option("--amsdos", args->amsdos,
                           "Add an AMSDOS header: bin:LOAD[:EXEC] or basic");
            AddKeepGoing(cmd, put.keepGoing, "stored");
            cmd.add_flag("--tokenize", put.tokenize,
                         "With --plus3 basic or --amsdos basic: the files are BASIC text, "
                         "stored as the program it makes");
            cmd.add_flag("--labels", args->labels,
                         "With --plus3 basic --tokenize: lines without numbers, @name: labels "
                         "and @name references (as zmakebas -l)");
            cmd.add_option("--first-line", args->numbering.first,
                           "With --labels, the first line's number (default 10)")
                ->check(CLI::Range(0, 9999));
            cmd.add_option("--line-step", args->numbering.step,
                           "With --labels, the step between line numbers (default 2)")
                ->check(CLI::Range(1, 9999));
            cmd.footer(
                "Names are upper-cased; names CP/M cannot hold are refused. Addresses in "
                "decimal, 0x or & hex. With --tokenize, +3 BASIC is read as zmakebas reads it "
                "and Locomotive BASIC as the CPC lists it; a line that cannot be read is "
                "reported with its line and column, and that file is not stored.\n\n"
                "Examples:\n  tarnlight-cli put game.dsk loader.bas game.bin\n"
                "  tarnlight-cli put -u 1 --as SCREEN.SCR game.dsk pic.scr\n"
                "  tarnlight-cli put --plus3 code:32768 game.dsk game.bin\n"
                "  tarnlight-cli put --plus3 basic:10 --tokenize --as DISK game.dsk "
                "loader.txt\n"
                "  tarnlight-cli put --plus3 basic:@start --tokenize --labels --as DISK "
                "game.dsk loader.txt\n"
                "  tarnlight-cli put --amsdos basic --tokenize cpc.dsk menu.bas\n"
                "  tarnlight-cli put --keep-going game.dsk *.bin");
            return [args](CCliOwner& owner) { return CheckAndRun(owner, *args); };
        }};
}
