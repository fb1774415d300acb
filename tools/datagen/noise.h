#pragma once
// Deterministic hashing and value noise for textures and shapes (no global state).

#include "tools/datagen/geometry.h"

#include <cstdint>

namespace lumo::datagen {

uint32_t hash3(int x, int y, int z);
// Smooth value noise in [0, 1] on the integer lattice, and its fractal sum.
double valueNoise(V3 p, uint32_t seed);
double fbm(V3 p, int octaves, uint32_t seed);

// A small linear congruential generator: the same numbers on every platform.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_;
    }
    double uniform() { return (next() >> 8) / 16777216.0; } // [0, 1)
    double signedUniform() { return uniform() * 2.0 - 1.0; }

private:
    uint32_t state_;
};

} // namespace lumo::datagen
