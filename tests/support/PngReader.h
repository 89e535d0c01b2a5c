#pragma once
// Reads a PNG file's pixels back (libpng's simplified API), for tests that
// check pictures pixel by pixel.

#include "Screens.h"

#include <png.h>

#include <cstring>
#include <vector>

// The picture as 8-bit RGB; width and height 0 when it cannot be read.
inline Picture DecodePng(const std::vector<unsigned char>& png) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size()))
        return picture;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        picture.width = image.width;
        picture.height = image.height;
    }
    return picture;
}
