#include "Png.h"

#include "SharedLibrary.h"

#include <png.h>

// libpng is loaded when the first picture is made, not when the program
// starts: every other command starts as fast as it did without it.

namespace {

struct PngLibrary {
    decltype(&png_create_write_struct) createWrite = nullptr;
    decltype(&png_create_info_struct) createInfo = nullptr;
    decltype(&png_destroy_write_struct) destroyWrite = nullptr;
    decltype(&png_set_longjmp_fn) setLongjmp = nullptr;
    decltype(&png_set_write_fn) setWrite = nullptr;
    decltype(&png_set_IHDR) setHeader = nullptr;
    decltype(&png_write_info) writeInfo = nullptr;
    decltype(&png_write_row) writeRow = nullptr;
    decltype(&png_write_end) writeEnd = nullptr;
    decltype(&png_get_io_ptr) ioPointer = nullptr;
    decltype(&png_get_error_ptr) errorPointer = nullptr;
    decltype(&png_longjmp) jump = nullptr;
    bool loaded = false;
};

const PngLibrary& Library() {
    static const PngLibrary library = [] {
        PngLibrary png;
        void* module = OpenLibrary("libpng16.so.16");
        if (module == nullptr)
            return png;
        auto find = [module](auto& entry, const char* name) {
            return BindEntry(module, entry, name);
        };
        png.loaded = find(png.createWrite, "png_create_write_struct") &&
                     find(png.createInfo, "png_create_info_struct") &&
                     find(png.destroyWrite, "png_destroy_write_struct") &&
                     find(png.setLongjmp, "png_set_longjmp_fn") &&
                     find(png.setWrite, "png_set_write_fn") &&
                     find(png.setHeader, "png_set_IHDR") && find(png.writeInfo, "png_write_info") &&
                     find(png.writeRow, "png_write_row") && find(png.writeEnd, "png_write_end") &&
                     find(png.ioPointer, "png_get_io_ptr") &&
                     find(png.errorPointer, "png_get_error_ptr") && find(png.jump, "png_longjmp");
        return png;
    }();
    return library;
}

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::string error;
};

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<Sink*>(Library().ioPointer(png));
    sink->bytes.insert(sink->bytes.end(), data, data + size);
}

void Flush(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(Library().errorPointer(png));
    sink->error = message;
    Library().jump(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

} // namespace

std::vector<std::uint8_t> EncodePng(const Picture& picture, std::string& error) {
    const PngLibrary& lib = Library();
    if (!lib.loaded) {
        error = "libpng (libpng16.so.16) cannot be loaded";
        return {};
    }
    Sink sink;
    png_structp png = lib.createWrite(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    png_infop info = png != nullptr ? lib.createInfo(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        lib.destroyWrite(&png, nullptr);
        error = "out of memory";
        return {};
    }
    // libpng reports its errors by longjmp: nothing here may need a
    // destructor between setjmp and the end of the writing.
    if (setjmp(*lib.setLongjmp(png, longjmp, sizeof(jmp_buf)))) {
        lib.destroyWrite(&png, &info);
        error = sink.error.empty() ? "libpng failed" : sink.error;
        return {};
    }
    lib.setWrite(png, &sink, Append, Flush);
    lib.setHeader(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB,
                  PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    lib.writeInfo(png, info);
    for (unsigned y = 0; y < picture.height; ++y)
        lib.writeRow(png, picture.rgb.data() + std::size_t{y} * picture.width * 3);
    lib.writeEnd(png, nullptr);
    lib.destroyWrite(&png, &info);
    return std::move(sink.bytes);
}
