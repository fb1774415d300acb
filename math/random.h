#pragma once
// MT19937 with one state shared by every generator object, and the smooth 1-D
// value noise the camera jitter reads. The same seeds give the same pictures on
// every run and every machine.

#include <cstdint>

namespace lumo {

class MersenneTwister32 {
public:
    MersenneTwister32() = default;
    virtual ~MersenneTwister32() = default;

    // Restarts the shared state with the standard MT19937 initialisation.
    void seed(uint32_t s);
    // Next tempered 32-bit output of the shared state. Draws before any seed use
    // the reference default seed 5489, as MT19937 implementations customarily do.
    uint32_t nextInt();

private:
    static constexpr int N = 624;
    static constexpr int M = 397;
    static void regenerate();

    static uint32_t state_[N];
    static int position_;
    static bool seeded_;
};

class MersenneTwister : public MersenneTwister32 {
public:
    explicit MersenneTwister(uint32_t s) { seed(s); }
    // A double in [0, 1): nextInt * 2^-32, so 1.0 is never returned.
    double next() { return nextInt() * 2.3283064365386963e-10; }
};

struct NoiseTable {
    float entries[256] = {};
};

// Seeds the shared generator and fills the table with 256 draws in order.
void buildNoiseTable(NoiseTable& table, uint32_t seed);

// Smooth value noise with period 1 in u: a cubic blend of the two entries around
// u * 256. Negative u holds the entry at the truncated index (no blend).
float sample(const NoiseTable& table, float u);

} // namespace lumo
