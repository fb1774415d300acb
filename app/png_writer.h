#pragma once
// Pictures out: an XRGB8888 canvas written as an 8-bit RGB PNG by our own encoder
// (assets/png_write.h).

#include <cstdint>
#include <string>

namespace lumo {

// Writes width x height XRGB8888 pixels (red in bits 16-23), rows `stride`
// pixels apart, compressed at `level` (0 none, 1 fastest ... 9 smallest; what
// each level does is in assets/deflate.h and assets/png_write.h). Returns false
// with a one-line reason in `error`, leaving no file at `path`.
bool writeXrgbPng(const std::string& path, const uint32_t* pixels, int width, int height,
                  int stride, std::string& error, int level = 6);

} // namespace lumo
