#include "render/internal/shadowvolume.h"

#include "assets/mesh.h"
#include "render/internal/pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumo {

void ShadowBin::reserve(int count, int more) {
    const int needed = count + more;
    if (needed <= capacity()) {
        return;
    }
    AlignedVector<vec4> grown(size_t(std::max(needed, 2 * capacity())));
    if (count > 0) {
        std::memcpy(static_cast<void*>(grown.data()), vertices.data(),
                    size_t(count) * sizeof(vec4));
    }
    vertices = std::move(grown);
}

namespace {

// Signed distance to the clipping plane of outcode bit 1 << p; inside when >= 0.
inline float planeDistance(const vec4& v, int p) {
    switch (p) {
    case 0:
        return v.x + v.w;
    case 1:
        return v.w - v.x;
    case 2:
        return v.y + v.w;
    case 3:
        return v.w - v.y;
    default:
        return v.z + v.w;
    }
}

inline unsigned outcode(const vec4& v) {
    return unsigned(v.x + v.w < 0.0f) | unsigned(v.w - v.x < 0.0f) << 1 |
           unsigned(v.y + v.w < 0.0f) << 2 | unsigned(v.w - v.y < 0.0f) << 3 |
           unsigned(v.z + v.w < 0.0f) << 4;
}

inline vec4 toScreen(const vec4& v, const mat44& screen) {
    return screen.transform(vec4(v.x / v.w, v.y / v.w, v.z / v.w, 1.0f));
}

// Clips the polygon (n <= 4 vertices on entry) and appends it as a fan.
int clipAndEmitPolygon(vec4 (&polygon)[kShadowPolygonVertices], int n, const mat44& screen,
                       vec4* out) {
    unsigned all = ~0u, any = 0;
    for (int i = 0; i < n; ++i) {
        unsigned code = outcode(polygon[i]);
        all &= code;
        any |= code;
    }
    if (all != 0) {
        return 0;
    }
    vec4 buffer[kShadowPolygonVertices];
    vec4* in = polygon;
    vec4* result = buffer;
    for (int p = 0; p < 5 && any != 0; ++p) {
        if (!(any & (1u << p))) {
            continue;
        }
        int m = 0;
        for (int i = 0; i < n && m <= kShadowPolygonVertices - 2; ++i) {
            const vec4& a = in[i];
            const vec4& b = in[i + 1 == n ? 0 : i + 1];
            const float da = planeDistance(a, p);
            const float db = planeDistance(b, p);
            if (da >= 0.0f) {
                result[m++] = a;
            }
            if ((da >= 0.0f) != (db >= 0.0f)) {
                const float t = da / (da - db);
                result[m++] = a * (1.0f - t) + b * t;
            }
        }
        n = m;
        if (n == 0) {
            return 0;
        }
        std::swap(in, result);
    }
    if (n < 3) {
        return 0;
    }
    const vec4 first = toScreen(in[0], screen);
    vec4 previous = toScreen(in[1], screen);
    for (int i = 2; i < n; ++i) {
        const vec4 next = toScreen(in[i], screen);
        *out++ = first;
        *out++ = previous;
        *out++ = next;
        previous = next;
    }
    return n - 2;
}

} // namespace

int clipAndEmitTriangle(const vec4& a, const vec4& b, const vec4& c, const mat44& screen,
                        vec4* out) {
    vec4 polygon[kShadowPolygonVertices] = {a, b, c};
    return clipAndEmitPolygon(polygon, 3, screen, out);
}

int clipAndEmitQuad(const vec4& a, const vec4& b, const vec4& c, const vec4& d, const mat44& screen,
                    vec4* out) {
    vec4 polygon[kShadowPolygonVertices] = {a, b, c, d};
    return clipAndEmitPolygon(polygon, 4, screen, out);
}

int emitExtrudedEdge(const vec4& a, const vec4& b, const vec4& light, const Viewport& viewport,
                     vec4* out) {
    // Walked from A to B along the lit face, the quad A, B, B at infinity, A at
    // infinity would turn its front into the volume, against both caps, and a
    // ray that enters through a side and leaves through the far cap would count
    // 2 instead of 0 (a false shadow wherever the volume's far end is in view).
    // The quad is therefore wound B, A, A at infinity, B at infinity: outward.
    const mat44& projection = viewport.projection;
    return clipAndEmitQuad(projection.transform(b), projection.transform(a),
                           projection.transform(extrude(a, light)),
                           projection.transform(extrude(b, light)), viewport.screen, out);
}

int buildShadowVolumes(const MeshInstance& instance, const mat44& viewMatrix,
                       const Viewport& viewport, int threadIndex, int threadCount, ShadowBin& bin,
                       int& count, const vec4& lightViewPos) {
    if (!instance.firstVertex || !instance.meshes || instance.meshIndex < 0 ||
        instance.meshIndex >= instance.meshes->size() || threadCount <= 0 || threadIndex < 0) {
        return 0;
    }
    const Mesh& mesh = (*instance.meshes)[instance.meshIndex];
    mat44 inverse;
    if (!invert(viewMatrix * instance.world, inverse)) {
        return 0;
    }
    const vec4 lo = inverse.transform(lightViewPos);
    if (!std::isfinite(lo.x) || !std::isfinite(lo.y) || !std::isfinite(lo.z) ||
        !std::isfinite(lightViewPos.x) || !std::isfinite(lightViewPos.y) ||
        !std::isfinite(lightViewPos.z) || !std::isfinite(lightViewPos.w)) {
        return 0;
    }

    const PipelineVertex* vertices = instance.firstVertex;
    const int vertexTotal = std::clamp(mesh.vertexCount, 0, int(mesh.vertices.size()));
    const int faceTotal = std::clamp(mesh.faceCount, 0, int(mesh.faces.size()));
    const mat44& projection = viewport.projection;
    const mat44& screen = viewport.screen;
    const vec4& L = lightViewPos;
    int triangles = 0;

    for (int f = threadIndex; f < faceTotal; f += threadCount) {
        const MeshFace& face = mesh.faces[f];
        const int ia = face.vertexIndex[0], ib = face.vertexIndex[1], ic = face.vertexIndex[2];
        if (ia < 0 || ia >= vertexTotal || ib < 0 || ib >= vertexTotal || ic < 0 ||
            ic >= vertexTotal) {
            continue; // the pipeline drops such faces too
        }
        bin.reserve(count, kShadowFaceVertices);
        vec4* out = bin.vertices.data() + count;
        const vec4& a = vertices[ia].viewPos;
        const vec4& b = vertices[ib].viewPos;
        const vec4& c = vertices[ic].viewPos;

        // Facing values of the face (lane 0) and its neighbours across a->b,
        // b->c, c->a (lanes 1 to 3): positive when turned away from the light.
        const float* px = &face.planePointX.x;
        const float* py = &face.planePointY.x;
        const float* pz = &face.planePointZ.x;
        const float* nx = &face.planeNormalX.x;
        const float* ny = &face.planeNormalY.x;
        const float* nz = &face.planeNormalZ.x;
        float d[4];
        for (int k = 0; k < 4; ++k) {
            d[k] = (px[k] - lo.x) * nx[k] + (py[k] - lo.y) * ny[k] + (pz[k] - lo.z) * nz[k];
        }

        int n = 0;
        if (d[0] > 0.0f) {
            // Turned away from the light: part of the far cap at infinity.
            n = clipAndEmitTriangle(projection.transform(extrude(a, L)),
                                    projection.transform(extrude(b, L)),
                                    projection.transform(extrude(c, L)), screen, out);
        } else {
            // Looks at the light: its silhouette edges close the sides, and the
            // face itself is part of the near cap.
            const vec4* corners[4] = {&a, &b, &c, &a};
            for (int k = 0; k < 3; ++k) {
                if (d[k + 1] > 0.0f) {
                    n += emitExtrudedEdge(*corners[k], *corners[k + 1], L, viewport, out + 3 * n);
                }
            }
            n += clipAndEmitTriangle(projection.transform(a), projection.transform(b),
                                     projection.transform(c), screen, out + 3 * n);
        }
        count += 3 * n;
        triangles += n;
    }
    return triangles;
}

} // namespace lumo
