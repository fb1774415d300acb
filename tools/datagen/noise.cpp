#include "tools/datagen/noise.h"

#include <cmath>

namespace lumo::datagen {

uint32_t hash3(int x, int y, int z) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ uint32_t(z) * 0xcb1ab31fu;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return h;
}

double valueNoise(V3 p, uint32_t seed) {
    double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    int ix = int(fx), iy = int(fy), iz = int(fz);
    double tx = p.x - fx, ty = p.y - fy, tz = p.z - fz;
    auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
    tx = smooth(tx);
    ty = smooth(ty);
    tz = smooth(tz);
    auto v = [&](int dx, int dy, int dz) {
        return (hash3(ix + dx, iy + dy, iz + dz + int(seed * 977u)) & 0xffffff) / 16777215.0;
    };
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    double x00 = lerp(v(0, 0, 0), v(1, 0, 0), tx), x10 = lerp(v(0, 1, 0), v(1, 1, 0), tx);
    double x01 = lerp(v(0, 0, 1), v(1, 0, 1), tx), x11 = lerp(v(0, 1, 1), v(1, 1, 1), tx);
    return lerp(lerp(x00, x10, ty), lerp(x01, x11, ty), tz);
}

double fbm(V3 p, int octaves, uint32_t seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += valueNoise(p, seed + uint32_t(o)) * amp;
        norm += amp;
        amp *= 0.5;
        p = p * 2.03;
    }
    return sum / norm;
}

} // namespace lumo::datagen
