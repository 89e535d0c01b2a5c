// screen: a screen file as a PNG picture.

#include "Commands.h"
#include "HostFile.h"
#include "Png.h"
#include "Screens.h"
#include "Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::string SizesText(std::size_t size) {
    return "a screen is " + std::to_string(kSpectrumScreenSize) + " or " +
           std::to_string(kSpectrumBitmapSize) + " bytes (Spectrum) or " +
           std::to_string(kCpcScreenSize) + " bytes (CPC); this file holds " +
           std::to_string(size) + " bytes";
}

// Written whole under its name, or not at all; never over the image.
bool WritePicture(const std::string& output, const std::vector<std::uint8_t>& png,
                  const FileIdentity& image) {
    if (output == "-") {
        if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size() || std::fflush(stdout) != 0) {
            Report("standard output", std::strerror(errno));
            return false;
        }
        return true;
    }
    std::string cause, warning;
    if (!WriteHostFile(output, png, &image, cause, warning)) {
        Report(output, "cannot write the picture: " + cause);
        return false;
    }
    if (!warning.empty())
        std::fprintf(stderr, "WARNING: %s: %s\n", output.c_str(), warning.c_str());
    return true;
}

} // namespace

int RunScreen(CCliOwner& owner, const ScreenOptions& options) {
    NamedFile file;
    if (!ReadNamedFile(owner, options.image, options.name, file))
        return kExitFailed;
    const std::string subject = options.image + ": " + UserAndName(file.row);
    const std::span<const std::uint8_t> data = DataAfterHeader(file);
    const bool amsdos = file.header && file.header->kind == FileHeader::Kind::Amsdos;
    const bool plus3 = file.header && file.header->kind == FileHeader::Kind::Plus3Dos;
    std::optional<Picture> picture;
    if (!amsdos && (data.size() == kSpectrumScreenSize || data.size() == kSpectrumBitmapSize)) {
        if (options.modeGiven) {
            Report(subject, "--mode is for CPC screens; this is a Spectrum screen");
            return kExitUsage;
        }
        picture = SpectrumScreen(data);
    } else if (!plus3 && data.size() == kCpcScreenSize) {
        picture = CpcScreen(data, options.mode);
    }
    if (!picture) {
        Report(subject, SizesText(data.size()));
        return kExitFailed;
    }
    std::string error;
    const std::vector<std::uint8_t> png = EncodePng(Enlarge(*picture, options.scale), error);
    if (png.empty()) {
        Report(subject, "cannot make the picture: " + error);
        return kExitFailed;
    }
    return WritePicture(options.output, png, owner.Image().ImageIdentity()) ? kExitOk : kExitFailed;
}

Verb ScreenVerb() {
    return {"screen", "Save a screen file as a PNG picture",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto screen = std::make_shared<ScreenOptions>();
                cmd.add_option("IMAGE", screen->image, "Image file")->required();
                cmd.add_option("FILE", screen->name, "[USER:]NAME of one file")->required();
                cmd.add_option("OUT", screen->output, "PNG file to write, or - for standard output")
                    ->required();
                cmd.add_option("--mode", screen->mode, "CPC screen mode: 0, 1 (the default) or 2")
                    ->check(CLI::Range(0, 2))
                    ->each([screen](const std::string&) { screen->modeGiven = true; });
                cmd.add_option("--scale", screen->scale, "Enlarge by whole pixels (1-8)")
                    ->check(CLI::Range(1, 8));
                cmd.footer(
                    "A Spectrum SCREEN$ is 6912 bytes (256 x 192; 6144 bytes: the bitmap alone, "
                    "black on white), a CPC screen 16384 bytes (mode 0 160 x 200 drawn 320 "
                    "wide, mode 1 320 x 200, mode 2 640 x 200, the power-on inks), after a "
                    "+3DOS or AMSDOS header or without one.\n\nExamples:\n"
                    "  tarnlight-cli screen game.dsk SCREEN.SCR screen.png\n"
                    "  tarnlight-cli screen --scale 2 game.dsk 'LOADING*' big.png\n"
                    "  tarnlight-cli screen --mode 0 cpc.dsk TITLE.BIN title.png");
                return [screen](CCliOwner& owner) { return RunScreen(owner, *screen); };
            }};
}
