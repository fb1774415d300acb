#pragma once
// The render targets. Depth values and stencil counts are stored in 8 x 8 tiles:
// pixel (x, y) lives at ((y / 8) * tilesX + x / 8) * 64 + (y % 8) * 8 + x % 8, so
// a tile's 64 entries are contiguous and a band of whole tile rows is one
// contiguous range. The colour buffer is plain row-major, four floats a pixel.
// Only whole 8 x 8 tiles are stored: rows and columns beyond the last whole tile
// are never drawn.

#include "math/vec.h"
#include "render/fixed.h"
#include "sys/aligned.h"

#include <cstdint>

namespace lumo {

struct DepthTile {
    int32_t minDepth = fixed::kDepthCleared;
    int32_t maxDepth = fixed::kDepthCleared;
};

inline int tiledIndex(int tilesX, int x, int y) {
    return ((y >> 3) * tilesX + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
}

struct DepthBuffer {
    AlignedVector<int32_t> values;
    AlignedVector<DepthTile> tiles;
    int width = 0, height = 0;
    int tilesX = 0, tilesY = 0, tileRowValues = 0;

    // Sizes are clamped to [0, 4096]; the buffer starts cleared.
    DepthBuffer(int width, int height);

    // Resets rows [rowBegin, rowEnd) (whole tile rows) and their tile bounds.
    void clearRows(int rowBegin, int rowEnd);
    int32_t at(int x, int y) const { return values[tiledIndex(tilesX, x, y)]; }
};

struct StencilBuffer {
    AlignedVector<uint8_t> data;
    int width = 0, height = 0;
    int tilesX = 0, tilesY = 0;

    StencilBuffer(int width, int height);
    void clearRows(int rowBegin, int rowEnd);
    uint8_t at(int x, int y) const { return data[tiledIndex(tilesX, x, y)]; }
};

struct ColorBuffer {
    vec4* pixels = nullptr;
    int width = 0, height = 0;
    bool ownsData = false;

    ColorBuffer(int width, int height);               // owned, zero-filled
    ColorBuffer(vec4* pixels, int width, int height); // wraps caller memory
    ~ColorBuffer();
    ColorBuffer(const ColorBuffer&) = delete;
    ColorBuffer& operator=(const ColorBuffer&) = delete;

    vec4& at(int x, int y) { return pixels[y * width + x]; }
    const vec4& at(int x, int y) const { return pixels[y * width + x]; }

private:
    AlignedVector<vec4> storage_;
};

// The output picture: XRGB8888 words, red in bits 16-23, the resolved fourth
// channel in bits 24-31. Not owned: it is the display's frame memory.
struct Canvas {
    uint32_t* pixels = nullptr;
    int width = 0; // also the row stride in pixels
    int height = 0;
};

// A size rounded up to whole 8-pixel tiles: buffers of wholeTiles(w) x
// wholeTiles(h) hold every pixel of a w x h picture.
constexpr int wholeTiles(int pixels) {
    return (pixels + 7) & ~7;
}

// Row range [rowBegin, rowEnd) cut down to the whole tile rows of a buffer.
struct RowRange {
    int begin, end;
};
RowRange tileRows(int rowBegin, int rowEnd, int tilesY);

} // namespace lumo
