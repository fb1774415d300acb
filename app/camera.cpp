#include "app/camera.h"

#include "params/track.h"
#include "params/varpile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace lumo {

std::vector<CameraKey> cameraKeys;

void addcam(const CameraKey& key) {
    cameraKeys.push_back(key);
}

void addDefaultCameraKeys() {
    // Key 6's last angle is kept bit for bit as it was found with the free
    // camera: four units in the last place below the float nearest 2.8.
    const float key6z = std::bit_cast<float>(uint32_t(0x4033332F));
    addcam({0, 0, 0, 0, 0, 0});
    addcam({-52, -72, 60, 1, 0, 0.4f});
    addcam({-52, -72, 300, 1, 0.5f, 0.7f});
    addcam({-28, -72, 76, 1.3f, 0.2f, 0.7f});
    addcam({-76, -56, 224, 1.3f, 0.2f, 2.2f});
    addcam({-68, -104, 88, 1.3f, -0.5f, -1});
    addcam({-8, -76, 340, 2.4f, 0.6f, key6z});
    addcam({-88, -56, 84, 0, -1.2f, 0});
    addcam({-88, -56, 312, 0, -1.2f, 0});
    addcam({-32, -16, -20, 0, 0.2f, 0});
    addcam({-64, -20, -12, 0.2f, -0.4f, 0.1f});
    addcam({-24, -20, -12, 0.3f, 0.4f, -0.2f});
    addcam({-32, -16, -24, 0, 0, 0});
    addcam({0, 0, -48, 0, 0, 0});
    addcam({-20, -40, -56, 0.6f, -0.4f, 0.1f});
    addcam({0, -32, -168, 0, 0, 0});
    addcam({-180, -200, -84, 0, -0.9f, 0});
    addcam({-312, -300, -128, 0, -0.9f, 0});
    addcam({-24, 0, -8, -0.7f, 0, 0.1f});
    addcam({-84, -4, -8, -0.7f, -0.2f, -0.1f});
    addcam({-48, -20, -16, 0.2f, -0.2f, 0});
    addcam({-40, -8, -24, -0.3f, 0, 0.1f});
    addcam({-24, -32, -12, -0.3f, 0, 0.1f});
}

int truncChoice(float v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= 2147483520.0f) {
        return 2147483647;
    }
    if (v <= -2147483520.0f) {
        return -2147483647 - 1;
    }
    return int(v);
}

int roundChoice(float v) {
    return truncChoice(v + 0.5f);
}

void CameraNoise::build() {
    for (int i = 0; i < 3; ++i) {
        buildNoiseTable(tables[i], kSeeds[i]);
    }
}

vec4 CameraNoise::cameraFloat(double now, VarPile& vars) const {
    float t = float(now / double(vars.get("camfloat_speedfactor")));
    float n[3];
    for (int i = 0; i < 3; ++i) {
        float u = float(double(t) * kRates[i]);
        n[i] = sample(tables[i], u) - 0.5f;
    }
    return {n[0] * vars.get("camfloat_amp_x"), n[1] * vars.get("camfloat_amp_y"),
            n[2] * vars.get("camfloat_amp_z"), 0.0f};
}

mat44 keyframeView(int a, int b, float t) {
    if (cameraKeys.empty()) {
        return mat44::identity();
    }
    int last = int(cameraKeys.size()) - 1;
    const CameraKey& ka = cameraKeys[std::clamp(a, 0, last)];
    const CameraKey& kb = cameraKeys[std::clamp(b, 0, last)];
    if (&ka == &kb) {
        // One key blended with itself is that key, not a rounding of it.
        return eulerTranslation(ka.angles(), ka.translation());
    }
    float s = 1.0f - t;
    vec4 translation = kb.translation() * t + ka.translation() * s;
    vec4 angles = kb.angles() * t + ka.angles() * s;
    return eulerTranslation(angles, translation);
}

mat44 keyframeView(const SyncTrack* camA, const SyncTrack* camB, const SyncTrack* camT,
                   double row) {
    auto value = [row](const SyncTrack* track) { return track ? track->valueAt(row) : 0.0f; };
    return keyframeView(roundChoice(value(camA)), roundChoice(value(camB)), value(camT));
}

mat44 freeView(const vec4& position, const vec4& angles, const vec4& noise) {
    return eulerTranslation(angles, position + noise);
}

} // namespace lumo
