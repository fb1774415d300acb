#include "app/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lumo {

namespace {

constexpr int kFastestFilterLevel = 3;

void onPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// libpng reports failures by longjmp, so everything with a destructor lives
// outside this function.
bool encode(FILE* file, const uint32_t* pixels, int width, int height, int stride, int level,
            std::vector<uint8_t>& row, std::string& error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, onPngWarning);
    if (!png) {
        error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    // libpng tries every row filter on every row, which at the fast levels costs
    // as much as the compression; "up" alone keeps the files as small there.
    if (level <= kFastestFilterLevel) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const uint32_t* source = pixels + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x) {
            row[size_t(x) * 3 + 0] = uint8_t(source[x] >> 16);
            row[size_t(x) * 3 + 1] = uint8_t(source[x] >> 8);
            row[size_t(x) * 3 + 2] = uint8_t(source[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writeXrgbPng(const std::string& path, const uint32_t* pixels, int width, int height,
                  int stride, std::string& error, int level) {
    if (width <= 0 || height <= 0 || stride < width) {
        error = "empty picture";
        return false;
    }
    if (level < 0 || level > 9) {
        error = "compression level " + std::to_string(level) + " is not one of 0 to 9";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> row(size_t(width) * 3);
    bool ok = encode(file, pixels, width, height, stride, level, row, error);
    if (std::fflush(file) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        std::remove(path.c_str());
    }
    return ok;
}

} // namespace lumo
