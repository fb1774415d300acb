#pragma once
// The demo's cameras. A camera key is a translation and Euler angles, exactly
// the two arguments of eulerTranslation: view = Rz * Ry * Rx * T(t), so the eye
// sits at -t. The timeline blends two keys (tracks "cam_a", "cam_b", "cam_t");
// the free debug camera flies from the keyboard and wobbles with a smooth noise
// whose speed and amplitudes are tweak variables.

#include "math/random.h"
#include "math/vec.h"

#include <span>
#include <vector>

namespace lumo {

class SyncTrack;

struct CameraKey {
    float tx = 0, ty = 0, tz = 0;
    float ax = 0, ay = 0, az = 0;

    vec4 translation() const { return {tx, ty, tz, 0.0f}; }
    vec4 angles() const { return {ax, ay, az, 0.0f}; }
};

// The 23 fixed keys, in order.
std::vector<CameraKey> defaultCameraKeys();

// The wobble added to the free camera: three noise tables sampled at different
// rates, scaled per axis by "camfloat_amp_x/y/z".
class CameraNoise {
public:
    static constexpr uint32_t kSeeds[3] = {4378543u, 28975834u, 12874u};
    static constexpr double kRates[3] = {1.0, 0.95, 1.23};

    // Builds the three tables in order (each restarts the shared generator).
    void build();
    // The wobble at time now: the tables read at now / speedFactor times their
    // rates, scaled by amplitude per axis; finite whatever speedFactor is.
    vec4 cameraFloat(double now, float speedFactor, const vec4& amplitude) const;

    NoiseTable tables[3];
};

// Blends key a and key b by t: translation and angles = b * t + a * (1 - t).
// Indices outside the key list are clamped to it; no keys is the identity.
mat44 keyframeView(std::span<const CameraKey> keys, int a, int b, float t);

// The keyframe camera at the frame's row: keys roundChoice(cam_a) and
// roundChoice(cam_b) blended by cam_t.
mat44 keyframeView(std::span<const CameraKey> keys, const SyncTrack* camA, const SyncTrack* camB,
                   const SyncTrack* camT, double row);

// The free camera: eulerTranslation(angles, position + noise).
mat44 freeView(const vec4& position, const vec4& angles, const vec4& noise);

} // namespace lumo
