#include "math/random.h"

namespace lumo {

uint32_t MersenneTwister32::state_[MersenneTwister32::N];
int MersenneTwister32::position_ = MersenneTwister32::N;
bool MersenneTwister32::seeded_ = false;

void MersenneTwister32::seed(uint32_t s) {
    state_[0] = s;
    for (int i = 1; i < N; ++i) {
        uint32_t prev = state_[i - 1];
        state_[i] = 1812433253u * (prev ^ (prev >> 30)) + uint32_t(i);
    }
    position_ = N;
    seeded_ = true;
}

void MersenneTwister32::regenerate() {
    for (int i = 0; i < N; ++i) {
        uint32_t y = (state_[i] & 0x80000000u) | (state_[(i + 1) % N] & 0x7fffffffu);
        uint32_t v = state_[(i + M) % N] ^ (y >> 1);
        if (y & 1u) {
            v ^= 0x9908b0dfu;
        }
        state_[i] = v;
    }
    position_ = 0;
}

uint32_t MersenneTwister32::nextInt() {
    if (!seeded_) {
        seed(5489u);
    }
    if (position_ >= N) {
        regenerate();
    }
    uint32_t y = state_[position_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

void buildNoiseTable(NoiseTable& table, uint32_t seed) {
    MersenneTwister generator(seed);
    for (float& e : table.entries) {
        e = float(generator.next());
    }
}

float sample(const NoiseTable& table, float u) {
    float x = u * 256.0f;
    // Truncating a float far outside the int range is undefined; such u has no
    // meaningful noise anyway, so it is held at the table's edge.
    if (!(x > -2147483520.0f && x < 2147483520.0f)) {
        x = 0.0f;
    }
    int i = int(x);
    float f = x - float(i);
    f = f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
    float s = f * f * (3.0f - 2.0f * f);
    uint32_t ui = uint32_t(i);
    return table.entries[ui & 255u] * (1.0f - s) + table.entries[(ui + 1u) & 255u] * s;
}

} // namespace lumo
