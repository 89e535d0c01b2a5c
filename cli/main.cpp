// tarnlight-cli: look inside +3DOS, PCW and CPC disk images and move files in
// and out of them from the command line.

#include "CliOwner.h"
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#ifndef TARNLIGHT_VERSION
#define TARNLIGHT_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    CLI::App app{"Tarnlight: list, extract, add and delete files in +3DOS, PCW and CPC "
                 "disk images (.dsk).\n\nExit status: 0 success, 1 an operation failed, "
                 "2 usage error."};
    app.name("tarnlight-cli");
    app.set_version_flag("--version", "tarnlight-cli " TARNLIGHT_VERSION);
    app.require_subcommand(1);

    LsOptions ls;
    auto* lsCmd = app.add_subcommand("ls", "List the files and the space of images");
    lsCmd->add_option("IMAGE", ls.paths, "Images, or folders whose .dsk files are listed")
        ->required();
    lsCmd->add_flag("--json", ls.json, "One JSON object per image and line");
    lsCmd->add_flag("-r,--recursive", ls.recursive, "Walk folders recursively");

    std::string infoImage;
    auto* infoCmd = app.add_subcommand("info", "Show the geometry and file-system parameters");
    infoCmd->add_option("IMAGE", infoImage, "Image file")->required();

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
    if (lsCmd->parsed())
        return RunLs(owner, ls);
    if (infoCmd->parsed())
        return RunInfo(owner, infoImage);
    return kExitUsage;
}
