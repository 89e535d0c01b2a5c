// tarnlight-cli: look inside +3DOS, PCW and CPC disk images and move files in
// and out of them from the command line.

#include "CliOwner.h"
#include "Commands.h"
#include "Names.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#ifndef TARNLIGHT_VERSION
#define TARNLIGHT_VERSION "unknown"
#endif

namespace {

struct Command {
    const char* name;
    const char* description;
    std::function<void(CLI::App&)> define;
    std::function<int(CCliOwner&)> run;
};

// "rs", "a": r read-only, s system, a archive.
bool ParseFlags(const std::string& text, unsigned& flags) {
    for (char c : text) {
        switch (c) {
        case 'r': case 'R': flags |= CDiskImage::kReadOnlyAttribute; break;
        case 's': case 'S': flags |= CDiskImage::kSystemAttribute; break;
        case 'a': case 'A': flags |= CDiskImage::kArchiveAttribute; break;
        default: return false;
        }
    }
    return true;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// --json, -r and -j of the commands that walk collections.
void AddWalkOptions(CLI::App& cmd, bool& json, bool& recursive, unsigned& jobs,
                    const char* jsonHelp) {
    cmd.add_flag("--json", json, jsonHelp);
    cmd.add_flag("-r,--recursive", recursive, "Walk folders recursively");
    cmd.add_option("-j,--jobs", jobs, "Worker processes for many images (default: one per core)")
        ->check(CLI::Range(1, 256));
}

// --keep-going of the commands that change several files in one change.
void AddKeepGoing(CLI::App& cmd, bool& keepGoing, const std::string& done) {
    cmd.add_flag("--keep-going", keepGoing,
                 "Keep the files " + done + " when one cannot be (without it, nothing is " + done +
                     " then)");
}

int UsageError(const std::string& text) {
    std::fprintf(stderr, "ERROR: %s\nRun with --help for usage.\n", Printable(text).c_str());
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // A file-size limit must fail a write (and so the save) rather than end
    // the process in the middle of one.
    std::signal(SIGXFSZ, SIG_IGN);
    LsOptions ls;
    FindOptions find;
    CheckOptions check;
    GetOptions get;
    PutOptions put;
    std::string image, bootFile, from, to, setFlags, clearFlags, format = "plus3", plus3, amsdos;
    std::vector<std::string> patterns;
    std::string bootable;
    bool force = false, json = false, trim = false, keepGoing = false;

    // ls takes its patterns after "--": everything after it is a pattern,
    // never a path. So does get, whose -r takes any number of images and
    // folders before its output folder.
    std::vector<char*> args(argv, argv + argc);
    std::vector<std::string> getArgs;
    bool getPatternsGiven = false;
    if (argc > 1 && std::strcmp(argv[1], "get") == 0) {
        const auto dashes = std::find_if(args.begin() + 2, args.end(),
                                         [](const char* a) { return std::strcmp(a, "--") == 0; });
        if (dashes != args.end()) {
            get.patterns.assign(dashes + 1, args.end());
            getPatternsGiven = true;
            args.erase(dashes, args.end());
        }
    }
    if (argc > 1 && std::strcmp(argv[1], "ls") == 0) {
        const auto dashes = std::find_if(args.begin() + 2, args.end(),
                                         [](const char* a) { return std::strcmp(a, "--") == 0; });
        if (dashes != args.end()) {
            ls.patterns.assign(dashes + 1, args.end());
            args.erase(dashes, args.end());
        }
        // Without "--", an argument that names no file but reads as a
        // pattern (wildcards, or USER: in front) after an image is one too.
        for (std::size_t i = 3; i < args.size();) {
            std::error_code ec;
            const std::string arg = args[i];
            const FilePattern pattern = ParsePattern(arg);
            if (arg[0] != '-' && !std::filesystem::exists(arg, ec) &&
                (pattern.wild || pattern.glob != arg)) {
                ls.patterns.push_back(arg);
                args.erase(args.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }

    CatOptions cat;
    TapeInOptions tapeIn;
    TapeOutOptions tapeOut;
    ConvertOptions convert;
    ScreenOptions screen;
    const std::vector<Command> commands = {
        {"ls", "List the files and the space of images",
         [&](CLI::App& cmd) {
             cmd.add_option("PATH", ls.paths, "Images, or folders whose disk images (.dsk, .imd, .td0, .cqm, .ldbs, .ydsk, .qrst) are listed")
                 ->required();
             cmd.add_flag("-l,--long", ls.longFormat,
                          "Attributes, records, blocks and file header of each file");
             AddWalkOptions(cmd, ls.json, ls.recursive, ls.jobs,
                            "One JSON object per image and line");
             cmd.footer("Patterns follow \"--\" (or the images, when they name no file): "
                        "[USER:]PATTERN, shell-style, ignoring case.\n\n"
                        "Examples:\n  tarnlight-cli ls game.dsk\n"
                        "  tarnlight-cli ls -l game.dsk -- '*.BAS' '1:*'\n"
                        "  tarnlight-cli ls --json -r ~/disks > catalogue.jsonl");
         },
         [&](CCliOwner& owner) { return RunLs(owner, ls); }},
        {"find", "Find files by name across images and folders of images",
         [&](CLI::App& cmd) {
             cmd.add_option("PATTERN", find.pattern, "[USER:]PATTERN, shell-style, ignoring case")
                 ->required();
             cmd.add_option("PATH", find.paths, "Images, or folders of disk images (.dsk, .imd, ...)")->required();
             AddWalkOptions(cmd, find.json, find.recursive, find.jobs,
                            "One JSON object per file found");
             cmd.footer("Prints IMAGE: USER:NAME.TYP SIZE (bytes) for each file found.\n\n"
                        "Examples:\n  tarnlight-cli find -r 'MANIC*' ~/disks\n"
                        "  tarnlight-cli find '0:*.BAS' a.dsk b.dsk");
         },
         [&](CCliOwner& owner) { return RunFind(owner, find); }},
        {"check", "Check the file system of images (reads every block of every file)",
         [&](CLI::App& cmd) {
             cmd.add_option("PATH", check.paths, "Images, or folders of disk images (.dsk, .imd, ...)")->required();
             AddWalkOptions(cmd, check.json, check.recursive, check.jobs, "One JSON object per image");
             cmd.footer("One line per problem, naming the file. Exit status 1 when any image "
                        "is damaged or cannot be read.\n\nExamples:\n"
                        "  tarnlight-cli check game.dsk\n  tarnlight-cli check -r ~/disks");
         },
         [&](CCliOwner& owner) { return RunCheck(owner, check); }},
        {"info", "Show the geometry and file-system parameters",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_flag("--json", json, "The figures as one JSON object");
             cmd.footer("Example:\n  tarnlight-cli info game.dsk");
         },
         [&](CCliOwner& owner) { return RunInfo(owner, image, json); }},
        {"cat", "Show one file: a BASIC listing, text, or hex",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", cat.image, "Image file")->required();
             cmd.add_option("FILE", cat.name, "[USER:]NAME of one file")->required();
             auto* views = cmd.add_option_group("view", "How to show the file (chosen by the "
                                                        "file when none is given)");
             views->add_flag_callback("--basic", [&] { cat.view = CatOptions::View::Basic; },
                                      "List a +3 or Locomotive BASIC program (after its header)");
             views->add_flag_callback("--text", [&] { cat.view = CatOptions::View::Text; },
                                      "Text up to CP/M's end mark (^Z), CR LF as LF, bit 7 "
                                      "cleared");
             views->add_flag_callback("--hex", [&] { cat.view = CatOptions::View::Hex; },
                                      "Hex and characters, as xxd shows them");
             views->add_flag_callback("--raw", [&] { cat.view = CatOptions::View::Raw; },
                                      "The bytes as stored (as get -)");
             views->require_option(0, 1);
             cmd.add_flag("--strip-header", cat.stripHeader,
                          "Start after a +3DOS or AMSDOS header (text, hex, raw)");
             cmd.footer("Without a view: BASIC for a program with a +3DOS or AMSDOS BASIC "
                        "header, text for printable text, hex for anything else. Exit status 1 "
                        "when the listing stopped early (a warning says where).\n\nExamples:\n"
                        "  tarnlight-cli cat game.dsk DISK\n"
                        "  tarnlight-cli cat --hex --strip-header game.dsk 1:LOADER.BIN | less\n"
                        "  tarnlight-cli cat --text pcw.dsk LETTER.TXT");
         },
         [&](CCliOwner& owner) { return RunCat(owner, cat); }},
        {"screen", "Save a screen file as a PNG picture",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", screen.image, "Image file")->required();
             cmd.add_option("FILE", screen.name, "[USER:]NAME of one file")->required();
             cmd.add_option("OUT", screen.output, "PNG file to write, or - for standard output")
                 ->required();
             cmd.add_option("--mode", screen.mode, "CPC screen mode: 0, 1 (the default) or 2")
                 ->check(CLI::Range(0, 2))
                 ->each([&](const std::string&) { screen.modeGiven = true; });
             cmd.add_option("--scale", screen.scale, "Enlarge by whole pixels (1-8)")
                 ->check(CLI::Range(1, 8));
             cmd.footer("A Spectrum SCREEN$ is 6912 bytes (256 x 192; 6144 bytes: the bitmap "
                        "alone, black on white), a CPC screen 16384 bytes (mode 0 160 x 200 "
                        "drawn 320 wide, mode 1 320 x 200, mode 2 640 x 200, the power-on "
                        "inks), after a +3DOS or AMSDOS header or without one.\n\nExamples:\n"
                        "  tarnlight-cli screen game.dsk SCREEN.SCR screen.png\n"
                        "  tarnlight-cli screen --scale 2 game.dsk 'LOADING*' big.png\n"
                        "  tarnlight-cli screen --mode 0 cpc.dsk TITLE.BIN title.png");
         },
         [&](CCliOwner& owner) { return RunScreen(owner, screen); }},
        {"tape-in", "Store the files of Spectrum tapes (.tap, .tzx) with +3DOS headers",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", tapeIn.image, "Image file")->required();
             cmd.add_option("TAPE", tapeIn.tapes, ".tap or .tzx files, read in order")->required();
             cmd.add_option("-u,--user", tapeIn.user, "User number (0-15, default 0)")
                 ->check(CLI::Range(0, 15));
             cmd.add_flag("--force", tapeIn.force,
                          "Store a file whose blocks fail their checksums, as read (said "
                          "for each)");
             AddKeepGoing(cmd, tapeIn.keepGoing, "stored");
             cmd.add_flag("--headerless", tapeIn.headerless,
                          "Store blocks without a header as BLOCKnn.BIN (their data alone)");
             cmd.footer("Each standard file (a header block and its data block) becomes a file "
                        "with the +3DOS header the +3 needs to LOAD it: the tape name upper-cased, "
                        "letters and digits only, cut to 8.3, type BAS, BIN or DAT unless the name "
                        "has one; a clash takes a digit. Other blocks are named (numbered from 0, "
                        "as tzxlist numbers them) and skipped. A block that fails its checksum "
                        "stops the command unless --force. One save for the whole command, or "
                        "none.\n\nExamples:\n"
                        "  tarnlight-cli tape-in game.dsk game.tap\n"
                        "  tarnlight-cli tape-in --headerless -u 1 game.dsk side1.tzx side2.tzx\n"
                        "  tarnlight-cli tape-in --force game.dsk worn.tap");
         },
         [&](CCliOwner& owner) { return RunTapeIn(owner, tapeIn); }},
        {"tape-out", "Write +3DOS files of an image to a tape (.tap or .tzx)",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", tapeOut.image, "Image file")->required();
             cmd.add_option("TAPE", tapeOut.tape, "Tape to write: .tap or .tzx")->required();
             cmd.add_option("PATTERN", tapeOut.patterns,
                            "[USER:]PATTERN, in the order the files go on the tape; every file "
                            "in directory order when none");
             cmd.footer("Each file with a +3DOS header becomes a ROM header block (its name, "
                        "without the type, padded to 10) and a data block; files without one are "
                        "skipped with a line. The tape is written whole or not at all.\n\n"
                        "Examples:\n  tarnlight-cli tape-out game.dsk game.tap\n"
                        "  tarnlight-cli tape-out game.dsk game.tzx DISK 'GAME*.BIN'");
         },
         [&](CCliOwner& owner) { return RunTapeOut(owner, tapeOut); }},
        {"convert", "Write an image in another container, checked sector by sector",
         [&](CLI::App& cmd) {
             cmd.add_option("IN", convert.input, "Image to convert (never changed)")->required();
             cmd.add_option("OUT", convert.output, "Image to write")->required();
             cmd.add_option("--to", convert.to,
                            "Container: dsk (standard), edsk (extended), raw, imd, ldbs, copyqm, "
                            "tele, ydsk, qrst; without it, from OUT's extension (.dsk keeps a "
                            "CPCEMU input's kind, .raw/.img, .imd, .ldbs, .cqm, .td0, .ydsk, .qrst)")
                 ->check(CLI::IsMember(
                     {"dsk", "edsk", "raw", "imd", "ldbs", "copyqm", "tele", "ydsk", "qrst"}));
             cmd.add_flag("--force", convert.force, "Replace OUT when it exists");
             cmd.footer("OUT is written whole beside its name, read back and compared with IN "
                        "sector by sector (ids, sizes, data) and file by file; it takes its "
                        "name only when they agree. A disk a container cannot hold (a standard "
                        ".dsk or a raw dump with tracks of mixed sizes) is refused, naming the "
                        "track.\n\nExamples:\n"
                        "  tarnlight-cli convert game.dsk game-extended.dsk --to edsk\n"
                        "  tarnlight-cli convert archive.imd game.dsk\n"
                        "  tarnlight-cli convert game.dsk game.raw");
         },
         [&](CCliOwner& owner) { return RunConvert(owner, convert); }},
        {"get", "Extract files from an image into a folder, or one to standard output",
         [&](CLI::App& cmd) {
             cmd.add_option("ARGS", getArgs,
                            "IMAGE DIR|- [PATTERN...]; with -r: IMAGE|FOLDER... OUTDIR "
                            "[-- PATTERN...]")
                 ->required();
             cmd.add_flag("-r,--recursive", get.recursive,
                          "Every image found in the folders (all levels), each into a folder "
                          "of its own under OUTDIR");
             cmd.add_option("-j,--jobs", get.jobs, "Worker processes for -r (default: one per core)")
                 ->check(CLI::Range(1, 256));
             cmd.add_flag("--by-user", get.byUser,
                          "With -r, each user's files in a subfolder named by its number "
                          "(always where two users have a file of one name)");
             cmd.add_flag("-n,--no-clobber", get.noClobber, "Leave existing host files alone");
             cmd.add_flag("--padded", get.padded,
                          "Host names as the directory pads them (\"GAME    .BIN\")");
             cmd.add_flag("--trim", trim, "Host names without padding (the default)");
             cmd.add_flag("--strip-header", get.stripHeader,
                          "Take off a +3DOS or AMSDOS header: the data at the length it gives");
             cmd.add_flag("--exact", get.exact,
                          "As --strip-header, and files without a header cut at CP/M 3's "
                          "last-record byte count");
             cmd.footer("With -r, IMAGE.dsk's files go to OUTDIR/IMAGE/ (FOLDER/sub/x.dsk's to "
                        "OUTDIR/sub/x/), and one line sums up what was extracted.\n\n"
                        "Examples:\n  tarnlight-cli get game.dsk out/\n"
                        "  tarnlight-cli get game.dsk - 1:LOADER.BAS > loader.bas\n"
                        "  tarnlight-cli get --strip-header game.dsk . 'SCREEN*'\n"
                        "  tarnlight-cli get -r ~/disks ~/extracted\n"
                        "  tarnlight-cli get -r --by-user ~/disks out -- '*.BAS'");
         },
         [&](CCliOwner& owner) {
             get.stripHeader = get.stripHeader || get.exact;
             if (get.recursive) {
                 if (getArgs.size() < 2)
                     return UsageError("get -r takes IMAGE|FOLDER... OUTDIR");
                 get.paths.assign(getArgs.begin(), getArgs.end() - 1);
                 get.folder = getArgs.back();
                 return RunGetRecursive(owner, get);
             }
             if (getArgs.size() < 2)
                 return UsageError("get takes IMAGE DIR|- [PATTERN...]");
             if (get.byUser || get.jobs != 0)
                 return UsageError("--by-user and -j go with -r");
             get.image = getArgs[0];
             get.folder = getArgs[1];
             if (getArgs.size() > 2 && getPatternsGiven)
                 return UsageError("give the patterns either before or after --, not both");
             if (!getPatternsGiven)
                 get.patterns.assign(getArgs.begin() + 2, getArgs.end());
             return RunGet(owner, get);
         }},
        {"put", "Add host files to an image",
         [&](CLI::App& cmd) {
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
             cmd.add_option("--plus3", plus3,
                            "Add a +3DOS header: code:LOAD or basic[:LINE]");
             cmd.add_option("--amsdos", amsdos,
                            "Add an AMSDOS header: bin:LOAD[:EXEC] or basic");
             AddKeepGoing(cmd, put.keepGoing, "stored");
             cmd.add_flag("--tokenize", put.tokenize,
                          "With --plus3 basic or --amsdos basic: the files are BASIC text, "
                          "stored as the program it makes");
             cmd.footer("Names are upper-cased; names CP/M cannot hold are refused. Addresses "
                        "in decimal, 0x or & hex. With --tokenize, +3 BASIC is read as zmakebas "
                        "reads it and Locomotive BASIC as the CPC lists it; a line that cannot "
                        "be read is reported with its line and column, and that file is not "
                        "stored.\n\nExamples:\n"
                        "  tarnlight-cli put game.dsk loader.bas game.bin\n"
                        "  tarnlight-cli put -u 1 --as SCREEN.SCR game.dsk pic.scr\n"
                        "  tarnlight-cli put --plus3 code:32768 game.dsk game.bin\n"
                        "  tarnlight-cli put --plus3 basic:10 --tokenize --as DISK game.dsk "
                        "loader.txt\n"
                        "  tarnlight-cli put --amsdos basic --tokenize cpc.dsk menu.bas\n"
                        "  tarnlight-cli put --keep-going game.dsk *.bin");
         },
         [&](CCliOwner& owner) { return RunPut(owner, put); }},
        {"rm", "Delete files from an image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("PATTERN", patterns, "[USER:]PATTERN, shell-style, ignoring case")
                 ->required();
             cmd.add_flag("--force", force, "Delete read-only files too");
             AddKeepGoing(cmd, keepGoing, "deleted");
             cmd.footer("A read-only file is refused (nothing is deleted) without --force.\n\n"
                        "Examples:\n  tarnlight-cli rm game.dsk OLD.BAS\n"
                        "  tarnlight-cli rm game.dsk '3:*.TMP'\n"
                        "  tarnlight-cli rm --keep-going game.dsk OLD.BAS GONE.BAS");
         },
         [&](CCliOwner& owner) { return RunRm(owner, image, patterns, force, keepGoing); }},
        {"mv", "Rename a file, or give it to another user",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("OLD", from, "[USER:]NAME.TYP")->required();
             cmd.add_option("NEW", to, "[USER:]NAME.TYP")->required();
             cmd.add_flag("--force", force, "Rename a read-only file too");
             cmd.footer("A name longer than 8.3 is refused, and so is a read-only file without "
                        "--force; the file keeps its stamps and password.\n\n"
                        "Examples:\n  tarnlight-cli mv game.dsk DISK DISK.BAK\n"
                        "  tarnlight-cli mv game.dsk 0:GAME.BIN 1:GAME.BIN");
         },
         [&](CCliOwner& owner) { return RunMv(owner, image, from, to, force); }},
        {"attr", "Set or clear the read-only, system and archive attributes",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("PATTERN", patterns, "[USER:]PATTERN, shell-style, ignoring case")
                 ->required();
             cmd.add_option("--set", setFlags, "Any of r (read-only), s (system), a (archive)");
             cmd.add_option("--clear", clearFlags, "Any of r, s, a");
             AddKeepGoing(cmd, keepGoing, "changed");
             cmd.footer("Examples:\n  tarnlight-cli attr --set rs game.dsk DISK\n"
                        "  tarnlight-cli attr --clear a game.dsk '*'");
         },
         [&](CCliOwner& owner) {
             unsigned set = 0, clear = 0;
             if (!ParseFlags(setFlags, set) || !ParseFlags(clearFlags, clear))
                 return UsageError("attribute flags are r, s and a (e.g. --set rs --clear a)");
             if (set == 0 && clear == 0)
                 return UsageError("attr needs --set or --clear");
             return RunAttr(owner, image, patterns, set, clear, keepGoing);
         }},
        {"new", "Create a blank image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file to create")->required();
             cmd.add_option("-f,--format", format,
                            "plus3 (also pcw180): +3/PCW 180K, 40 tracks, one side (the "
                            "default); pcw720: PCW/+3 720K, 80 tracks, two sides; cpcdata: "
                            "CPC data 180K; cpcsys: CPC system 171K with 2 reserved tracks")
                 ->check(CLI::IsMember({"plus3", "pcw180", "pcw720", "cpcdata", "cpcsys"}));
             cmd.add_flag("--force", force, "Replace an existing file");
             cmd.footer("Every track is formatted with 0xE5.\n\nExamples:\n"
                        "  tarnlight-cli new blank.dsk\n  tarnlight-cli new -f pcw720 big.dsk");
         },
         [&](CCliOwner& owner) {
             using F = CDiskImage::NewFormat;
             const std::map<std::string, F> formats = {{"plus3", F::Plus3},
                                                       {"pcw180", F::Plus3},
                                                       {"pcw720", F::Pcw720},
                                                       {"cpcdata", F::CpcData},
                                                       {"cpcsys", F::CpcSystem}};
             return RunNew(owner, image, formats.at(format), force);
         }},
        {"boot-read", "Save the boot sector of an image to a 512-byte file",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("FILE", bootFile, "Host file to write")->required();
             cmd.footer("Example:\n  tarnlight-cli boot-read game.dsk boot.bin");
         },
         [&](CCliOwner& owner) { return RunBootRead(owner, image, bootFile); }},
        {"boot-write", "Write a 512-byte file into the boot sector of an image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("FILE", bootFile, "Host file to read")->required();
             cmd.add_flag("--force", force,
                          "Write a file of another length (its bytes replace the first ones), or "
                          "one that changes the disk specification or the geometry");
             cmd.add_option("--bootable", bootable,
                            "Set byte 15 so that the machine starts from the disk: plus3, "
                            "pcw8256 or pcw9512")
                 ->check(CLI::IsMember({"plus3", "pcw8256", "pcw9512"}));
             cmd.footer("Bytes 0-9 of the disk specification define the format: a change of "
                        "them (or of the geometry LibDsk derives) needs --force. Bytes 10-15 "
                        "change freely.\n\nExamples:\n  tarnlight-cli boot-write game.dsk boot.bin\n"
                        "  tarnlight-cli boot-write --bootable plus3 game.dsk loader.bin");
         },
         [&](CCliOwner& owner) {
             const BootMachine machine = bootable == "plus3"     ? BootMachine::Plus3
                                         : bootable == "pcw8256" ? BootMachine::Pcw8256
                                         : bootable == "pcw9512" ? BootMachine::Pcw9512
                                                                 : BootMachine::None;
             return RunBootWrite(owner, image, bootFile, force, machine);
         }},
    };

    CLI::App app{"Tarnlight: list, extract, add and delete files in +3DOS, PCW and CPC "
                 "disk images (.dsk). Every change is written to the image at once."};
    app.name("tarnlight-cli");
    app.set_version_flag("-V,--version", "tarnlight-cli " TARNLIGHT_VERSION);
    app.require_subcommand(1);
    app.footer("Files on an image are named [USER:]PATTERN (USER 0-15 or *; every user when "
               "left out). Quote patterns so that the shell leaves them alone: '*.BAS'.\n"
               "Run tarnlight-cli COMMAND --help for a command's options and examples.\n\n"
               "Exit status: 0 success, 1 an operation failed, 2 usage error.");

    // A first argument that is no option and no command is a typo more
    // often than not: name it and the closest command.
    if (argc > 1 && argv[1][0] != '-') {
        const std::string given = argv[1];
        const Command* closest = nullptr;
        std::size_t best = 99;
        bool known = false;
        for (const Command& command : commands) {
            known = known || given == command.name;
            const std::size_t distance = EditDistance(given, command.name);
            if (distance < best) {
                best = distance;
                closest = &command;
            }
        }
        if (!known) {
            std::string text = "unknown command '" + given + "'";
            if (closest != nullptr && best <= 2)
                text += std::string(" (did you mean '") + closest->name + "'?)";
            return UsageError(text);
        }
    }

    // When the first argument names a command, only that command is set up:
    // building every command's options would cost more than a listing.
    const Command* named = nullptr;
    for (const Command& command : commands)
        if (argc > 1 && std::strcmp(argv[1], command.name) == 0)
            named = &command;
    std::vector<std::pair<CLI::App*, const Command*>> defined;
    for (const Command& command : commands) {
        if (named != nullptr && named != &command)
            continue;
        CLI::App* sub = app.add_subcommand(command.name, command.description);
        command.define(*sub);
        defined.emplace_back(sub, &command);
    }

    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    // Usage errors that CLI11 cannot see.
    if (named != nullptr && std::strcmp(named->name, "put") == 0) {
        if (!plus3.empty() && !amsdos.empty())
            return UsageError("--plus3 and --amsdos cannot both be given");
        if (!plus3.empty() || !amsdos.empty()) {
            const auto kind = plus3.empty() ? FileHeader::Kind::Amsdos : FileHeader::Kind::Plus3Dos;
            put.header = ParseHeaderRequest(kind, plus3.empty() ? amsdos : plus3);
            if (!put.header)
                return UsageError(plus3.empty()
                                      ? "--amsdos takes bin:LOAD[:EXEC] or basic"
                                      : "--plus3 takes code:LOAD or basic[:LINE] (LINE 0-9999)");
        }
        const bool basic =
            put.header && put.header->fileType == (put.header->kind == FileHeader::Kind::Amsdos
                                                       ? FileHeader::kAmsdosBasic
                                                       : FileHeader::kPlus3Program);
        if (put.tokenize && !basic)
            return UsageError("--tokenize needs --plus3 basic[:LINE] or --amsdos basic");
        if (!put.as.empty() && put.files.size() != 1)
            return UsageError("--as names one file: give exactly one FILE");
        if (!put.as.empty() && put.user >= 0 && ParsePattern(put.as).user >= 0)
            return UsageError("give the user either with -u or in --as, not both");
        if (put.as.empty() &&
            std::find(put.files.begin(), put.files.end(), "-") != put.files.end())
            return UsageError("standard input (-) needs a name: --as NAME.TYP");
    }

    // The library is loaded only once a command runs, so --help stays light.
    CCliOwner owner;
    int status = kExitUsage;
    for (const auto& [sub, command] : defined)
        if (sub->parsed())
            status = command->run(owner);
    // A message the core showed means something failed, even where the
    // command went on.
    if (status == kExitOk && owner.AnyError())
        status = kExitFailed;
    // Output that never reached its file (a full disk, /dev/full) is a
    // failure too; it shows only when the buffer is flushed and closed.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fclose(stdout) != 0) {
        std::fprintf(stderr, "ERROR: write error: %s\n", std::strerror(errno));
        status = std::max(status, int{kExitFailed});
    }
    return status;
}
