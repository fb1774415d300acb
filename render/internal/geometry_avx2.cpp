// The geometry loops with eight vectors a register. As in finalpass_avx2.cpp,
// only the code between the target pragmas may use AVX2, and every header is
// included before them.

#include "render/internal/geometry_lanes.h"

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

namespace lumo::geometry {

namespace {

// Eight vectors in structure-of-arrays form: lanes 0-3 hold vectors 0-3, lanes
// 4-7 vectors 4-7.
struct Oct {
    __m256 x, y, z, w;
};

__m256 pair(const vec4& low, const vec4& high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(&low.x)), _mm_load_ps(&high.x),
                                1);
}

// The 4 x 4 transpose within each 128-bit half: rows (v_j | v_j+4) become the
// lanes x, y, z, w, and the other way round.
void transpose(__m256& a, __m256& b, __m256& c, __m256& d) {
    const __m256 t0 = _mm256_unpacklo_ps(a, b), t1 = _mm256_unpacklo_ps(c, d);
    const __m256 t2 = _mm256_unpackhi_ps(a, b), t3 = _mm256_unpackhi_ps(c, d);
    a = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    b = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    c = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    d = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Vector j of eight at `first`, `stride` bytes apart.
Oct load(const void* first, size_t stride) {
    auto at = [&](int j) {
        return *reinterpret_cast<const vec4*>(static_cast<const char*>(first) + stride * size_t(j));
    };
    Oct o{pair(at(0), at(4)), pair(at(1), at(5)), pair(at(2), at(6)), pair(at(3), at(7))};
    transpose(o.x, o.y, o.z, o.w);
    return o;
}

void store(Oct o, void* first, size_t stride) {
    transpose(o.x, o.y, o.z, o.w);
    const __m256 rows[4] = {o.x, o.y, o.z, o.w};
    for (int j = 0; j < 4; ++j) {
        float* low = reinterpret_cast<float*>(static_cast<char*>(first) + stride * size_t(j));
        float* high = reinterpret_cast<float*>(static_cast<char*>(first) + stride * size_t(j + 4));
        _mm_store_ps(low, _mm256_castps256_ps128(rows[j]));
        _mm_store_ps(high, _mm256_extractf128_ps(rows[j], 1));
    }
}

__m256 add(__m256 a, __m256 b) {
    return _mm256_add_ps(a, b);
}
__m256 mul(__m256 a, __m256 b) {
    return _mm256_mul_ps(a, b);
}

__m256 dot(const Oct& a, const Oct& b) {
    return add(add(add(mul(a.x, b.x), mul(a.y, b.y)), mul(a.z, b.z)), mul(a.w, b.w));
}

// M * p: per row ((m0 x + m4 y) + m8 z) + m12 w, mat44::transform's order.
struct Points {
    __m256 m[16];
    explicit Points(const mat44& matrix) {
        for (int i = 0; i < 16; ++i) {
            m[i] = _mm256_set1_ps(matrix.m[i]);
        }
    }
    Oct operator()(const Oct& p) const {
        auto row = [&](int r) {
            return add(add(add(mul(m[r], p.x), mul(m[4 + r], p.y)), mul(m[8 + r], p.z)),
                       mul(m[12 + r], p.w));
        };
        return Oct{row(0), row(1), row(2), row(3)};
    }
};

// normalize(M * d), w = 0: the 4-lane UnitDirections lane for lane.
struct UnitDirections {
    __m256 m[12];
    explicit UnitDirections(const mat44& matrix) {
        for (int i = 0; i < 12; ++i) {
            m[i] = _mm256_set1_ps(matrix.m[i]);
        }
    }
    Oct operator()(const Oct& d) const {
        auto row = [&](int r) {
            return add(add(mul(m[r], d.x), mul(m[4 + r], d.y)), mul(m[8 + r], d.z));
        };
        const Oct t{row(0), row(1), row(2), _mm256_setzero_ps()};
        const __m256 k = _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_sqrt_ps(dot(t, t)));
        return Oct{mul(t.x, k), mul(t.y, k), mul(t.z, k), mul(t.w, k)};
    }
};

// Bit j of an 8-bit mask to bit 0 of byte j.
uint64_t bytesOfBits(unsigned mask) {
    const uint64_t low = (uint64_t(mask & 15u) * 0x00204081u) & 0x01010101u;
    const uint64_t high = (uint64_t(mask >> 4) * 0x00204081u) & 0x01010101u;
    return low | high << 32;
}

} // namespace

int transformVerticesAvx2(const MeshVertex* source, int count, const mat44& modelView,
                          const Plane* planes, PipelineVertex* out, uint8_t* outcodes) {
    const Points transform(modelView);
    const UnitDirections unit(modelView);
    Oct normals[kClipPlanes];
    __m256 distances[kClipPlanes];
    for (int p = 0; p < kClipPlanes; ++p) {
        const vec4& n = planes[p].n;
        normals[p] =
            Oct{_mm256_set1_ps(n.x), _mm256_set1_ps(n.y), _mm256_set1_ps(n.z), _mm256_set1_ps(n.w)};
        distances[p] = _mm256_set1_ps(planes[p].d);
    }
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Oct position = transform(load(&source[i].position, sizeof(MeshVertex)));
        store(position, &out[i].viewPos, sizeof(PipelineVertex));
        store(unit(load(&source[i].normal, sizeof(MeshVertex))), &out[i].normal,
              sizeof(PipelineVertex));
        uint64_t codes = 0;
        for (int p = 0; p < kClipPlanes; ++p) {
            const __m256 distance = add(dot(normals[p], position), distances[p]);
            const unsigned outside = unsigned(
                _mm256_movemask_ps(_mm256_cmp_ps(distance, _mm256_setzero_ps(), _CMP_LT_OQ)));
            codes |= bytesOfBits(outside) << p;
        }
        for (int j = 0; j < 8; ++j) {
            outcodes[i + j] = uint8_t(codes >> (8 * j));
        }
    }
    return i;
}

int unitDirectionsAvx2(const vec4* source, int count, const mat44& m, vec4* out) {
    const UnitDirections unit(m);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        store(unit(load(&source[i], sizeof(vec4))), &out[i], sizeof(vec4));
    }
    return i;
}

int projectAvx2(PipelineVertex* vertices, int count, const mat44& projection, const mat44& screen) {
    const Points toClip(projection), toScreen(screen);
    const __m256 one = _mm256_set1_ps(1.0f);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const Oct clip = toClip(load(&vertices[i].viewPos, sizeof(PipelineVertex)));
        const __m256 inv = _mm256_div_ps(one, clip.w);
        store(toScreen(Oct{mul(clip.x, inv), mul(clip.y, inv), mul(clip.z, inv), one}),
              &vertices[i].screenPos, sizeof(PipelineVertex));
    }
    return i;
}

unsigned facingAwayAvx2(const vec4 eyeToFace[8], const vec4 normals[8], const mat44& m,
                        vec4 unitNormals[8]) {
    const Oct n = UnitDirections(m)(load(normals, sizeof(vec4)));
    store(n, unitNormals, sizeof(vec4));
    // Turned towards the eye: dot(p - eye, n) <= 0 (NaN counts as towards).
    const __m256 away =
        _mm256_cmp_ps(dot(load(eyeToFace, sizeof(vec4)), n), _mm256_setzero_ps(), _CMP_GT_OQ);
    return unsigned(_mm256_movemask_ps(away));
}

} // namespace lumo::geometry

#pragma GCC pop_options
