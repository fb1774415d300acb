#include "math/viewport.h"

#include "sys/log.h"

#include <cmath>

namespace lumo {

Viewport::Viewport(int w, int h, float aspect_) {
    for (Plane& p : planes) {
        p = Plane{};
    }
    width = float(w);
    height = float(h);
    fovDegrees = 30.0f;
    aspect = aspect_;
    nearPlane = 0.1f;
    farPlane = 10000.0f;

    float top = 0.1f * float(std::tan(0.523598775));
    float bottom = -top;
    float right = top * aspect;
    float left = bottom * aspect;

    projection = mat44{};
    projection.m[0] = 0.2f / (right - left);
    projection.m[5] = 0.2f / (top - bottom);
    projection.m[8] = (right + left) / (right - left);
    projection.m[9] = (top + bottom) / (top - bottom);
    projection.m[10] = -1.0f;
    projection.m[11] = -1.0f;
    projection.m[14] = -0.2f;
    printMatrix(projection);

    const float* m = projection.m;
    auto row = [m](int i) { return vec4(m[i], m[4 + i], m[8 + i], m[12 + i]); };
    const vec4 raw[6] = {row(3) + row(0), row(3) - row(0), row(3) - row(1),
                         row(3) + row(1), row(3) + row(2), row(3) - row(2)};
    for (int i = 0; i < 6; ++i) {
        const vec4& r = raw[i];
        float lengthSquared = r.x * r.x + r.y * r.y + r.z * r.z;
        if (lengthSquared > 0.0f) {
            float k = 1.0f / std::sqrt(lengthSquared);
            planes[i].n = vec4(r.x * k, r.y * k, r.z * k, 0.0f);
            planes[i].d = r.w * k;
        } else {
            // The far plane of an infinite projection has no normal: its raw form
            // (0, 0, 0, 0.2) puts every point inside, and is kept as it is rather
            // than divided by a zero length.
            planes[i].n = vec4(0.0f, 0.0f, 0.0f, 0.0f);
            planes[i].d = r.w;
        }
        logPrintf("plane %d: D(%11.4f), N:", i, planes[i].d);
        logPrintf("(%10.4f,%10.4f,%10.4f,%10.4f)\n", planes[i].n.x, planes[i].n.y, planes[i].n.z,
                  planes[i].n.w);
    }

    screen = mat44{};
    screen.m[0] = width * 0.5f;
    screen.m[5] = height * -0.5f;
    screen.m[10] = 1.0f;
    screen.m[12] = width * 0.5f;
    screen.m[13] = height * 0.5f;
    screen.m[15] = 1.0f;
}

} // namespace lumo
