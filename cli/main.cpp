// tarnlight-cli: look inside +3DOS, PCW and CPC disk images and move files in
// and out of them from the command line.

#include "CliOwner.h"
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstring>
#include <functional>
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

} // namespace

int main(int argc, char** argv) {
    // A file-size limit must fail a write (and so the save) rather than end
    // the process in the middle of one.
    std::signal(SIGXFSZ, SIG_IGN);
    LsOptions ls;
    std::string infoImage;
    GetOptions get;
    std::string image, bootFile;
    std::vector<std::string> files, patterns;
    bool force = false;

    const std::vector<Command> commands = {
        {"ls", "List the files and the space of images",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", ls.paths, "Images, or folders whose .dsk files are listed")
                 ->required();
             cmd.add_flag("--json", ls.json, "One JSON object per image and line");
             cmd.add_flag("-r,--recursive", ls.recursive, "Walk folders recursively");
         },
         [&](CCliOwner& owner) { return RunLs(owner, ls); }},
        {"info", "Show the geometry and file-system parameters",
         [&](CLI::App& cmd) { cmd.add_option("IMAGE", infoImage, "Image file")->required(); },
         [&](CCliOwner& owner) { return RunInfo(owner, infoImage); }},
        {"get", "Extract files from an image into a folder",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", get.image, "Image file")->required();
             cmd.add_option("DIR", get.folder, "Target folder")->required();
             cmd.add_option("PATTERN", get.patterns,
                            "Files to extract, shell-style (*, ?), ignoring case; all when none");
             cmd.add_flag("--trim", get.trim,
                          "Drop the padding spaces from host names (\"GAME.BIN\", not "
                          "\"GAME    .BIN\")");
         },
         [&](CCliOwner& owner) { return RunGet(owner, get); }},
        {"put", "Add host files to an image under their 8.3 names",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("FILE", files, "Host files, added in order")->required();
         },
         [&](CCliOwner& owner) { return RunPut(owner, image, files); }},
        {"rm", "Delete files from an image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("PATTERN", patterns, "Files to delete, shell-style, ignoring case")
                 ->required();
         },
         [&](CCliOwner& owner) { return RunRm(owner, image, patterns); }},
        {"new", "Create a blank single-sided 40-track +3 image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file to create")->required();
             cmd.add_flag("--force", force, "Replace an existing file");
         },
         [&](CCliOwner& owner) { return RunNew(owner, image, force); }},
        {"boot-read", "Save the boot sector of an image to a 512-byte file",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("FILE", bootFile, "Host file to write")->required();
         },
         [&](CCliOwner& owner) { return RunBootRead(owner, image, bootFile); }},
        {"boot-write", "Write a 512-byte file into the boot sector of an image",
         [&](CLI::App& cmd) {
             cmd.add_option("IMAGE", image, "Image file")->required();
             cmd.add_option("FILE", bootFile, "Host file to read")->required();
             cmd.add_flag("--force", force,
                          "Write a file of another length (its bytes replace the first ones), or "
                          "one that changes the disk specification or the geometry");
         },
         [&](CCliOwner& owner) { return RunBootWrite(owner, image, bootFile, force); }},
    };

    CLI::App app{"Tarnlight: list, extract, add and delete files in +3DOS, PCW and CPC "
                 "disk images (.dsk). Every change is written to the image at once.\n\n"
                 "Exit status: 0 success, 1 an operation failed, 2 usage error."};
    app.name("tarnlight-cli");
    app.set_version_flag("--version", "tarnlight-cli " TARNLIGHT_VERSION);
    app.require_subcommand(1);

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
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    // The library is loaded only once a command runs, so --help stays light.
    CCliOwner owner;
    int status = kExitUsage;
    for (const auto& [sub, command] : defined)
        if (sub->parsed())
            status = command->run(owner);
    // A message the core showed means something failed, even where the
    // command went on.
    return status == kExitOk && owner.AnyError() ? kExitFailed : status;
}
