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
                 "disk images (.dsk). Every change is written to the image at once.\n\nExit status: 0 success, 1 an operation failed, "
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

    GetOptions get;
    auto* getCmd = app.add_subcommand("get", "Extract files from an image into a folder");
    getCmd->add_option("IMAGE", get.image, "Image file")->required();
    getCmd->add_option("DIR", get.folder, "Target folder")->required();
    getCmd->add_option("PATTERN", get.patterns,
                       "Files to extract, shell-style (*, ?), ignoring case; all when none");
    getCmd->add_flag("--trim", get.trim,
                     "Drop the padding spaces from host names (\"GAME.BIN\", not \"GAME    .BIN\")");

    std::string putImage;
    std::vector<std::string> putFiles;
    auto* putCmd = app.add_subcommand("put", "Add host files to an image under their 8.3 names");
    putCmd->add_option("IMAGE", putImage, "Image file")->required();
    putCmd->add_option("FILE", putFiles, "Host files, added in order")->required();

    std::string rmImage;
    std::vector<std::string> rmPatterns;
    auto* rmCmd = app.add_subcommand("rm", "Delete files from an image");
    rmCmd->add_option("IMAGE", rmImage, "Image file")->required();
    rmCmd->add_option("PATTERN", rmPatterns, "Files to delete, shell-style, ignoring case")
        ->required();

    std::string newImage;
    bool newForce = false;
    auto* newCmd = app.add_subcommand("new", "Create a blank single-sided 40-track +3 image");
    newCmd->add_option("IMAGE", newImage, "Image file to create")->required();
    newCmd->add_flag("--force", newForce, "Replace an existing file");

    std::string bootImage, bootFile;
    auto* bootReadCmd =
        app.add_subcommand("boot-read", "Save the boot sector of an image to a 512-byte file");
    bootReadCmd->add_option("IMAGE", bootImage, "Image file")->required();
    bootReadCmd->add_option("FILE", bootFile, "Host file to write")->required();
    auto* bootWriteCmd =
        app.add_subcommand("boot-write", "Write a 512-byte file into the boot sector of an image");
    bootWriteCmd->add_option("IMAGE", bootImage, "Image file")->required();
    bootWriteCmd->add_option("FILE", bootFile, "Host file to read")->required();

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
    auto dispatch = [&]() -> int {
        if (lsCmd->parsed())
            return RunLs(owner, ls);
        if (infoCmd->parsed())
            return RunInfo(owner, infoImage);
        if (getCmd->parsed())
            return RunGet(owner, get);
        if (putCmd->parsed())
            return RunPut(owner, putImage, putFiles);
        if (rmCmd->parsed())
            return RunRm(owner, rmImage, rmPatterns);
        if (newCmd->parsed())
            return RunNew(owner, newImage, newForce);
        if (bootReadCmd->parsed())
            return RunBootRead(owner, bootImage, bootFile);
        if (bootWriteCmd->parsed())
            return RunBootWrite(owner, bootImage, bootFile);
        return kExitUsage;
    };
    const int status = dispatch();
    // A message the core showed means something failed, even where the
    // command went on.
    return status == kExitOk && owner.AnyError() ? kExitFailed : status;
}
