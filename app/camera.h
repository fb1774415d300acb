#pragma once
// The demo's cameras. A camera key is a translation and Euler angles, exactly
// the two arguments of eulerTranslation: view = Rz * Ry * Rx * T(t), so the eye
// sits at -t. The timeline blends two keys (tracks "cam_a", "cam_b", "cam_t");
// the free debug camera flies from the keyboard and wobbles with a smooth noise.

#include "math/random.h"
#include "math/vec.h"

#include <vector>

namespace lumo {

class SyncTrack;
class VarPile;

struct CameraKey {
    float tx = 0, ty = 0, tz = 0;
    float ax = 0, ay = 0, az = 0;

    vec4 translation() const { return {tx, ty, tz, 0.0f}; }
    vec4 angles() const { return {ax, ay, az, 0.0f}; }
};

// Process-wide: filled once at start-up, lives until the process ends.
extern std::vector<CameraKey> cameraKeys;

void addcam(const CameraKey& key);

// Appends the 23 fixed keys, in order.
void addDefaultCameraKeys();

// Integer choices from tracks: trunc(v + 0.5) in single precision. Values
// beyond the int range saturate instead of converting with undefined behaviour.
int roundChoice(float v);
// trunc(v) with the same saturation (counts and positions from tweak values).
int truncChoice(float v);

// The wobble added to the free camera: three noise tables sampled at different
// rates, scaled per axis by "camfloat_amp_x/y/z".
class CameraNoise {
public:
    static constexpr uint32_t kSeeds[3] = {4378543u, 28975834u, 12874u};
    static constexpr double kRates[3] = {1.0, 0.95, 1.23};

    // Builds the three tables in order (each restarts the shared generator).
    void build();
    // cameraFloat at time now; finite whatever "camfloat_speedfactor" is.
    vec4 cameraFloat(double now, VarPile& vars) const;

    NoiseTable tables[3];
};

// Blends key a and key b by t: translation and angles = b * t + a * (1 - t).
// Indices outside the key list are clamped to it.
mat44 keyframeView(int a, int b, float t);

// The keyframe camera at the frame's row.
mat44 keyframeView(const SyncTrack* camA, const SyncTrack* camB, const SyncTrack* camT, double row);

// The free camera: eulerTranslation(angles, position + noise).
mat44 freeView(const vec4& position, const vec4& angles, const vec4& noise);

} // namespace lumo
