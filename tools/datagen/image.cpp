#include "tools/datagen/image.h"

#include "assets/png_write.h"
#include "tools/datagen/noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumo::datagen {

bool writePng(const std::string& path, const Image& image) {
    // Level 6, as before: the textures are small, so a faster level would save little time.
    constexpr int kLevel = 6;
    std::string error;
    const PngRows rows = packedRows(image.rgba.data(), uint32_t(image.width),
                                    uint32_t(image.height), PngColor::Rgba);
    if (!savePng(path, rows, kLevel, error)) {
        std::fprintf(stderr, "datagen: cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

namespace {

// Direction of texel (s, t) in [-1, 1] of cube face f; t grows downwards.
V3 faceDirection(int f, double s, double t) {
    switch (f) {
    case 0:
        return {1, -t, -s};
    case 1:
        return {-1, -t, s};
    case 2:
        return {s, 1, t};
    case 3:
        return {s, -1, -t};
    case 4:
        return {s, -t, 1};
    default:
        return {-s, -t, -1};
    }
}

} // namespace

V3 skyFaceDirection(int face, double s, double t) {
    return faceDirection(face, s, t);
}

Image makeSky(int face) {
    Image img(face * 3, face * 2);
    for (int f = 0; f < 6; ++f) {
        int ox = (f % 3) * face, oy = (f / 3) * face;
        for (int py = 0; py < face; ++py) {
            for (int px = 0; px < face; ++px) {
                double s = (px + 0.5) / face * 2.0 - 1.0;
                double t = (py + 0.5) / face * 2.0 - 1.0;
                V3 d = normalized(faceDirection(f, s, t));
                // Nebula: two coloured layers of fractal noise, brightest in a band.
                double n1 = fbm(d * 2.2, 5, 11);
                double n2 = fbm(d * 3.1 + V3{5.2, 1.3, 7.7}, 5, 23);
                double band = std::exp(-std::pow((d.y * 0.8 + d.x * 0.45) * 2.2, 2.0));
                double cloud = std::clamp((n1 - 0.42) * 2.4, 0.0, 1.0) * (0.35 + 0.65 * band);
                double wisp = std::clamp((n2 - 0.5) * 3.0, 0.0, 1.0) * band;
                double r = 0.02 + cloud * 0.55 + wisp * 0.20;
                double g = 0.015 + cloud * 0.12 + wisp * 0.35;
                double b = 0.05 + cloud * 0.45 + wisp * 0.45;
                // Stars: a hashed subset of texels, denser inside the band.
                uint32_t h = hash3(px + ox * 7919, py + oy * 104729, f * 31337);
                double u = (h & 0xffff) / 65536.0;
                if (u < 0.004 + 0.008 * band) {
                    double bright = 0.4 + 0.6 * ((h >> 16) & 0xff) / 255.0;
                    double tint = ((h >> 24) & 0xff) / 255.0;
                    r += bright * (0.85 + 0.15 * tint);
                    g += bright * 0.9;
                    b += bright * (1.0 - 0.2 * tint);
                }
                uint8_t* p = img.at(ox + px, oy + py);
                p[0] = uint8_t(std::lround(std::clamp(r, 0.0, 1.0) * 255.0));
                p[1] = uint8_t(std::lround(std::clamp(g, 0.0, 1.0) * 255.0));
                p[2] = uint8_t(std::lround(std::clamp(b, 0.0, 1.0) * 255.0));
                p[3] = 255;
            }
        }
    }
    return img;
}

Image makeSolid(int size, uint8_t r, uint8_t g, uint8_t b) {
    Image img(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
            p[3] = 255;
        }
    }
    return img;
}

} // namespace lumo::datagen
