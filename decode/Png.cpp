#include "Png.h"

#include <png.h>

namespace {

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::string error;
};

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    sink->bytes.insert(sink->bytes.end(), data, data + size);
}

void Flush(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    sink->error = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

} // namespace

std::vector<std::uint8_t> EncodePng(const Picture& picture, std::string& error) {
    Sink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory";
        return {};
    }
    // libpng reports its errors by longjmp: nothing here may need a
    // destructor between setjmp and the end of the writing.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = sink.error.empty() ? "libpng failed" : sink.error;
        return {};
    }
    png_set_write_fn(png, &sink, Append, Flush);
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned y = 0; y < picture.height; ++y)
        png_write_row(png, picture.rgb.data() + std::size_t{y} * picture.width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::move(sink.bytes);
}
