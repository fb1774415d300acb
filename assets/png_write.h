#pragma once
// Our own PNG encoder: 8-bit RGB or RGBA rows in, a PNG file out (signature, IHDR, the
// compressed rows in IDAT chunks, IEND). The zlib/DEFLATE compressor is our own too
// (assets/deflate.h) and the levels are its levels. Row filters: none at level 0, "up" on
// every row at 1 to 3, and from 4 each row's filter is the one whose bytes, taken as signed
// values, add up to the least magnitude. The file depends on the pixels and the level only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumo {

// The PNG colour type of each layout: 3 or 4 bytes a pixel, in this order.
enum class PngColor : uint8_t { Rgb = 2, Rgba = 6 };

struct PngRows {
    uint32_t width = 0;
    uint32_t height = 0;
    PngColor color = PngColor::Rgba;
    // Row y's width * channels bytes: a pointer into the caller's pixels, or `scratch` (room for
    // one row) after filling it. Rows are asked for once each, top to bottom.
    std::function<const uint8_t*(uint32_t y, uint8_t* scratch)> row;
};

// Rows of a tightly packed buffer (width * channels bytes a row, top to bottom).
PngRows packedRows(const uint8_t* pixels, uint32_t width, uint32_t height, PngColor color);

// The file for rows at `level` (0 none ... 9 smallest). Fails, with a one-line reason in error,
// only for an empty picture or one above kPngMaxPixels (assets/png.h), which the decoder
// would refuse.
bool encodePng(const PngRows& rows, int level, std::vector<uint8_t>& file, std::string& error);

// encodePng, then the file written to path. On failure returns false with a one-line reason
// and leaves no file at path.
bool savePng(const std::string& path, const PngRows& rows, int level, std::string& error);

// The running CRC-32 of PNG chunks (start with 0).
uint32_t updateCrc32(uint32_t crc, const uint8_t* data, size_t size);

} // namespace lumo
