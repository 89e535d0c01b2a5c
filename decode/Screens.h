#pragma once
// Screen memory as pictures: the ZX Spectrum's SCREEN$ and the Amstrad
// CPC's 16K screen.

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

// 256 x 192 from 6912 bytes (bitmap and attributes), or from the 6144 bytes
// of a bitmap alone (black on white); nothing for any other size.
std::optional<Picture> SpectrumScreen(std::span<const std::uint8_t> data);
// From 16384 bytes in mode 0 (160 x 200, each pixel drawn twice across to
// keep the shape), 1 (320 x 200) or 2 (640 x 200), with the firmware's
// inks at power-on; nothing for any other size or mode.
std::optional<Picture> CpcScreen(std::span<const std::uint8_t> data, unsigned mode);
// Each pixel drawn as a `scale` x `scale` square.
Picture Enlarge(const Picture& picture, unsigned scale);
