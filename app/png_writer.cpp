#include "app/png_writer.h"

#include "assets/png_write.h"

#include <cstddef>

namespace lumo {

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
                           const uint32_t* source = pixels + size_t(y) * size_t(stride);
                           for (int x = 0; x < width; ++x) {
                               scratch[size_t(x) * 3 + 0] = uint8_t(source[x] >> 16);
                               scratch[size_t(x) * 3 + 1] = uint8_t(source[x] >> 8);
                               scratch[size_t(x) * 3 + 2] = uint8_t(source[x]);
                           }
                           return static_cast<const uint8_t*>(scratch);
                       }};
    return savePng(path, rows, level, error);
}

} // namespace lumo
