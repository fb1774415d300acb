#include "app/png_writer.h"

#include "assets/png_write.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace lumo {

namespace {

// XRGB8888 to three bytes a pixel. A capture converts every frame, so on a little-endian
// machine each pixel is one four-byte store whose spare byte the next pixel overwrites.
void toRgb(const uint32_t* source, int width, uint8_t* out) {
    int x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; x + 1 < width; ++x) {
            const uint32_t v = source[x];
            const uint32_t rgb = (v >> 16 & 0xff) | (v & 0xff00) | (v & 0xff) << 16;
            std::memcpy(out + size_t(x) * 3, &rgb, 4);
        }
    }
    for (; x < width; ++x) {
        out[size_t(x) * 3 + 0] = uint8_t(source[x] >> 16);
        out[size_t(x) * 3 + 1] = uint8_t(source[x] >> 8);
        out[size_t(x) * 3 + 2] = uint8_t(source[x]);
    }
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
    // Each row becomes red, green, blue bytes in the encoder's scratch row.
    const PngRows rows{uint32_t(width), uint32_t(height), PngColor::Rgb,
                       [&](uint32_t y, uint8_t* scratch) {
                           toRgb(pixels + size_t(y) * size_t(stride), width, scratch);
                           return static_cast<const uint8_t*>(scratch);
                       }};
    return savePng(path, rows, level, error);
}

} // namespace lumo
