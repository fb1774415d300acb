#pragma once
// Conventions: right-handed, the camera looks down -z. Matrices are column-major
// (element row r, column c at m[4c + r]) and act on column vectors on their right,
// so A * B applied to p is A * (B * p). Positions carry w = 1, directions w = 0.
// Everything is single precision; vec4 and mat44 are 16-byte aligned so a whole
// vector loads as one SIMD register.

#include <cmath>

namespace lumo {

struct alignas(16) vec4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

    constexpr vec4() = default;
    constexpr vec4(float x_, float y_, float z_, float w_ = 0.0f) : x(x_), y(y_), z(z_), w(w_) {}

    constexpr vec4 operator+(const vec4& o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
    constexpr vec4 operator-(const vec4& o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
    constexpr vec4 operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    constexpr vec4& operator+=(const vec4& o) { return *this = *this + o; }
    constexpr vec4& operator-=(const vec4& o) { return *this = *this - o; }
    constexpr vec4& operator*=(float s) { return *this = *this * s; }
    constexpr bool operator==(const vec4&) const = default;
};

// Over all four components: for w = 0 vectors this is the ordinary 3-D product.
constexpr float dot(const vec4& a, const vec4& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

// Divides all four components by the length over all four, so w = 0 vectors get
// the ordinary 3-D normalisation. A zero vector gives non-finite components.
inline vec4 normalize(const vec4& v) {
    float k = 1.0f / std::sqrt(dot(v, v));
    return v * k;
}

constexpr vec4 cross(const vec4& a, const vec4& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

struct alignas(16) mat44 {
    float m[16] = {};

    static constexpr mat44 identity() {
        mat44 r;
        r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
        return r;
    }
    static constexpr mat44 translation(const vec4& t) {
        mat44 r = identity();
        r.m[12] = t.x;
        r.m[13] = t.y;
        r.m[14] = t.z;
        return r;
    }
    static constexpr mat44 scale(float s) {
        mat44 r;
        r.m[0] = r.m[5] = r.m[10] = s;
        r.m[15] = 1.0f;
        return r;
    }

    constexpr float& operator[](int i) { return m[i]; }
    constexpr float operator[](int i) const { return m[i]; }
    constexpr bool operator==(const mat44&) const = default;

    // (A * B)[4c + r] = sum over k of A[4k + r] * B[4c + k], summed in k order.
    constexpr mat44 operator*(const mat44& b) const {
        mat44 r;
        for (int c = 0; c < 4; ++c) {
            for (int row = 0; row < 4; ++row) {
                r.m[4 * c + row] = m[row] * b.m[4 * c] + m[4 + row] * b.m[4 * c + 1] +
                                   m[8 + row] * b.m[4 * c + 2] + m[12 + row] * b.m[4 * c + 3];
            }
        }
        return r;
    }

    // Full 4 x 4 transform of a point (or any vector, its w included).
    constexpr vec4 transform(const vec4& p) const {
        return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12] * p.w,
                m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13] * p.w,
                m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14] * p.w,
                m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15] * p.w};
    }

    // The upper 3 x 3 block only; the result is a direction (w = 0).
    constexpr vec4 transformDirection(const vec4& d) const {
        return {m[0] * d.x + m[4] * d.y + m[8] * d.z, m[1] * d.x + m[5] * d.y + m[9] * d.z,
                m[2] * d.x + m[6] * d.y + m[10] * d.z, 0.0f};
    }
};

// A plane keeps its inside at signed distance >= 0. n.w is 0, so a point's w
// does not contribute to the distance.
struct alignas(16) Plane {
    vec4 n;
    float d = 0.0f;

    constexpr float distance(const vec4& p) const { return dot(n, p) + d; }
};

// Each replaces m by R * m: the rotation acts after what m already does.
void rotateX(mat44& m, float angle);
void rotateY(mat44& m, float angle);
void rotateZ(mat44& m, float angle);

// Rz(a.z) * Ry(a.y) * Rx(a.x) * T(position): translate first, then rotate about
// x, y and z. Only x, y and z of both vectors are read.
mat44 eulerTranslation(const vec4& angles, const vec4& position);

// Rz(a.z) * Ry(a.y) * Rx(a.x).
mat44 eulerRotation(const vec4& angles);

// Inverse of a general 4 x 4 matrix. Returns false (and leaves out untouched)
// when the matrix is singular or the inverse is not finite.
bool invert(const mat44& a, mat44& out);

// "--mat44:" and then one line per row.
void printMatrix(const mat44& m);

} // namespace lumo
