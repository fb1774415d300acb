#include "math/vec.h"

#include "sys/log.h"

namespace lumo {

namespace {

// Sine and cosine are taken in single precision, as every caller expects.
void sinCos(float angle, float& s, float& c) {
    s = std::sin(angle);
    c = std::cos(angle);
}

} // namespace

void rotateX(mat44& m, float angle) {
    float s, c;
    sinCos(angle, s, c);
    mat44 r = mat44::identity();
    r.m[5] = c;
    r.m[6] = s;
    r.m[9] = -s;
    r.m[10] = c;
    m = r * m;
}

void rotateY(mat44& m, float angle) {
    float s, c;
    sinCos(angle, s, c);
    mat44 r = mat44::identity();
    r.m[0] = c;
    r.m[2] = -s;
    r.m[8] = s;
    r.m[10] = c;
    m = r * m;
}

void rotateZ(mat44& m, float angle) {
    float s, c;
    sinCos(angle, s, c);
    mat44 r = mat44::identity();
    r.m[0] = c;
    r.m[1] = s;
    r.m[4] = -s;
    r.m[5] = c;
    m = r * m;
}

mat44 eulerTranslation(const vec4& angles, const vec4& position) {
    mat44 m = mat44::translation(position);
    rotateX(m, angles.x);
    rotateY(m, angles.y);
    rotateZ(m, angles.z);
    return m;
}

mat44 eulerRotation(const vec4& angles) {
    mat44 m = mat44::identity();
    rotateX(m, angles.x);
    rotateY(m, angles.y);
    rotateZ(m, angles.z);
    return m;
}

bool invert(const mat44& a, mat44& out) {
    // Cofactors by 2 x 2 sub-determinants of the upper and lower halves.
    const float* m = a.m;
    const float s0 = m[0] * m[5] - m[4] * m[1];
    const float s1 = m[0] * m[9] - m[8] * m[1];
    const float s2 = m[0] * m[13] - m[12] * m[1];
    const float s3 = m[4] * m[9] - m[8] * m[5];
    const float s4 = m[4] * m[13] - m[12] * m[5];
    const float s5 = m[8] * m[13] - m[12] * m[9];
    const float c5 = m[10] * m[15] - m[14] * m[11];
    const float c4 = m[6] * m[15] - m[14] * m[7];
    const float c3 = m[6] * m[11] - m[10] * m[7];
    const float c2 = m[2] * m[15] - m[14] * m[3];
    const float c1 = m[2] * m[11] - m[10] * m[3];
    const float c0 = m[2] * m[7] - m[6] * m[3];
    const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (det == 0.0f || !std::isfinite(det)) {
        return false;
    }
    // The adjugate in column-major order.
    const float adjugate[16] = {
        m[5] * c5 - m[9] * c4 + m[13] * c3,   -m[1] * c5 + m[9] * c2 - m[13] * c1,
        m[1] * c4 - m[5] * c2 + m[13] * c0,   -m[1] * c3 + m[5] * c1 - m[9] * c0,
        -m[4] * c5 + m[8] * c4 - m[12] * c3,  m[0] * c5 - m[8] * c2 + m[12] * c1,
        -m[0] * c4 + m[4] * c2 - m[12] * c0,  m[0] * c3 - m[4] * c1 + m[8] * c0,
        m[7] * s5 - m[11] * s4 + m[15] * s3,  -m[3] * s5 + m[11] * s2 - m[15] * s1,
        m[3] * s4 - m[7] * s2 + m[15] * s0,   -m[3] * s3 + m[7] * s1 - m[11] * s0,
        -m[6] * s5 + m[10] * s4 - m[14] * s3, m[2] * s5 - m[10] * s2 + m[14] * s1,
        -m[2] * s4 + m[6] * s2 - m[14] * s0,  m[2] * s3 - m[6] * s1 + m[10] * s0};
    // 1 / det in double: each entry is then rounded to float once, so a matrix
    // with a tiny determinant still inverts where a float reciprocal would
    // overflow.
    const double k = 1.0 / double(det);
    mat44 r;
    for (int i = 0; i < 16; ++i) {
        r.m[i] = float(double(adjugate[i]) * k);
        if (!std::isfinite(r.m[i])) {
            return false;
        }
    }
    out = r;
    return true;
}

void printMatrix(const mat44& m) {
    logPrintf("--mat44:\n");
    for (int r = 0; r < 4; ++r) {
        logPrintf(" [%f,%f,%f,%f]\n", m.m[r], m.m[4 + r], m.m[8 + r], m.m[12 + r]);
    }
}

} // namespace lumo
