#include "app/camera.h"

#include "app/timeline.h"
#include "params/track.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace lumo {

std::vector<CameraKey> defaultCameraKeys() {
    // Key 6's last angle is kept bit for bit as it was found with the free
    // camera: four units in the last place below the float nearest 2.8.
    const float key6z = std::bit_cast<float>(uint32_t(0x4033332F));
    return {
        {0, 0, 0, 0, 0, 0},
        {-52, -72, 60, 1, 0, 0.4f},
        {-52, -72, 300, 1, 0.5f, 0.7f},
        {-28, -72, 76, 1.3f, 0.2f, 0.7f},
        {-76, -56, 224, 1.3f, 0.2f, 2.2f},
        {-68, -104, 88, 1.3f, -0.5f, -1},
        {-8, -76, 340, 2.4f, 0.6f, key6z},
        {-88, -56, 84, 0, -1.2f, 0},
        {-88, -56, 312, 0, -1.2f, 0},
        {-32, -16, -20, 0, 0.2f, 0},
        {-64, -20, -12, 0.2f, -0.4f, 0.1f},
        {-24, -20, -12, 0.3f, 0.4f, -0.2f},
        {-32, -16, -24, 0, 0, 0},
        {0, 0, -48, 0, 0, 0},
        {-20, -40, -56, 0.6f, -0.4f, 0.1f},
        {0, -32, -168, 0, 0, 0},
        {-180, -200, -84, 0, -0.9f, 0},
        {-312, -300, -128, 0, -0.9f, 0},
        {-24, 0, -8, -0.7f, 0, 0.1f},
        {-84, -4, -8, -0.7f, -0.2f, -0.1f},
        {-48, -20, -16, 0.2f, -0.2f, 0},
        {-40, -8, -24, -0.3f, 0, 0.1f},
        {-24, -32, -12, -0.3f, 0, 0.1f},
    };
}

void CameraNoise::build() {
    for (int i = 0; i < 3; ++i) {
        buildNoiseTable(tables[i], kSeeds[i]);
    }
}

vec4 CameraNoise::cameraFloat(double now, float speedFactor, const vec4& amplitude) const {
    float t = float(now / double(speedFactor));
    float n[3];
    for (int i = 0; i < 3; ++i) {
        float u = float(double(t) * kRates[i]);
        n[i] = sample(tables[i], u) - 0.5f;
    }
    return {n[0] * amplitude.x, n[1] * amplitude.y, n[2] * amplitude.z, 0.0f};
}

mat44 keyframeView(std::span<const CameraKey> keys, int a, int b, float t) {
    if (keys.empty()) {
        return mat44::identity();
    }
    int last = int(keys.size()) - 1;
    const CameraKey& ka = keys[size_t(std::clamp(a, 0, last))];
    const CameraKey& kb = keys[size_t(std::clamp(b, 0, last))];
    if (&ka == &kb) {
        // One key blended with itself is that key, not a rounding of it.
        return eulerTranslation(ka.angles(), ka.translation());
    }
    float s = 1.0f - t;
    vec4 translation = kb.translation() * t + ka.translation() * s;
    vec4 angles = kb.angles() * t + ka.angles() * s;
    return eulerTranslation(angles, translation);
}

mat44 keyframeView(std::span<const CameraKey> keys, const SyncTrack* camA, const SyncTrack* camB,
                   const SyncTrack* camT, double row) {
    auto value = [row](const SyncTrack* track) { return track ? track->valueAt(row) : 0.0f; };
    return keyframeView(keys, roundChoice(value(camA)), roundChoice(value(camB)), value(camT));
}

mat44 freeView(const vec4& position, const vec4& angles, const vec4& noise) {
    return eulerTranslation(angles, position + noise);
}

} // namespace lumo
