#pragma once
// Pictures out: an XRGB8888 canvas written as an 8-bit RGB PNG (libpng).

#include <cstdint>
#include <string>

namespace lumo {

// Writes width x height XRGB8888 pixels (red in bits 16-23), rows `stride`
// pixels apart, compressed at zlib `level` (0 none, 1 fastest ... 9 smallest;
// levels 0 to 3 filter every row with "up", the others let libpng choose).
// Returns false with a one-line reason in `error`.
bool writeXrgbPng(const std::string& path, const uint32_t* pixels, int width, int height,
                  int stride, std::string& error, int level = 6);

} // namespace lumo
