#pragma once
// 8-bit RGBA pictures (straight alpha, rows top to bottom) and their PNG files.

#include "tools/datagen/geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::datagen {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    Image() = default;
    Image(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
    uint8_t* at(int x, int y) { return &rgba[(size_t(y) * width + x) * 4]; }
};

// Writes an 8-bit RGBA PNG. Returns false with a message on failure.
bool writePng(const std::string& path, const Image& image);

// The star and nebula sky as a 3 x 2 atlas of cube faces, each `face` texels
// square; every texel is computed from its direction, so the faces meet
// without seams. Face order: +x, -x, +y (top row), -y, +z, -z (bottom row).
Image makeSky(int face);
// The direction the sky atlas stores at (s, t) in [-1, 1] of a face (t downwards).
V3 skyFaceDirection(int face, double s, double t);

// Small solid-colour texture (for glowing, unlit materials).
Image makeSolid(int size, uint8_t r, uint8_t g, uint8_t b);

} // namespace lumo::datagen
