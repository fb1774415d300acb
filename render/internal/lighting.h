#pragma once
// Point lights and the lighting model: inverse-square falloff, a clamped Lambert
// term and a half-vector specular term raised to the shininess by a bit-level
// power approximation. Positions are in camera space (the eye at the origin);
// every dot product and length runs over all four components, so positions
// carry w = 1 and normals w = 0.

#include "math/vec.h"
#include "render/scene.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <xmmintrin.h>

namespace lumo {

struct LightResult {
    vec4 diffuse;
    vec4 specular;
};

// Componentwise product and quotient, four lanes at once (each lane rounds
// exactly as the scalar operation would).
inline vec4 mul(const vec4& a, const vec4& b) {
    vec4 r;
    _mm_store_ps(&r.x, _mm_mul_ps(_mm_load_ps(&a.x), _mm_load_ps(&b.x)));
    return r;
}

inline vec4 divide(const vec4& a, float s) {
    vec4 r;
    _mm_store_ps(&r.x, _mm_div_ps(_mm_load_ps(&a.x), _mm_set1_ps(s)));
    return r;
}

inline float clamp01(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}

// x^s through the exponent bits of a double: move the high word's distance from
// that of 1.0 (less a tuned offset) by the factor s. Not exact (it exceeds 1
// near x = 1); 0 where the scaled word leaves the 32-bit range, as for x = 0.
inline float powApprox(float x, float s) {
    double xd = x;
    uint64_t bits;
    std::memcpy(&bits, &xd, sizeof bits);
    int32_t hi = int32_t(uint32_t(bits >> 32));
    int32_t offset = int32_t(uint32_t(hi) - 1072632447u);
    double t = double(offset) * double(s) + 1072632447.0;
    if (!(t > -2147483649.0 && t < 2147483648.0)) {
        return 0.0f;
    }
    uint64_t out = uint64_t(uint32_t(int32_t(t))) << 32;
    double r;
    std::memcpy(&r, &out, sizeof r);
    return float(r);
}

// Diffuse and specular of one light at point p with unit normal n. A light with
// no diffuse intensity contributes nothing at all, not even specular.
inline LightResult lightVertex(const Light& light, const vec4& p, const vec4& n, float shininess) {
    LightResult r;
    if (light.diffuse <= 0.0f) {
        return r;
    }
    vec4 l = light.viewPos - p;
    float d = std::sqrt(dot(l, l));
    vec4 lHat = divide(l, d);
    float d2 = d * d;
    float k = clamp01(dot(n, lHat));
    r.diffuse = divide(light.color * light.diffuse, d2) * k;
    if (light.specular > 0.0f) {
        vec4 vHat = normalize(vec4(0.0f, 0.0f, 0.0f, 1.0f) - p);
        vec4 hHat = normalize(vHat + lHat);
        float h = clamp01(dot(hHat, n));
        r.specular = divide(light.specularColor * powApprox(h, shininess) * light.specular, d2);
    }
    return r;
}

} // namespace lumo
