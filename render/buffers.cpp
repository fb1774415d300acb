#include "render/buffers.h"

#include <algorithm>
#include <cstring>

namespace lumo {

namespace {

int clampSize(int v) {
    return std::clamp(v, 0, fixed::kMaxBufferSize);
}

} // namespace

RowRange tileRows(int rowBegin, int rowEnd, int tilesY) {
    // Bands are whole blocks of 8 rows; a partial block at either end is left alone.
    int begin = std::clamp((rowBegin + 7) & ~7, 0, tilesY * 8);
    int end = std::clamp(rowEnd & ~7, begin, tilesY * 8);
    return {begin, end};
}

DepthBuffer::DepthBuffer(int w, int h)
    : width(clampSize(w)), height(clampSize(h)), tilesX(width >> 3), tilesY(height >> 3),
      tileRowValues(tilesX * 8) {
    values = AlignedVector<int32_t>(size_t(tilesX) * tilesY * 64);
    tiles = AlignedVector<DepthTile>(size_t(tilesX) * tilesY);
    clearRows(0, tilesY * 8);
}

void DepthBuffer::clearRows(int rowBegin, int rowEnd) {
    RowRange r = tileRows(rowBegin, rowEnd, tilesY);
    std::fill(values.data() + size_t(r.begin) * tilesX * 8,
              values.data() + size_t(r.end) * tilesX * 8, fixed::kDepthCleared);
    std::fill(tiles.data() + size_t(r.begin / 8) * tilesX,
              tiles.data() + size_t(r.end / 8) * tilesX, DepthTile{});
}

StencilBuffer::StencilBuffer(int w, int h)
    : width(clampSize(w)), height(clampSize(h)), tilesX(width >> 3), tilesY(height >> 3) {
    data = AlignedVector<uint8_t>(size_t(tilesX) * tilesY * 64);
}

void StencilBuffer::clearRows(int rowBegin, int rowEnd) {
    RowRange r = tileRows(rowBegin, rowEnd, tilesY);
    std::memset(data.data() + size_t(r.begin) * tilesX * 8, 0,
                size_t(r.end - r.begin) * tilesX * 8);
}

ColorBuffer::ColorBuffer(int w, int h)
    : width(clampSize(w)), height(clampSize(h)), ownsData(true),
      storage_(size_t(clampSize(w)) * clampSize(h)) {
    pixels = storage_.data();
}

ColorBuffer::ColorBuffer(vec4* p, int w, int h) : pixels(p), width(w), height(h), ownsData(false) {}

ColorBuffer::~ColorBuffer() = default;

} // namespace lumo
