#include "math/vec.h"
#include "math/viewport.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lumo;

namespace {

void expectNear(const vec4& a, const vec4& b, float eps = 1e-6f) {
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR((&a.x)[k], (&b.x)[k], eps) << k;
    }
}

constexpr float halfPi = 1.57079632679f;

Viewport quietViewport(int width = 640, int height = 360) {
    LogCapture quiet(false);
    return Viewport(width, height, 16.0f / 9.0f);
}

} // namespace

TEST(Rotation, AxisDirectionsAndOrderAfterTranslation) {
    mat44 x = mat44::identity(), y = mat44::identity(), z = mat44::identity();
    rotateX(x, halfPi);
    rotateY(y, halfPi);
    rotateZ(z, halfPi);
    expectNear(x.transform({0, 1, 0, 1}), {0, 0, 1, 1});
    expectNear(y.transform({0, 0, 1, 1}), {1, 0, 0, 1});
    expectNear(z.transform({1, 0, 0, 1}), {0, 1, 0, 1});
    // T then rotate: the translated origin (1,0,0) is rotated onto (0,1,0).
    mat44 m = mat44::translation({1, 0, 0});
    rotateZ(m, halfPi);
    expectNear(m.transform({0, 0, 0, 1}), {0, 1, 0, 1});
}

TEST(Matrix, ProductOrderStorageAndDirections) {
    mat44 a = eulerRotation({0.3f, -0.7f, 1.1f});
    mat44 b = mat44::translation({2, -3, 5});
    vec4 p(0.5f, 1.5f, -2.0f, 1.0f);
    expectNear((a * b).transform(p), a.transform(b.transform(p)), 1e-5f);
    // Storage: column-major, translation at 12..14.
    EXPECT_EQ(vec4(b.m[12], b.m[13], b.m[14], b.m[15]), vec4(2, -3, 5, 1));
    EXPECT_EQ(b.transformDirection({1, 2, 3, 1}), vec4(1, 2, 3, 0));
}

TEST(Euler, TranslationFirstThenXYZRotations) {
    vec4 t(1, 2, 3);
    vec4 angles(0.4f, -1.2f, 2.5f);
    mat44 expected = mat44::translation(t);
    rotateX(expected, angles.x);
    rotateY(expected, angles.y);
    rotateZ(expected, angles.z);
    EXPECT_EQ(eulerTranslation(angles, t), expected);
    // With a rotation, the translation is rotated too: the origin goes to R*t.
    expectNear(eulerTranslation(angles, t).transform({0, 0, 0, 1}),
               eulerRotation(angles).transform({1, 2, 3, 1}), 1e-5f);
}

TEST(Vector, NormalizeUsesAllFourComponents) {
    expectNear(normalize({3, 0, 4, 0}), {0.6f, 0, 0.8f, 0});
    expectNear(normalize({0, 0, 0, 2}), {0, 0, 0, 1});
}

TEST(Matrix, InvertRoundTripsAndRejectsSingular) {
    mat44 m = eulerTranslation({0.2f, 0.9f, -0.4f}, {10, -20, 30}) * mat44::scale(2.5f);
    mat44 inv;
    ASSERT_TRUE(invert(m, inv));
    mat44 id = m * inv;
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(id.m[i], mat44::identity().m[i], 1e-5f) << i;
    }
    mat44 untouched = mat44::identity();
    EXPECT_FALSE(invert(mat44::scale(0.0f), untouched));
    EXPECT_EQ(untouched, mat44::identity());
    // A determinant of 1e-39 has no float reciprocal, yet the inverse is finite:
    // the scale by 1 / det is taken in double.
    ASSERT_TRUE(invert(mat44::scale(1e-13f), inv));
    EXPECT_NEAR(inv.m[0], 1e13f, 1e8f);
    EXPECT_NEAR(inv.m[15], 1.0f, 1e-5f);
}

// The printed projection and planes are part of the console lines the golden
// check holds; the numbers are checked here.
TEST(Viewport, ProjectionFor720p) {
    Viewport v = quietViewport(1280, 720);
    EXPECT_NEAR(v.projection.m[5], 1.7320508f, 1e-6f);
    EXPECT_NEAR(v.projection.m[0], 0.9742786f, 1e-6f);
    for (auto [i, value] :
         {std::pair{8, 0.0f}, {9, 0.0f}, {10, -1.0f}, {11, -1.0f}, {14, -0.2f}, {15, 0.0f}}) {
        EXPECT_EQ(v.projection.m[i], value) << i;
    }
    EXPECT_EQ(vec4(v.width, v.height, v.fovDegrees, v.farPlane), vec4(1280, 720, 30, 10000));
}

TEST(Viewport, NearSideAndFarPlanes) {
    Viewport v = quietViewport();
    vec4 onNear(0, 0, -0.1f, 1);
    EXPECT_NEAR(v.plane(FrustumPlane::Near).distance(onNear), 0.0f, 1e-7f);
    EXPECT_LT(v.plane(FrustumPlane::Near).distance({0, 0, -0.05f, 1}), 0.0f);
    // A point on the view axis is inside the four side planes and the far
    // plane of an infinite projection, however far away.
    for (int i : {0, 1, 2, 3}) {
        EXPECT_GT(v.planes[i].distance({0, 0, -5, 1}), 0.0f) << i;
    }
    EXPECT_GT(v.plane(FrustumPlane::Far).distance({0, 0, -1e9f, 1}), 0.0f);
    // The left plane holds a point at the left edge of the frustum.
    float halfWidth = 5.0f * std::tan(0.523598775f) * (16.0f / 9.0f);
    EXPECT_NEAR(v.plane(FrustumPlane::Left).distance({-halfWidth, 0, -5, 1}), 0.0f, 1e-4f);
}

TEST(Viewport, ScreenMappingCorners) {
    Viewport v = quietViewport();
    EXPECT_EQ(v.screen.transform({-1, 1, 0.5f, 1}), vec4(0, 0, 0.5f, 1));
    EXPECT_EQ(v.screen.transform({1, -1, 0, 1}), vec4(640, 360, 0, 1));
    EXPECT_EQ(v.screen.transform({0, 0, 0, 1}), vec4(320, 180, 0, 1));
}
