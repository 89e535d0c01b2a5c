#pragma once
// Screen memory as pictures: the ZX Spectrum's SCREEN$ and the Amstrad
// CPC's 16K screen.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> rgb; // width * height * 3, rows top to bottom
};

constexpr std::size_t kSpectrumScreenSize = 6912, kSpectrumBitmapSize = 6144;
constexpr std::size_t kCpcScreenSize = 16384;

// A CPC screen's inks: the mode it is drawn in and each pen's colour by
// firmware number (0-26).
struct CpcPalette {
    unsigned mode = 1;
    std::array<std::uint8_t, 16> inks{};
    bool operator==(const CpcPalette&) const = default;
};

// Whether a file of that size is a CPC screen: 16384 bytes, or a dump that
// stops before the last 2K block's unused gap (16336) or before its last
// pixel line (16256); the bytes not there are drawn as pen 0.
bool IsCpcScreenSize(std::size_t size);
// OCP Art Studio's palette file (.PAL, 239 bytes): the mode, then for each
// pen and the border 12 frames of colour, of which the first is taken.
// Colours are the Gate Array's numbers with bit 6 set (0x54 black) or
// firmware numbers; nothing for a file that is not one.
std::optional<CpcPalette> ArtStudioPalette(std::span<const std::uint8_t> data);
// The palette many screen dumps keep in the first block's unused gap: at
// 0x17D0 the mode, then the sixteen pens' colours as above; nothing unless
// all of it is plausible (a gap of zeros or of one value is no palette).
std::optional<CpcPalette> PaletteInScreenGap(std::span<const std::uint8_t> screen);

// 256 x 192 from 6912 bytes (bitmap and attributes), or from the 6144 bytes
// of a bitmap alone (black on white); nothing for any other size.
std::optional<Picture> SpectrumScreen(std::span<const std::uint8_t> data);
// From 16384 bytes in mode 0 (160 x 200, each pixel drawn twice across to
// keep the shape), 1 (320 x 200) or 2 (640 x 200), in the palette's inks or
// the firmware's at power-on; nothing for any other size (IsCpcScreenSize)
// or mode.
std::optional<Picture> CpcScreen(std::span<const std::uint8_t> data, unsigned mode,
                                 const CpcPalette* palette = nullptr);
// Each pixel drawn as a `scale` x `scale` square.
Picture Enlarge(const Picture& picture, unsigned scale);
