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

// Images above this many pixels are refused (error 90), so that no buffer size can overflow:
// 16-bit RGBA data of the largest image, filter bytes included, stays below 2^32 bytes.
constexpr uint64_t kPngMaxPixels = uint64_t{1} << 28;

// Returns 0 on success; otherwise the error code, and image holds no pixels.
//
// Codes 10 to 69 cover malformed files and compressed data; these conditions, which the
// decoder refuses so that no read or size goes out of bounds, have codes of their own:
//   90  width x height above kPngMaxPixels
//   91  width or height is 0
//   92  the IHDR chunk's length is not 13
//   93  a PLTE chunk whose length is not a multiple of 3
//   94  a back-reference reaching before the start of the decompressed data
//   95  a literal/length symbol of 286 or 287
//   96  a code-length repeat (16) with no previous length to repeat
//   97  the decompressed data is not exactly the size the image needs (too little or too much)
int32_t decodePng(const uint8_t* bytes, size_t byteCount, PngImage& image);

} // namespace lumo
