#include "render/internal/pipeline.h"

#include "assets/texture.h"
#include "render/internal/geometry_lanes.h"
#include "render/simd.h"
#include "sys/log.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <xmmintrin.h>

namespace lumo {

namespace {

// The matrix's columns in registers: M * p as ((c0 x + c1 y) + c2 z) + c3 w per
// lane, the same products and additions in the same order as mat44::transform,
// so the results are identical.
struct Columns {
    __m128 c0, c1, c2, c3;
    explicit Columns(const mat44& m)
        : c0(_mm_load_ps(m.m)), c1(_mm_load_ps(m.m + 4)), c2(_mm_load_ps(m.m + 8)),
          c3(_mm_load_ps(m.m + 12)) {}

    __m128 xyz(const vec4& p) const {
        __m128 r = _mm_add_ps(_mm_mul_ps(c0, _mm_set1_ps(p.x)), _mm_mul_ps(c1, _mm_set1_ps(p.y)));
        return _mm_add_ps(r, _mm_mul_ps(c2, _mm_set1_ps(p.z)));
    }
    __m128 pointLanes(const vec4& p) const {
        return _mm_add_ps(xyz(p), _mm_mul_ps(c3, _mm_set1_ps(p.w)));
    }
    vec4 point(const vec4& p) const {
        vec4 r;
        _mm_store_ps(&r.x, pointLanes(p));
        return r;
    }
    // The upper 3 x 3 block; w = 0.
    vec4 direction(const vec4& d) const {
        vec4 r;
        _mm_store_ps(&r.x, xyz(d));
        r.w = 0.0f;
        return r;
    }
};

// Four vectors at a time, one per lane, in structure-of-arrays form. Every lane
// runs the operations of the one-vector expressions (Columns::direction,
// normalize, dot, Plane::distance) in their order, so the results are
// identical to them, NaN and infinity included.
struct Quad {
    __m128 x, y, z, w;
    Quad() = default;
    explicit Quad(const vec4 v[4])
        : Quad(fromRows(_mm_load_ps(&v[0].x), _mm_load_ps(&v[1].x), _mm_load_ps(&v[2].x),
                        _mm_load_ps(&v[3].x))) {}
    Quad(__m128 x_, __m128 y_, __m128 z_, __m128 w_) : x(x_), y(y_), z(z_), w(w_) {}
    // Lane j from row j.
    static Quad fromRows(__m128 a, __m128 b, __m128 c, __m128 d) {
        _MM_TRANSPOSE4_PS(a, b, c, d);
        return Quad(a, b, c, d);
    }
    // Row j from lane j. Whole registers go to memory: staging the lanes
    // through a vec4 array made the loads after it wait on the stores.
    void rows(__m128 out[4]) const {
        __m128 a = x, b = y, c = z, d = w;
        _MM_TRANSPOSE4_PS(a, b, c, d);
        out[0] = a;
        out[1] = b;
        out[2] = c;
        out[3] = d;
    }
    void store(vec4 v[4]) const {
        __m128 r[4];
        rows(r);
        for (int j = 0; j < 4; ++j) {
            _mm_store_ps(&v[j].x, r[j]);
        }
    }
};

inline __m128 dot4(const Quad& a, const Quad& b) {
    return _mm_add_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, b.x), _mm_mul_ps(a.y, b.y)), _mm_mul_ps(a.z, b.z)),
        _mm_mul_ps(a.w, b.w));
}

// M * p for four points, one per lane: each lane runs Columns::point's
// products and additions in its order, so the results are identical to it.
struct PointLanes {
    __m128 m[16];
    explicit PointLanes(const mat44& matrix) {
        for (int i = 0; i < 16; ++i) {
            m[i] = _mm_set1_ps(matrix.m[i]);
        }
    }
    Quad operator()(const Quad& p) const {
        auto row = [&](int r) {
            __m128 v = _mm_add_ps(_mm_mul_ps(m[r], p.x), _mm_mul_ps(m[4 + r], p.y));
            v = _mm_add_ps(v, _mm_mul_ps(m[8 + r], p.z));
            return _mm_add_ps(v, _mm_mul_ps(m[12 + r], p.w));
        };
        return Quad(row(0), row(1), row(2), row(3));
    }
};

// normalize(M * d) over the upper 3 x 3 block of M, w = 0, for four directions.
struct UnitDirections {
    __m128 m0, m1, m2, m4, m5, m6, m8, m9, m10;
    explicit UnitDirections(const mat44& m)
        : m0(_mm_set1_ps(m.m[0])), m1(_mm_set1_ps(m.m[1])), m2(_mm_set1_ps(m.m[2])),
          m4(_mm_set1_ps(m.m[4])), m5(_mm_set1_ps(m.m[5])), m6(_mm_set1_ps(m.m[6])),
          m8(_mm_set1_ps(m.m[8])), m9(_mm_set1_ps(m.m[9])), m10(_mm_set1_ps(m.m[10])) {}

    Quad operator()(const Quad& d) const {
        const Quad t(
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(m0, d.x), _mm_mul_ps(m4, d.y)), _mm_mul_ps(m8, d.z)),
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(m1, d.x), _mm_mul_ps(m5, d.y)), _mm_mul_ps(m9, d.z)),
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(m2, d.x), _mm_mul_ps(m6, d.y)), _mm_mul_ps(m10, d.z)),
            _mm_setzero_ps());
        const __m128 k = _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(dot4(t, t)));
        return Quad(_mm_mul_ps(t.x, k), _mm_mul_ps(t.y, k), _mm_mul_ps(t.z, k), _mm_mul_ps(t.w, k));
    }
};

// Bit p of lane j set when point j lies outside clipping plane p (left to near).
struct Outcodes {
    Quad normals[kClipPlanes];
    __m128 d[kClipPlanes];
    explicit Outcodes(const Viewport& viewport) {
        for (int p = 0; p < kClipPlanes; ++p) {
            const Plane& plane = viewport.planes[p];
            normals[p] = Quad(_mm_set1_ps(plane.n.x), _mm_set1_ps(plane.n.y),
                              _mm_set1_ps(plane.n.z), _mm_set1_ps(plane.n.w));
            d[p] = _mm_set1_ps(plane.d);
        }
    }

    void operator()(const Quad& points, uint8_t out[4]) const {
        uint32_t codes = 0; // byte j: the code of lane j
        for (int p = 0; p < kClipPlanes; ++p) {
            const __m128 distance = _mm_add_ps(dot4(normals[p], points), d[p]);
            const uint32_t outside =
                uint32_t(_mm_movemask_ps(_mm_cmplt_ps(distance, _mm_setzero_ps())));
            // Bit j of the mask to bit 0 of byte j: the four shifted copies
            // do not overlap, so the product carries nothing.
            codes |= ((outside * 0x00204081u) & 0x01010101u) << p;
        }
        for (int j = 0; j < 4; ++j) {
            out[j] = uint8_t(codes >> (8 * j));
        }
    }
};

} // namespace

MeshInstance::MeshInstance(int meshIndex_, MeshStore* meshes_)
    : meshIndex(meshIndex_), meshes(meshes_) {}

MeshInstance MeshInstance::placeInstance(MeshStore* meshes, const std::string& meshName,
                                         float scale, const vec4& position, const vec4& angles) {
    return placed(meshes ? meshes->find(meshName) : 0, meshes, scale, position, angles);
}

MeshInstance MeshInstance::placed(int meshIndex, MeshStore* meshes, float scale,
                                  const vec4& position, const vec4& angles) {
    MeshInstance instance(meshIndex, meshes);
    instance.scale = scale;
    instance.placement.m[12] = position.x;
    instance.placement.m[13] = position.y;
    instance.placement.m[14] = position.z;
    instance.placement.m[15] = 1.0f;
    instance.rotation = eulerRotation(angles);
    return instance;
}

void MeshInstance::setRotation(const vec4& angles) {
    rotation = eulerRotation(angles);
}

// A share's made entries and faces, kept until they are placed; they grow when
// a frame needs more and keep their size.
struct Pipeline::Staging {
    AlignedVector<PipelineVertex> vertices;
    AlignedVector<vec4> normals, texcoords;
    AlignedVector<MeshFace> faces;
    AlignedVector<int32_t> keys;
};

struct Pipeline::Share {
    Staging staging;
    Output out{};
};

Pipeline::Pipeline(const TextureStore* textures_)
    : vertices(kCapacity), texcoords(kCapacity), normals(kCapacity), faces(kCapacity),
      order(kCapacity), sortItems(kCapacity), sortSpare(kCapacity), nearKeys(kCapacity),
      drawList(kCapacity), outcodes(kCapacity), textures(textures_) {
    for (MeshFace& f : faces) {
        f = MeshFace{};
        f.cornerCount = 0;
    }
    double megabytes =
        double(normalCapacity + 4 * vertexCapacity + 17 * faceCapacity + texcoordCapacity) * 16.0 /
        1024.0 / 1024.0;
    logPrintf("new pipeline uses: %11.2f MB\n", megabytes);
}

Pipeline::~Pipeline() = default;

void Pipeline::resetFrame() {
    vertexCount = normalCount = texcoordCount = faceCount = 0;
    lightCount = 0;
    dropped = Dropped{};
    projected_ = true;
}

bool Pipeline::plan(MeshInstance& instance, int vertexBase, int normalBase, int texcoordBase,
                    int faceBase, Planned& p) const {
    if (!instance.meshes || instance.meshIndex < 0 ||
        instance.meshIndex >= instance.meshes->size()) {
        return false;
    }
    const Mesh& mesh = (*instance.meshes)[instance.meshIndex];
    p = Planned{&instance,
                &mesh,
                mat44::identity(),
                std::clamp(mesh.vertexCount, 0, int(mesh.vertices.size())),
                std::clamp(mesh.normalCount, 0, int(mesh.normals.size())),
                std::clamp(mesh.texcoordCount, 0, int(mesh.texcoords.size())),
                std::clamp(mesh.faceCount, 0, int(mesh.faces.size())),
                vertexBase,
                normalBase,
                texcoordBase,
                faceBase};
    return p.vertices <= vertexCapacity - vertexBase && p.normals <= normalCapacity - normalBase &&
           p.texcoords <= texcoordCapacity - texcoordBase;
}

void Pipeline::transformInstance(MeshInstance& instance, const mat44& viewMatrix,
                                 const Viewport& viewport) {
    instance.world = instance.placement * instance.rotation * mat44::scale(instance.scale);
    instance.firstVertex = nullptr;
    Planned p{};
    if (!plan(instance, vertexCount, normalCount, texcoordCount, 0, p)) {
        ++dropped.meshes;
        return;
    }
    p.modelView = viewMatrix * instance.world;
    instance.firstVertex = &vertices[vertexCount];
    viewport_ = &viewport;
    projected_ = false;
    transformOwn(p, 0, p.vertices, 0, p.normals, 0, p.texcoords);
    // What the faces make follows the mesh's own blocks.
    Output out = poolOutput(vertexCount + p.vertices, normalCount + p.normals,
                            texcoordCount + p.texcoords, faceCount);
    processFaces(p, 0, p.faces, out);
    vertexCount = out.vertexCount;
    normalCount = out.normalCount;
    texcoordCount = out.texcoordCount;
    faceCount = out.faceCount;
    dropped.faces += out.droppedFaces;
}

Pipeline::Output Pipeline::poolOutput(int vertexStart, int normalStart, int texcoordStart,
                                      int faceStart) {
    Output out{vertices.data(), normals.data(), texcoords.data(), faces.data(), nearKeys.data()};
    out.vertexCount = vertexStart;
    out.normalCount = normalStart;
    out.texcoordCount = texcoordStart;
    out.faceCount = faceStart;
    return out;
}

void Pipeline::transformOwn(const Planned& p, int vertexFirst, int vertexLast, int normalFirst,
                            int normalLast, int texcoordFirst, int texcoordLast) {
    const Mesh& mesh = *p.mesh;
    const Columns m(p.modelView);
    const UnitDirections unit(p.modelView);
    const Outcodes outside(*viewport_);
    const bool wide = activeSimdPath() == SimdPath::Avx2;
    int i = vertexFirst;
    if (wide) {
        i += geometry::transformVerticesAvx2(mesh.vertices.data() + i, vertexLast - i, p.modelView,
                                             viewport_->planes, vertices.data() + p.vertexBase + i,
                                             outcodes.data() + p.vertexBase + i);
    }
    for (; i + 4 <= vertexLast; i += 4) {
        const MeshVertex* source = &mesh.vertices[i];
        PipelineVertex* out = &vertices[p.vertexBase + i];
        __m128 positions[4];
        for (int j = 0; j < 4; ++j) {
            positions[j] = m.pointLanes(source[j].position);
            _mm_store_ps(&out[j].viewPos.x, positions[j]);
        }
        __m128 unitNormals[4];
        unit(Quad::fromRows(_mm_load_ps(&source[0].normal.x), _mm_load_ps(&source[1].normal.x),
                            _mm_load_ps(&source[2].normal.x), _mm_load_ps(&source[3].normal.x)))
            .rows(unitNormals);
        for (int j = 0; j < 4; ++j) {
            _mm_store_ps(&out[j].normal.x, unitNormals[j]);
        }
        outside(Quad::fromRows(positions[0], positions[1], positions[2], positions[3]),
                &outcodes[p.vertexBase + i]);
    }
    if (i < vertexLast) {
        const int lanes = vertexLast - i;
        vec4 positions[4], directions[4];
        for (int j = 0; j < lanes; ++j) {
            const MeshVertex& source = mesh.vertices[i + j];
            positions[j] = m.point(source.position);
            directions[j] = source.normal;
        }
        vec4 unitNormals[4];
        unit(Quad(directions)).store(unitNormals);
        uint8_t codes[4];
        outside(Quad(positions), codes);
        for (int j = 0; j < lanes; ++j) {
            PipelineVertex& v = vertices[p.vertexBase + i + j];
            v.viewPos = positions[j];
            v.normal = unitNormals[j];
            outcodes[p.vertexBase + i + j] = codes[j];
        }
    }
    i = normalFirst;
    if (wide) {
        i += geometry::unitDirectionsAvx2(mesh.normals.data() + i, normalLast - i, p.modelView,
                                          &normals[p.normalBase + i]);
    }
    for (; i + 4 <= normalLast; i += 4) {
        unit(Quad(&mesh.normals[i])).store(&normals[p.normalBase + i]);
    }
    if (i < normalLast) {
        const int lanes = normalLast - i;
        vec4 directions[4], unitNormals[4];
        for (int j = 0; j < lanes; ++j) {
            directions[j] = mesh.normals[i + j];
        }
        unit(Quad(directions)).store(unitNormals);
        for (int j = 0; j < lanes; ++j) {
            normals[p.normalBase + i + j] = unitNormals[j];
        }
    }
    for (int t = texcoordFirst; t < texcoordLast; ++t) {
        texcoords[p.texcoordBase + t] = mesh.texcoords[t];
    }
}

namespace {

// One more entry at `count`: false when the pool's capacity is reached. A
// staging vector grows (and `base` follows it) instead of running out early.
template <typename T>
bool room(AlignedVector<T>* staging, T*& base, int count, int capacity) {
    if (count >= capacity) {
        return false;
    }
    if (staging && size_t(count) >= staging->size()) {
        staging->resize(std::min(std::max<size_t>(256, 2 * staging->size()), size_t(capacity)));
        base = staging->data();
    }
    return true;
}

} // namespace

bool Pipeline::roomForVertex(Output& out) {
    return room(out.staging ? &out.staging->vertices : nullptr, out.vertices, out.vertexCount,
                vertexCapacity);
}
bool Pipeline::roomForNormal(Output& out) {
    return room(out.staging ? &out.staging->normals : nullptr, out.normals, out.normalCount,
                normalCapacity);
}
bool Pipeline::roomForTexcoord(Output& out) {
    return room(out.staging ? &out.staging->texcoords : nullptr, out.texcoords, out.texcoordCount,
                texcoordCapacity);
}
bool Pipeline::roomForFace(Output& out) {
    return room(out.staging ? &out.staging->faces : nullptr, out.faces, out.faceCount,
                faceCapacity) &&
           room(out.staging ? &out.staging->keys : nullptr, out.keys, out.faceCount, faceCapacity);
}

void Pipeline::processFaces(const Planned& p, int first, int last, Output& out) {
    const Mesh& mesh = *p.mesh;
    const UnitDirections unit(p.modelView);
    const bool wide = activeSimdPath() == SimdPath::Avx2;
    const int group = wide ? 8 : 4;
    alignas(16) vec4 faceNormals[8];
    unsigned front = 0, validLanes = 0;
    for (int f = first; f < last; ++f) {
        const int lane = (f - first) & (group - 1);
        if (lane == 0) {
            // A group of faces' back-face tests at a time.
            const int lanes = std::min(group, last - f);
            alignas(16) vec4 eyeToFace[8], sourceNormals[8];
            validLanes = 0;
            for (int j = 0; j < group; ++j) {
                eyeToFace[j] = sourceNormals[j] = vec4(0, 0, 0, 0);
                if (j >= lanes) {
                    continue;
                }
                const MeshFace& face = mesh.faces[f + j];
                bool valid = true;
                for (int k = 0; k < 3; ++k) {
                    valid = valid && face.vertexIndex[k] >= 0 && face.vertexIndex[k] < p.vertices;
                }
                sourceNormals[j] = face.normal;
                if (valid) {
                    validLanes |= 1u << j;
                    const vec4& v = vertices[p.vertexBase + face.vertexIndex[0]].viewPos;
                    _mm_store_ps(&eyeToFace[j].x, _mm_sub_ps(_mm_load_ps(&v.x),
                                                             _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f)));
                }
            }
            unsigned away;
            if (wide) {
                away = geometry::facingAwayAvx2(eyeToFace, sourceNormals, p.modelView, faceNormals);
            } else {
                // Turned towards the eye: dot(p - eye, n) <= 0 (NaN counts as towards).
                const Quad n = unit(Quad(sourceNormals));
                n.store(faceNormals);
                away = unsigned(
                    _mm_movemask_ps(_mm_cmpgt_ps(dot4(Quad(eyeToFace), n), _mm_setzero_ps())));
            }
            front = ~away & validLanes;
        }
        if (f + 16 < last) {
            // Only the first of a face record's cache lines is read here.
            __builtin_prefetch(&mesh.faces[f + 16].normal);
        }
        const MeshFace& face = mesh.faces[f];
        if (!(validLanes >> lane & 1u)) {
            ++out.droppedFaces;
            continue;
        }
        if (!(front >> lane & 1u)) {
            continue;
        }
        bool valid = true;
        Corner corners[3];
        for (int k = 0; k < 3; ++k) {
            corners[k].vertex = p.vertexBase + face.vertexIndex[k];
            const int t = face.texcoordIndex[k];
            const int n = face.normalIndex[k];
            if (t >= 0 && t < p.texcoords) {
                corners[k].texcoord = p.texcoordBase + t;
            } else if (roomForTexcoord(out)) {
                // A corner whose coordinate does not exist samples (0, 0).
                corners[k].texcoord = out.texcoordCount + out.tag;
                out.texcoords[out.texcoordCount++] = vec4();
            } else {
                valid = false;
            }
            if (n >= 0 && n < p.normals) {
                corners[k].normal = p.normalBase + n;
            } else if (roomForNormal(out)) {
                // A corner without a normal is lit with its vertex's smooth normal.
                corners[k].normal = out.normalCount + out.tag;
                out.normals[out.normalCount++] = vertices[corners[k].vertex].normal;
            } else {
                valid = false;
            }
        }
        if (!valid) {
            ++out.droppedFaces;
            out.full = true;
            continue;
        }
        clipAndEmit(corners, face, faceNormals[lane], out);
    }
}

bool Pipeline::newCorner(const Corner& a, const Corner& b, float t, Output& out, Corner& made) {
    if (!roomForVertex(out) || !roomForNormal(out) || !roomForTexcoord(out)) {
        out.full = true;
        return false;
    }
    const PipelineVertex& va = vertexAt(out, a.vertex);
    const PipelineVertex& vb = vertexAt(out, b.vertex);
    float s = 1.0f - t;
    made.vertex = out.vertexCount + out.tag;
    PipelineVertex& v = out.vertices[out.vertexCount++];
    v.viewPos = va.viewPos + (vb.viewPos - va.viewPos) * t;
    v.normal = normalize(va.normal * s + vb.normal * t);
    made.normal = out.normalCount + out.tag;
    out.normals[out.normalCount++] =
        normalize(normalAt(out, a.normal) * s + normalAt(out, b.normal) * t);
    made.texcoord = out.texcoordCount + out.tag;
    const vec4& ta = texcoordAt(out, a.texcoord);
    const vec4& tb = texcoordAt(out, b.texcoord);
    out.texcoords[out.texcoordCount++] = vec4(ta.x * s + tb.x * t, ta.y * s + tb.y * t, 0.0f, 0.0f);
    return true;
}

void Pipeline::clipAndEmit(Corner corners[3], const MeshFace& source, const vec4& normal,
                           Output& out) {
    // The outcodes hold the signs of the distances the walk below computes.
    const unsigned c0 = outcodes[corners[0].vertex], c1 = outcodes[corners[1].vertex],
                   c2 = outcodes[corners[2].vertex];
    const unsigned anyOut = c0 | c1 | c2;
    if (!clipFastPaths) {
        // The walk below, for every triangle.
    } else if (anyOut == 0) {
        // Inside every plane: the triangle is emitted unchanged.
        emitFan(corners, 3, source, normal, out);
        return;
    } else if ((c0 & c1 & c2) >> std::countr_zero(anyOut) & 1u) {
        // The walk passes the planes that every corner is inside; at the first
        // other one, a triangle with all three corners outside is left empty.
        return;
    }
    // Five planes each add at most one corner to a convex polygon: 3 + 5 = 8.
    Corner bufferA[8], bufferB[8];
    Corner* polygon = bufferA;
    Corner* output = bufferB;
    int count = 3;
    for (int k = 0; k < 3; ++k) {
        polygon[k] = corners[k];
    }
    for (int p = 0; p < kClipPlanes; ++p) {
        const Plane& plane = viewport_->planes[p];
        float distance[8];
        bool allInside = true;
        for (int k = 0; k < count; ++k) {
            distance[k] = plane.distance(vertexAt(out, polygon[k].vertex).viewPos);
            allInside = allInside && distance[k] >= 0.0f;
        }
        if (allInside) {
            continue;
        }
        int outCount = 0;
        for (int k = 0; k < count; ++k) {
            int next = k + 1 == count ? 0 : k + 1;
            bool inside = distance[k] >= 0.0f;
            bool nextInside = distance[next] >= 0.0f;
            if (inside) {
                output[outCount++] = polygon[k];
            }
            if (inside != nextInside) {
                const vec4& a = vertexAt(out, polygon[k].vertex).viewPos;
                const vec4& b = vertexAt(out, polygon[next].vertex).viewPos;
                float t = (-plane.d - dot(plane.n, a)) / dot(plane.n, b - a);
                if (!newCorner(polygon[k], polygon[next], t, out, output[outCount])) {
                    ++out.droppedFaces;
                    return;
                }
                ++outCount;
            }
        }
        std::swap(polygon, output);
        count = outCount;
        if (count == 0) {
            return;
        }
    }
    emitFan(polygon, count, source, normal, out);
}

void Pipeline::emitFan(const Corner* polygon, int count, const MeshFace& source, const vec4& normal,
                       Output& out) {
    for (int j = 1; j + 1 < count; ++j) {
        if (!roomForFace(out)) {
            ++out.droppedFaces;
            out.full = true;
            continue;
        }
        MeshFace& f = out.faces[out.faceCount];
        const Corner* fan[3] = {&polygon[0], &polygon[j], &polygon[j + 1]};
        for (int k = 0; k < 3; ++k) {
            f.vertexIndex[k] = fan[k]->vertex;
            f.texcoordIndex[k] = fan[k]->texcoord;
            f.normalIndex[k] = fan[k]->normal;
        }
        f.cornerCount = 3;
        f.normal = normal;
        f.material = source.material;
        f.spare = source.spare;
        // The sort's key, while the corners are still in the cache.
        float zmax = vertexAt(out, f.vertexIndex[0]).viewPos.z;
        zmax = std::max(zmax, vertexAt(out, f.vertexIndex[1]).viewPos.z);
        zmax = std::max(zmax, vertexAt(out, f.vertexIndex[2]).viewPos.z);
        const float key = -zmax * 65536.0f;
        // Beyond +-2^31 (some 32000 units away) every face shares the end key.
        out.keys[out.faceCount++] = key >= 2147483648.0f    ? INT32_MAX
                                    : key <= -2147483648.0f ? INT32_MIN
                                    : key == key            ? int32_t(key)
                                                            : INT32_MAX;
    }
}

bool Pipeline::planShares(const std::vector<MeshInstance*>& instances, const mat44& viewMatrix,
                          const Viewport& viewport, int shares) {
    start_ = {vertexCount, normalCount, texcoordCount, faceCount};
    int ownVertices = vertexCount, ownNormals = normalCount, ownTexcoords = texcoordCount;
    int facesPlanned = 0, droppedMeshes = 0;
    planned_.clear();
    for (MeshInstance* instance : instances) {
        Planned p{};
        if (!plan(*instance, ownVertices, ownNormals, ownTexcoords, facesPlanned, p)) {
            if (!p.mesh) {
                ++droppedMeshes;
                continue;
            }
            return false;
        }
        ownVertices += p.vertices;
        ownNormals += p.normals;
        ownTexcoords += p.texcoords;
        facesPlanned += p.faces;
        planned_.push_back(p);
    }
    viewport_ = &viewport;
    viewMatrix_ = viewMatrix;
    ownVertices_ = ownVertices;
    ownNormals_ = ownNormals;
    ownTexcoords_ = ownTexcoords;
    plannedFaces_ = facesPlanned;
    dropped.meshes += droppedMeshes;
    for (MeshInstance* instance : instances) {
        instance->world = instance->placement * instance->rotation * mat44::scale(instance->scale);
        instance->firstVertex = nullptr;
    }
    for (Planned& p : planned_) {
        p.modelView = viewMatrix * p.instance->world;
        p.instance->firstVertex = &vertices[p.vertexBase];
    }
    shareCount_ = std::max(shares, 1);
    while (int(shares_.size()) < shareCount_) {
        shares_.push_back(std::make_unique<Share>());
    }
    for (int s = 0; s < shareCount_; ++s) {
        Output& out = shares_[size_t(s)]->out;
        if (s == 0) {
            // The first share's made entries start where they will stay.
            out = poolOutput(ownVertices, ownNormals, ownTexcoords, faceCount);
        } else {
            Staging& staging = shares_[size_t(s)]->staging;
            out = Output{staging.vertices.data(), staging.normals.data(), staging.texcoords.data(),
                         staging.faces.data(), staging.keys.data()};
            out.tag = INT32_MIN;
            out.staging = &staging;
        }
    }
    projected_ = false;
    return true;
}

namespace {

// Share s of n of the range [begin, end).
std::pair<int, int> shareOf(int begin, int end, int s, int n) {
    const int64_t size = end - begin;
    return {begin + int(size * s / n), begin + int(size * (s + 1) / n)};
}

} // namespace

void Pipeline::transformShare(int share) {
    const auto [vertexFirst, vertexLast] =
        shareOf(start_.vertices, ownVertices_, share, shareCount_);
    const auto [normalFirst, normalLast] = shareOf(start_.normals, ownNormals_, share, shareCount_);
    const auto [texcoordFirst, texcoordLast] =
        shareOf(start_.texcoords, ownTexcoords_, share, shareCount_);
    for (const Planned& p : planned_) {
        auto local = [](int first, int last, int base, int count) {
            return std::pair<int, int>{std::clamp(first - base, 0, count),
                                       std::clamp(last - base, 0, count)};
        };
        const auto [v0, v1] = local(vertexFirst, vertexLast, p.vertexBase, p.vertices);
        const auto [n0, n1] = local(normalFirst, normalLast, p.normalBase, p.normals);
        const auto [t0, t1] = local(texcoordFirst, texcoordLast, p.texcoordBase, p.texcoords);
        if (v0 < v1 || n0 < n1 || t0 < t1) {
            transformOwn(p, v0, v1, n0, n1, t0, t1);
        }
    }
    projectRange(vertexFirst, vertexLast);
}

void Pipeline::faceShare(int share) {
    const auto [first, last] = shareOf(0, plannedFaces_, share, shareCount_);
    Output& out = shares_[size_t(share)]->out;
    for (const Planned& p : planned_) {
        const int f0 = std::clamp(first - p.faceBase, 0, p.faces);
        const int f1 = std::clamp(last - p.faceBase, 0, p.faces);
        if (f0 < f1) {
            processFaces(p, f0, f1, out);
        }
    }
}

bool Pipeline::sharesFit() const {
    // The first share's counts are pool positions, the others' their own.
    const Output& first = shares_[0]->out;
    int64_t made[4] = {first.vertexCount, first.normalCount, first.texcoordCount, first.faceCount};
    for (int s = 0; s < shareCount_; ++s) {
        const Output& out = shares_[size_t(s)]->out;
        if (out.full) {
            return false;
        }
        if (s > 0) {
            made[0] += out.vertexCount;
            made[1] += out.normalCount;
            made[2] += out.texcoordCount;
            made[3] += out.faceCount;
        }
    }
    return made[0] <= vertexCapacity && made[1] <= normalCapacity && made[2] <= texcoordCapacity &&
           made[3] <= faceCapacity;
}

void Pipeline::placeShare(int share) {
    // Where this share's entries go: after the first share's, and after every
    // earlier share's.
    const Output& first = shares_[0]->out;
    int vertexBase = first.vertexCount, normalBase = first.normalCount,
        texcoordBase = first.texcoordCount, faceBase = first.faceCount, droppedFaces = 0;
    for (int s = 0; s < shareCount_; ++s) {
        const Output& out = shares_[size_t(s)]->out;
        droppedFaces += out.droppedFaces;
        if (s == 0 || s >= share) {
            continue;
        }
        vertexBase += out.vertexCount;
        normalBase += out.normalCount;
        texcoordBase += out.texcoordCount;
        faceBase += out.faceCount;
    }
    const Output& out = shares_[size_t(share)]->out;
    if (share == 0) {
        projectRange(ownVertices_, out.vertexCount);
    } else {
        std::copy_n(out.vertices, out.vertexCount, &vertices[vertexBase]);
        projectRange(vertexBase, vertexBase + out.vertexCount);
        std::copy_n(out.normals, out.normalCount, &normals[normalBase]);
        std::copy_n(out.texcoords, out.texcoordCount, &texcoords[texcoordBase]);
        std::copy_n(out.keys, out.faceCount, &nearKeys[faceBase]);
        auto place = [](int32_t index, int base) {
            return index >= 0 ? index : base + int32_t(uint32_t(index) - 0x80000000u);
        };
        for (int f = 0; f < out.faceCount; ++f) {
            const MeshFace& made = out.faces[f];
            MeshFace& placed = faces[faceBase + f];
            for (int k = 0; k < 3; ++k) {
                placed.vertexIndex[k] = place(made.vertexIndex[k], vertexBase);
                placed.texcoordIndex[k] = place(made.texcoordIndex[k], texcoordBase);
                placed.normalIndex[k] = place(made.normalIndex[k], normalBase);
            }
            placed.cornerCount = 3;
            placed.normal = made.normal;
            placed.material = made.material;
            placed.spare = made.spare;
        }
    }
    if (share == shareCount_ - 1) {
        // The last share's end is the frame's.
        const bool pools = share == 0;
        vertexCount = pools ? out.vertexCount : vertexBase + out.vertexCount;
        normalCount = pools ? out.normalCount : normalBase + out.normalCount;
        texcoordCount = pools ? out.texcoordCount : texcoordBase + out.texcoordCount;
        faceCount = pools ? out.faceCount : faceBase + out.faceCount;
        dropped.faces += droppedFaces;
        projected_ = true;
    }
}

void Pipeline::redoOneByOne() {
    // The instances that had no mesh are counted already.
    vertexCount = start_.vertices;
    normalCount = start_.normals;
    texcoordCount = start_.texcoords;
    faceCount = start_.faces;
    for (const Planned& p : planned_) {
        transformInstance(*p.instance, viewMatrix_, *viewport_);
    }
}

void Pipeline::runShares() {
    for (int s = 0; s < shareCount_; ++s) {
        transformShare(s);
    }
    for (int s = 0; s < shareCount_; ++s) {
        faceShare(s);
    }
    if (!sharesFit()) {
        redoOneByOne();
        return;
    }
    for (int s = 0; s < shareCount_; ++s) {
        placeShare(s);
    }
}

void Pipeline::finishGeometry() {
    if (!projected_) {
        projectRange(0, vertexCount);
        projected_ = true;
    }
    sortFaces();
    buildDrawList();
}

void Pipeline::registerLight(LightEntry& entry, const mat44& viewMatrix) {
    entry.light->viewPos = viewMatrix.transform(entry.light->position);
    if (lightCount >= maxLights) {
        entry.lightIndex = -1;
        ++dropped.lights;
        return;
    }
    lights[lightCount] = entry.light;
    entry.lightIndex = lightCount++;
}

void Pipeline::sortFaces() {
    // The keys were made as the faces were emitted.
    int32_t lowest = INT32_MAX, highest = INT32_MIN;
    for (int f = 0; f < faceCount; ++f) {
        lowest = std::min(lowest, nearKeys[f]);
        highest = std::max(highest, nearKeys[f]);
    }
    // A stable radix sort of the keys' offsets from the lowest, over only as
    // many bits as the frame's depth range needs, in passes of at most 11
    // bits. Each item carries its key offset above its face index, so a pass
    // reads its input in order.
    const uint32_t range = uint32_t(highest) - uint32_t(lowest);
    const int bits = faceCount > 0 ? int(std::bit_width(range)) : 0;
    const int passes = (bits + 10) / 11;
    const int digitBits = passes > 0 ? (bits + passes - 1) / passes : 0;
    const uint32_t digitMask = (1u << digitBits) - 1u;
    static constexpr int kMaxDigits = 1 << 11;
    int count[3][kMaxDigits + 1] = {};
    uint64_t* src = sortItems.data();
    uint64_t* dst = sortSpare.data();
    for (int f = 0; f < faceCount; ++f) {
        const uint32_t offset = uint32_t(nearKeys[f]) - uint32_t(lowest);
        src[f] = uint64_t(offset) << 32 | uint32_t(f);
        for (int pass = 0; pass < passes; ++pass) {
            ++count[pass][((offset >> (digitBits * pass)) & digitMask) + 1];
        }
    }
    for (int pass = 0; pass < passes; ++pass) {
        const int shift = 32 + digitBits * pass;
        int* c = count[pass];
        for (uint32_t d = 0; d < digitMask; ++d) {
            c[d + 1] += c[d];
        }
        for (int i = 0; i < faceCount; ++i) {
            const uint64_t item = src[i];
            dst[c[(item >> shift) & digitMask]++] = item;
        }
        std::swap(src, dst);
    }
    for (int n = 0; n < faceCount; ++n) {
        order[n] = int32_t(uint32_t(src[n]));
    }
}

void Pipeline::projectVertices(const Viewport& viewport) {
    viewport_ = &viewport;
    projectRange(0, vertexCount);
    projected_ = true;
    buildDrawList();
}

void Pipeline::projectRange(int first, int last) {
    const Columns projection(viewport_->projection);
    const Columns screen(viewport_->screen);
    const PointLanes projectionLanes(viewport_->projection);
    const PointLanes screenLanes(viewport_->screen);
    if (activeSimdPath() == SimdPath::Avx2 && first < last) {
        first += geometry::projectAvx2(&vertices[first], last - first, viewport_->projection,
                                       viewport_->screen);
    }
    for (; first + 4 <= last; first += 4) {
        PipelineVertex* v = &vertices[first];
        const Quad clip = projectionLanes(
            Quad::fromRows(_mm_load_ps(&v[0].viewPos.x), _mm_load_ps(&v[1].viewPos.x),
                           _mm_load_ps(&v[2].viewPos.x), _mm_load_ps(&v[3].viewPos.x)));
        const __m128 inv = _mm_div_ps(_mm_set1_ps(1.0f), clip.w);
        __m128 rows[4];
        screenLanes(Quad(_mm_mul_ps(clip.x, inv), _mm_mul_ps(clip.y, inv), _mm_mul_ps(clip.z, inv),
                         _mm_set1_ps(1.0f)))
            .rows(rows);
        for (int j = 0; j < 4; ++j) {
            _mm_store_ps(&v[j].screenPos.x, rows[j]);
        }
    }
    for (int i = first; i < last; ++i) {
        PipelineVertex& v = vertices[i];
        vec4 clip = projection.point(v.viewPos);
        float inv = 1.0f / clip.w;
        v.screenPos = screen.point(vec4(clip.x * inv, clip.y * inv, clip.z * inv, 1.0f));
    }
}

void Pipeline::buildDrawList() {
    for (int n = 0; n < faceCount; ++n) {
        if (n + 16 < faceCount) {
            __builtin_prefetch(&faces[order[n + 16]]);
        }
        const MeshFace& f = faces[order[n]];
        DrawFace& d = drawList[n];
        for (int k = 0; k < 3; ++k) {
            d.vertexIndex[k] = f.vertexIndex[k];
            d.texcoordIndex[k] = f.texcoordIndex[k];
            d.normalIndex[k] = f.normalIndex[k];
        }
        float y0 = vertices[f.vertexIndex[0]].screenPos.y;
        float y1 = vertices[f.vertexIndex[1]].screenPos.y;
        float y2 = vertices[f.vertexIndex[2]].screenPos.y;
        d.minY = std::min({y0, y1, y2});
        d.maxY = std::max({y0, y1, y2});
        d.material = f.material;
    }
}

void Pipeline::raiseStatistics() {
    maxVertices = std::max(maxVertices, vertexCount);
    maxNormals = std::max(maxNormals, normalCount);
    maxTexcoords = std::max(maxTexcoords, texcoordCount);
    maxFaces = std::max(maxFaces, faceCount);
    maxDropped.meshes = std::max(maxDropped.meshes, dropped.meshes);
    maxDropped.faces = std::max(maxDropped.faces, dropped.faces);
    maxDropped.lights = std::max(maxDropped.lights, dropped.lights);
}

} // namespace lumo
