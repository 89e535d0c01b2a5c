// screen: a screen file as a PNG picture.

#include "Commands.h"
#include "FileView.h"
#include "HostFile.h"
#include "Png.h"
#include "Screens.h"
#include "Session.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

// The palette a screen is drawn in: `--palette FILE` names a host file or,
// when no host file has that name, a file of the image; "auto" looks for
// the screen's own NAME.PAL beside it, then for one kept in the dump's gap.
// Nothing with `found` true for the power-on inks; `found` false, reported,
// for a palette that cannot be read.
std::optional<CpcPalette> PaletteFor(CCliOwner& owner, const ScreenOptions& options,
                                     const NamedFile& screen, std::span<const std::uint8_t> data,
                                     bool& found) {
    found = true;
    if (options.palette.empty())
        return std::nullopt;
    const bool automatic = options.palette == "auto";
    std::string source = automatic ? "" : options.palette;
    if (automatic) {
        for (const FileEntry& row : owner.Rows())
            if (row.user == screen.row.user &&
                std::equal(row.name, row.name + kNameLen, screen.row.name) &&
                std::string(reinterpret_cast<const char*>(row.type), kTypeLen) == "PAL")
                source = UserAndName(row);
        if (source.empty())
            return PaletteInScreenGap(data);
    }
    NamedFile file;
    struct stat host {};
    if (!automatic && stat(source.c_str(), &host) == 0) {
        std::string cause;
        if (!ReadHostFile(source, 1 << 16, "too large for a palette file", file.data, cause)) {
            Report(source, cause);
            found = false;
            return std::nullopt;
        }
        file.header = ParseFileHeader(file.data.data(), file.data.size());
    } else {
        if (!ReadNamedFile(owner, options.image, source, file)) {
            found = false;
            return std::nullopt;
        }
        source = options.image + ": " + UserAndName(file.row);
    }
    const std::span<const std::uint8_t> content = DataAfterHeader(file);
    auto palette = ArtStudioPalette(content);
    if (!palette) {
        Report(source, "not an OCP Art Studio palette (239 bytes: the mode, then 12 frames of "
                       "colour for each pen and the border); this file holds " +
                           std::to_string(content.size()) + " bytes");
        found = false;
    }
    return palette;
}

} // namespace

int RunScreen(CCliOwner& owner, const ScreenOptions& options) {
    NamedFile file;
    if (!ReadNamedFile(owner, options.image, options.name, file))
        return kExitFailed;
    const std::string subject = options.image + ": " + UserAndName(file.row);
    const std::span<const std::uint8_t> data = DataAfterHeader(file);
    std::optional<Picture> picture;
    const ScreenKind screenKind = ScreenKindOf(file.header, data.size());
    if (screenKind == ScreenKind::Spectrum) {
        if (options.modeGiven || !options.palette.empty()) {
            Report(subject, std::string(options.modeGiven ? "--mode" : "--palette") +
                                " is for CPC screens; this is a Spectrum screen");
            return kExitUsage;
        }
        picture = SpectrumScreen(data);
    } else if (screenKind == ScreenKind::Cpc) {
        bool found = true;
        const auto palette = PaletteFor(owner, options, file, data, found);
        if (!found)
            return kExitFailed;
        // The palette file's mode, unless one is asked for.
        const unsigned mode = options.modeGiven || !palette ? options.mode : palette->mode;
        picture = CpcScreen(data, mode, palette ? &*palette : nullptr);
    }
    if (!picture) {
        Report(subject, ScreenSizesText(data.size()));
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
                cmd.add_option("--palette", screen->palette,
                               "CPC screens: an OCP Art Studio palette (.PAL) as a host file or "
                               "a file of the image, or auto: the screen's NAME.PAL on the "
                               "image, else a palette the dump keeps at 0x17D0; the palette's "
                               "mode unless --mode is given");
                cmd.footer(
                    "A Spectrum SCREEN$ is 6912 bytes (256 x 192; 6144 bytes: the bitmap alone, "
                    "black on white), a CPC screen 16384 bytes (mode 0 160 x 200 drawn 320 "
                    "wide, mode 1 320 x 200, mode 2 640 x 200; 16336 or 16256 bytes: a dump "
                    "that stops in the last gap or line), after a +3DOS or AMSDOS header or "
                    "without one. CPC screens are drawn in the power-on inks unless --palette "
                    "gives others.\n\nExamples:\n"
                    "  tarnlight-cli screen game.dsk SCREEN.SCR screen.png\n"
                    "  tarnlight-cli screen --scale 2 game.dsk 'LOADING*' big.png\n"
                    "  tarnlight-cli screen --mode 0 cpc.dsk TITLE.BIN title.png\n"
                    "  tarnlight-cli screen --palette auto cpc.dsk TITLE.SCR title.png\n"
                    "  tarnlight-cli screen --palette art/TITLE.PAL cpc.dsk TITLE.SCR title.png");
                return [screen](CCliOwner& owner) { return RunScreen(owner, *screen); };
            }};
}
