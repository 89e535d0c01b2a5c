#include "Screens.h"

#include <algorithm>

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

void Put(Picture& picture, unsigned x, unsigned y, Rgb colour) {
    std::uint8_t* pixel = picture.rgb.data() + (std::size_t{y} * picture.width + x) * 3;
    pixel[0] = colour.r;
    pixel[1] = colour.g;
    pixel[2] = colour.b;
}

Picture Blank(unsigned width, unsigned height) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(std::size_t{width} * height * 3, 0);
    return picture;
}

// The Spectrum's eight colours, numbered by their bits (0 blue, 1 red,
// 2 green), at the levels emulators take for the ULA's output: 0xD7 for
// a colour, 0xFF for a BRIGHT one.
Rgb SpectrumColour(unsigned colour, bool bright) {
    const std::uint8_t level = bright ? 0xFF : 0xD7;
    return {static_cast<std::uint8_t>(colour & 2 ? level : 0),
            static_cast<std::uint8_t>(colour & 4 ? level : 0),
            static_cast<std::uint8_t>(colour & 1 ? level : 0)};
}

// The CPC's 27 colours, by firmware number: 9 * green + 3 * red + blue,
// each gun off, half (0x80) or full on.
Rgb CpcColour(unsigned firmware) {
    static constexpr std::uint8_t kLevel[] = {0x00, 0x80, 0xFF};
    return {kLevel[(firmware / 3) % 3], kLevel[firmware / 9], kLevel[firmware % 3]};
}

// The inks the firmware gives the sixteen pens at power-on (pens 14 and 15
// flash; their first colour is taken).
constexpr unsigned kDefaultInks[16] = {1, 24, 20, 6, 26, 0, 2, 8, 10, 12, 14, 16, 18, 22, 1, 16};

// A colour as a palette file keeps it: the Gate Array's number with bit 6
// set, or the firmware's number; nullopt for neither.
std::optional<std::uint8_t> FirmwareInk(std::uint8_t stored) {
    // The Gate Array's 32 numbers, by the firmware colour each shows.
    static constexpr std::uint8_t kFromHardware[32] = {13, 13, 19, 25, 1,  7,  10, 16, 7,  25, 24,
                                                       26, 6,  8,  15, 17, 1,  19, 18, 20, 0,  2,
                                                       9,  11, 4,  22, 21, 23, 3,  5,  12, 14};
    if (stored >= 0x40 && stored < 0x60)
        return kFromHardware[stored & 0x1F];
    if (stored <= 26)
        return stored;
    return std::nullopt;
}

// The mode and 16 colours `stride` bytes apart from `first`.
std::optional<CpcPalette> PaletteAt(std::span<const std::uint8_t> data, std::size_t modeAt,
                                    std::size_t first, std::size_t stride) {
    if (data.size() <= first + 15 * stride || data[modeAt] > 2)
        return std::nullopt;
    CpcPalette palette;
    palette.mode = data[modeAt];
    for (unsigned pen = 0; pen < 16; ++pen) {
        const auto ink = FirmwareInk(data[first + pen * stride]);
        if (!ink)
            return std::nullopt;
        palette.inks[pen] = *ink;
    }
    return palette;
}

// A mode's pen for each pixel of a byte, left to right. Mode 2: one bit per
// pixel, bit 7 first. Mode 1: pixel i has bits 7-i (pen bit 0) and 3-i (bit
// 1). Mode 0: pixel 0 has bits 7, 3, 5, 1 (pen bits 0-3), pixel 1 bits 6,
// 2, 4, 0.
unsigned PenOf(std::uint8_t byte, unsigned mode, unsigned pixel) {
    const auto bit = [byte](unsigned n) { return (byte >> n) & 1u; };
    switch (mode) {
    case 0:
        return bit(7 - pixel) | bit(3 - pixel) << 1 | bit(5 - pixel) << 2 | bit(1 - pixel) << 3;
    case 1:
        return bit(7 - pixel) | bit(3 - pixel) << 1;
    default:
        return bit(7 - pixel);
    }
}

} // namespace

std::optional<Picture> SpectrumScreen(std::span<const std::uint8_t> data) {
    if (data.size() != kSpectrumScreenSize && data.size() != kSpectrumBitmapSize)
        return std::nullopt;
    const bool attributes = data.size() == kSpectrumScreenSize;
    Picture picture = Blank(256, 192);
    for (unsigned y = 0; y < 192; ++y) {
        // The ULA's order: the screen's thirds, then pixel lines within a
        // character row, then character rows.
        const unsigned row = (y & 0xC0) << 5 | (y & 7) << 8 | (y & 0x38) << 2;
        for (unsigned column = 0; column < 32; ++column) {
            const std::uint8_t bits = data[row | column];
            Rgb ink{0, 0, 0}, paper{0xFF, 0xFF, 0xFF};
            if (attributes) {
                // INK bits 0-2, PAPER 3-5, BRIGHT 6, FLASH 7 (its first
                // phase: as stored).
                const std::uint8_t attribute = data[kSpectrumBitmapSize + (y / 8) * 32 + column];
                const bool bright = attribute & 0x40;
                ink = SpectrumColour(attribute & 7, bright);
                paper = SpectrumColour((attribute >> 3) & 7, bright);
            }
            for (unsigned bit = 0; bit < 8; ++bit)
                Put(picture, column * 8 + bit, y, bits & (0x80 >> bit) ? ink : paper);
        }
    }
    return picture;
}

bool IsCpcScreenSize(std::size_t size) {
    return size == kCpcScreenSize || size == kCpcScreenSize - 48 || size == kCpcScreenSize - 128;
}

std::optional<CpcPalette> ArtStudioPalette(std::span<const std::uint8_t> data) {
    if (data.size() != 239)
        return std::nullopt;
    return PaletteAt(data, 0, 3, 12);
}

std::optional<CpcPalette> PaletteInScreenGap(std::span<const std::uint8_t> screen) {
    constexpr std::size_t kGap = 0x17D0;
    if (screen.size() != kCpcScreenSize)
        return std::nullopt;
    auto palette = PaletteAt(screen, kGap, kGap + 1, 1);
    const auto pens = screen.subspan(kGap + 1, 16);
    if (palette &&
        std::all_of(pens.begin(), pens.end(), [&](std::uint8_t b) { return b == pens[0]; }))
        return std::nullopt;
    return palette;
}

std::optional<Picture> CpcScreen(std::span<const std::uint8_t> data, unsigned mode,
                                 const CpcPalette* palette) {
    if (!IsCpcScreenSize(data.size()) || mode > 2)
        return std::nullopt;
    const unsigned pixelsPerByte = 2u << mode; // 2, 4, 8
    const unsigned repeat = mode == 0 ? 2 : 1;
    Picture picture = Blank(mode == 2 ? 640 : 320, 200);
    for (unsigned y = 0; y < 200; ++y) {
        const std::size_t line = (y % 8) * 2048 + (y / 8) * 80;
        for (unsigned column = 0; column < 80; ++column) {
            const std::uint8_t byte = line + column < data.size() ? data[line + column] : 0;
            for (unsigned pixel = 0; pixel < pixelsPerByte; ++pixel) {
                const unsigned pen = PenOf(byte, mode, pixel);
                const Rgb colour = CpcColour(palette ? palette->inks[pen] : kDefaultInks[pen]);
                for (unsigned r = 0; r < repeat; ++r)
                    Put(picture, (column * pixelsPerByte + pixel) * repeat + r, y, colour);
            }
        }
    }
    return picture;
}

Picture Enlarge(const Picture& picture, unsigned scale) {
    if (scale <= 1)
        return picture;
    Picture large = Blank(picture.width * scale, picture.height * scale);
    for (unsigned y = 0; y < large.height; ++y)
        for (unsigned x = 0; x < large.width; ++x) {
            const std::uint8_t* from = picture.rgb.data() + (std::size_t{y / scale} * picture.width + x / scale) * 3;
            Put(large, x, y, {from[0], from[1], from[2]});
        }
    return large;
}
