#pragma once
// Our own PNG decoder: file bytes in, 8-bit RGBA out (rows top to bottom, no
// padding) or a numbered error code. The zlib/DEFLATE inflater is our own too.
// No state is kept between calls.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumo {

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // width * height * 4: r, g, b, a
};

// Returns 0 on success; otherwise the error code, and image holds no pixels.
int32_t decodePng(const uint8_t* bytes, size_t byteCount, PngImage& image);

} // namespace lumo
