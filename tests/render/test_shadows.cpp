// Shadow volumes: the clipper, the builder's caps and sides, and whole frames
// checked against the geometric shadow of a cube (computed here by tracing each
// plane point towards the light), with the camera outside and inside the volume
// and with volumes crossing the near and side planes; counts and pictures for
// several worker counts; the sound answers for full bins, too many shadow
// lights and singular casters.

#include "render/meshgen.h"
#include "render/renderer.h"
#include "render/shadowbin.h"
#include "render/shadowvolume.h"
#include "scenes.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace lumo::test {
namespace {

// ---------------------------------------------------------------- clipper

class Clipper : public ::testing::Test {
protected:
    Viewport viewport = [] {
        CaptureStdout quiet;
        return Viewport(320, 180, 320.0f / 180.0f);
    }();
    vec4 out[kShadowClipVertices];
};

TEST_F(Clipper, InsideTriangleAndQuadMapToTheScreenUnchanged) {
    const vec4 a(0, 0, 0, 1), b(1, 0, 0.5f, 2), c(0, -1, 0, 2), d(-1, -1, 0, 2);
    ASSERT_EQ(clipAndEmitTriangle(a, b, c, viewport.screen, out), 1);
    EXPECT_EQ(out[0], vec4(160, 90, 0, 1));
    EXPECT_EQ(out[1], vec4(240, 90, 0.25f, 1));
    EXPECT_EQ(out[2], vec4(160, 135, 0, 1));
    ASSERT_EQ(clipAndEmitQuad(a, b, c, d, viewport.screen, out), 2);
    // (Q1, Q2, Q3) and (Q1, Q3, Q4).
    EXPECT_EQ(out[3], out[0]);
    EXPECT_EQ(out[4], out[2]);
    EXPECT_EQ(out[5], vec4(80, 135, 0, 1));
}

TEST_F(Clipper, WhollyOutsideOnePlaneAppendsNothing) {
    // Each vertex outside a different pair of planes, but all beyond x = w.
    EXPECT_EQ(clipAndEmitTriangle(vec4(3, 0, 0, 1), vec4(3, 5, 0, 1), vec4(2, -5, 0, 1),
                                  viewport.screen, out),
              0);
    // Behind the near plane (z < -w).
    EXPECT_EQ(clipAndEmitTriangle(vec4(0, 0, -2, 1), vec4(0.5f, 0, -3, 1), vec4(0, 0.5f, -2, 1),
                                  viewport.screen, out),
              0);
}

TEST_F(Clipper, CrossingPlanesGivesAFanInsideTheScreen) {
    // A big triangle crossing all four sides and the near plane.
    const vec4 a(-5, -5, 0.5f, 1), b(5, -4, 0.5f, 1), c(0, 6, -3, 1);
    int n = clipAndEmitTriangle(a, b, c, viewport.screen, out);
    ASSERT_GE(n, 2);
    ASSERT_LE(n, kShadowPolygonVertices - 2);
    for (int i = 0; i < 3 * n; ++i) {
        EXPECT_GE(out[i].x, -1e-3f);
        EXPECT_LE(out[i].x, 320.001f);
        EXPECT_GE(out[i].y, -1e-3f);
        EXPECT_LE(out[i].y, 180.001f);
        EXPECT_GE(out[i].z, -1.0001f); // nothing in front of the near plane
    }
    // The fan keeps the winding: every triangle has the sign of the source.
    for (int i = 0; i < n; ++i) {
        const vec4 &p = out[3 * i], &q = out[3 * i + 1], &r = out[3 * i + 2];
        float area = (q.x - p.x) * (r.y - p.y) - (r.x - p.x) * (q.y - p.y);
        EXPECT_LE(area, 0.0f) << i;
    }
}

TEST_F(Clipper, PointsAtInfinityLandOnDepthOne) {
    const vec4 light(0, 0, 0, 1);
    vec4 v(0.3f, -0.2f, -2.0f, 1.0f);
    vec4 e = viewport.projection.transform(extrude(v, light));
    EXPECT_EQ(e.w, 2.0f);
    vec4 v2(-0.3f, -0.2f, -2.0f, 1.0f), v3(0.0f, 0.3f, -2.5f, 1.0f);
    ASSERT_EQ(clipAndEmitTriangle(e, viewport.projection.transform(extrude(v2, light)),
                                  viewport.projection.transform(extrude(v3, light)),
                                  viewport.screen, out),
              1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out[i].z, 1.0f);
    }
}

TEST(ShadowBinTest, GrowsKeepingItsContents) {
    ShadowBin bin(4);
    for (int i = 0; i < 4; ++i) {
        bin.vertices[i] = vec4(float(i), 0, 0, 1);
    }
    bin.reserve(4, 0);
    EXPECT_EQ(bin.capacity(), 4);
    bin.reserve(4, 3);
    EXPECT_GE(bin.capacity(), 8);
    const vec4* data = bin.vertices.data();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bin.vertices[i].x, float(i));
    }
    bin.reserve(7, 1); // fits: no new allocation
    EXPECT_EQ(bin.vertices.data(), data);
}

TEST(InvertModelView, SingularAndRegularMatrices) {
    mat44 out = mat44::identity();
    EXPECT_FALSE(invertModelView(mat44::scale(0.0f), out));
    EXPECT_EQ(out, mat44::identity());
    mat44 m = eulerTranslation(vec4(0.3f, 1.1f, -0.4f), vec4(2, -3, 5)) * mat44::scale(2.5f);
    ASSERT_TRUE(invertModelView(m, out));
    mat44 p = m * out;
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(p.m[i], mat44::identity().m[i], 1e-5f) << i;
    }
}

// ---------------------------------------------------------------- frames

const int kWidth = 320, kHeight = 176;

struct Rig {
    Assets& assets;
    int threads;
    std::unique_ptr<Renderer> renderer;
    ColorBuffer color{kWidth, kHeight};
    DepthBuffer depth{kWidth, kHeight};
    StencilBuffer stencil{kWidth, kHeight};

    Rig(Assets& a, int threadCount) : assets(a), threads(threadCount) {
        CaptureStdout quiet;
        renderer = std::make_unique<Renderer>(kWidth, kHeight, a.textures.get(), threads);
        renderer->colorBuffer = &color;
        renderer->depthBuffer = &depth;
        renderer->stencilBuffer = &stencil;
        renderer->pipeline->ambient = 0.2f;
    }

    void render(const mat44& view, std::vector<Light*> lights,
                std::vector<MeshInstance>& instances) {
        renderer->beginFrame();
        renderer->setViewMatrix(view);
        renderer->clearColor = true;
        renderer->clearDepth = true;
        for (Light* l : lights) {
            renderer->addLight(l);
        }
        for (MeshInstance& i : instances) {
            renderer->addInstance(&i);
        }
        renderer->transformAll();
        renderer->renderFrame();
    }
};

Assets& sharedAssets() {
    static Assets a = makeAssets();
    return a;
}

MeshInstance place(int mesh, float scale, vec4 position, vec4 angles = vec4(),
                   bool shadow = false) {
    MeshInstance instance(mesh, sharedAssets().meshes.get());
    instance.scale = scale;
    instance.placement = mat44::translation(position);
    instance.rotation = eulerRotation(angles);
    instance.castsShadow = shadow;
    return instance;
}

Light pointLight(vec4 position, bool shadow) {
    return Light{position, vec4(1, 0.9f, 0.8f), 60.0f, vec4(1, 1, 1), 0.0f, shadow, {}};
}

// Does the segment from p to q meet the axis-aligned box [lo, hi]?
bool segmentHitsBox(vec4 p, vec4 q, vec4 lo, vec4 hi) {
    float t0 = 0.0f, t1 = 1.0f;
    const float P[3] = {p.x, p.y, p.z}, D[3] = {q.x - p.x, q.y - p.y, q.z - p.z};
    const float L[3] = {lo.x, lo.y, lo.z}, H[3] = {hi.x, hi.y, hi.z};
    for (int k = 0; k < 3; ++k) {
        if (D[k] == 0.0f) {
            if (P[k] < L[k] || P[k] > H[k]) {
                return false;
            }
            continue;
        }
        float a = (L[k] - P[k]) / D[k], b = (H[k] - P[k]) / D[k];
        t0 = std::max(t0, std::min(a, b));
        t1 = std::min(t1, std::max(a, b));
    }
    return t0 <= t1;
}

struct CubeCase {
    const char* name;
    mat44 view;
    vec4 light;
};

// The cube [-0.5, 0.5] x [1, 2] x [-0.5, 0.5] above the plane y = 0. Plane pixels
// whose way to the light crosses the cube shrunk by a margin are in shadow; those
// whose way misses the cube grown by a margin are lit. Pixels near the border,
// off the plane or hiding behind the cube are not judged.
void checkCube(const CubeCase& c, int threads, int* judgedShadow = nullptr,
               int* judgedLit = nullptr) {
    Assets& a = sharedAssets();
    const vec4 centre(0, 1.5f, 0), half(0.5f, 0.5f, 0.5f);
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4()),
                                           place(a.box, 0.5f, centre, vec4(), true)};
    Light light = pointLight(c.light, true);

    Rig ambientOnly(a, threads);
    ambientOnly.render(c.view, {}, instances);
    Rig rig(a, threads);
    rig.render(c.view, {&light}, instances);

    mat44 eye;
    ASSERT_TRUE(invert(c.view, eye));
    const vec4 camera = eye.transform(vec4(0, 0, 0, 1));
    const mat44& proj = rig.renderer->viewport->projection;
    auto grown = [&](float k) { return std::pair(centre - half * k, centre + half * k); };
    const auto [innerLo, innerHi] = grown(0.85f);
    const auto [outerLo, outerHi] = grown(1.15f);
    int inside = 0, outside = 0;
    {
        std::vector<uint32_t> picture(size_t(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const vec4& v = rig.color.at(x, y);
                auto byte = [](float f) { return uint32_t(std::clamp(f, 0.0f, 1.0f) * 255.0f); };
                uint32_t s = rig.stencil.at(x, y);
                picture[size_t(y) * kWidth + x] =
                    byte(v.x) << 16 | byte(v.y) << 8 | (s ? 255u : byte(v.z));
            }
        }
        writePng(std::string(LUMO_TEST_OUTPUT_DIR) + "/shadow-cube-" + c.name + ".png",
                 picture.data(), kWidth, kHeight);
    }
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            float nx = 2.0f * x / kWidth - 1.0f, ny = 1.0f - 2.0f * y / kHeight;
            vec4 dir = eye.transformDirection(vec4(nx / proj.m[0], ny / proj.m[5], -1.0f));
            if (dir.y >= -1e-4f) {
                continue;
            }
            float t = -camera.y / dir.y;
            vec4 p = camera + dir * t;
            p.w = 1.0f;
            if (std::fabs(p.x) > 7.5f || std::fabs(p.z) > 7.5f ||
                segmentHitsBox(camera, p, outerLo, outerHi)) {
                continue;
            }
            const uint8_t count = rig.stencil.at(x, y);
            const vec4& lit = rig.color.at(x, y);
            const vec4& dark = ambientOnly.color.at(x, y);
            if (segmentHitsBox(p, c.light, innerLo, innerHi)) {
                ++inside;
                ASSERT_NE(count, 0) << c.name << " pixel " << x << "," << y;
                ASSERT_EQ(lit, dark) << c.name << " pixel " << x << "," << y;
            } else if (!segmentHitsBox(p, c.light, outerLo, outerHi)) {
                ++outside;
                ASSERT_EQ(count, 0) << c.name << " pixel " << x << "," << y;
                ASSERT_GT(lit.x, dark.x) << c.name << " pixel " << x << "," << y;
            }
        }
    }
    EXPECT_GT(inside, 300) << c.name;
    EXPECT_GT(outside, 300) << c.name;
    if (judgedShadow) {
        *judgedShadow = inside;
    }
    if (judgedLit) {
        *judgedLit = outside;
    }
}

const CubeCase kCubeCases[] = {
    // Outside the volume, looking down at the cube and its shadow.
    {"outside", eulerTranslation(vec4(0.9f, 0, 0), vec4(0, -7, -6)), vec4(2.2f, 6, -1.2f, 1)},
    // Under the cube, inside its volume: the sides cross the near plane.
    {"inside", eulerTranslation(vec4(0.9f, 0.3f, 0), vec4(-0.1f, -0.5f, -0.1f)),
     vec4(0.3f, 6, 0.2f, 1)},
    // A low light: the shadow runs out across the side planes of the view.
    {"sides", eulerTranslation(vec4(0.7f, -0.4f, 0), vec4(-1, -2.5f, -3.5f)),
     vec4(-4, 2.6f, -1, 1)},
};

TEST(ShadowFrames, CubeOnAPlaneMatchesTheGeometricShadow) {
    for (const CubeCase& c : kCubeCases) {
        checkCube(c, 1);
    }
}

TEST(ShadowFrames, CubeShadowWithSeveralWorkers) {
    for (const CubeCase& c : kCubeCases) {
        checkCube(c, 3);
    }
}

TEST(ShadowFrames, CameraInsideTheVolumeSeesItsSurroundingsShadowed) {
    // The camera's own position is in the shadow: the volume encloses it.
    const CubeCase& c = kCubeCases[1];
    mat44 eye;
    ASSERT_TRUE(invert(c.view, eye));
    vec4 camera = eye.transform(vec4(0, 0, 0, 1));
    EXPECT_TRUE(segmentHitsBox(camera, c.light, vec4(-0.5f, 1.0f, -0.5f), vec4(0.5f, 2.0f, 0.5f)));
}

// ---------------------------------------------------------------- builder

TEST(ShadowBuilder, OpenCasterGivesNearCapsOnly) {
    // A cube without its top fails the closedness check: its plane blocks stay
    // zero, every facing value is 0, and each face becomes a near cap, with no
    // sides and no far cap.
    Assets& a = sharedAssets();
    std::unique_ptr<Mesh> box = makeBox(a.lit);
    auto open = std::make_unique<Mesh>();
    open->vertices = box->vertices;
    open->vertexCount = box->vertexCount;
    open->normals = box->normals;
    open->normalCount = box->normalCount;
    open->texcoords = box->texcoords;
    open->texcoordCount = box->texcoordCount;
    open->materials.push_back(a.lit);
    for (const MeshFace& f : box->faces) {
        if (box->vertices[f.vertexIndex[0]].position.y > 0.0f &&
            box->vertices[f.vertexIndex[1]].position.y > 0.0f &&
            box->vertices[f.vertexIndex[2]].position.y > 0.0f) {
            continue; // the top
        }
        MeshFace face;
        std::copy(f.vertexIndex, f.vertexIndex + 3, face.vertexIndex);
        std::copy(f.normalIndex, f.normalIndex + 3, face.normalIndex);
        face.normal = f.normal;
        face.material = &open->materials.front();
        open->faces.push_back(face);
    }
    open->faceCount = int(open->faces.size());
    ASSERT_EQ(open->faceCount, 10);
    {
        CaptureStdout out;
        open->buildAdjacency();
        EXPECT_NE(out.text().find("((( non 2-manifold: open edge )))"), std::string::npos);
    }
    ASSERT_FALSE(open->manifold);
    MeshStore store;
    const int index = store.add(std::move(open));
    MeshInstance instance(index, &store);
    instance.placement = mat44::translation(vec4(0, 0, -8));
    instance.castsShadow = true;
    std::vector<MeshInstance> instances = {instance};
    Light light = pointLight(vec4(0, 0, -4, 1), true);
    Rig rig(a, 2);
    rig.render(mat44::identity(), {&light}, instances);
    // All ten faces in view, nothing clipped, nothing at infinity.
    EXPECT_EQ(rig.renderer->shadowTriangles, 10);
    for (int t = 0; t < 2; ++t) {
        for (int i = 0; i < rig.renderer->shadowCounts[t]; ++i) {
            EXPECT_LT(rig.renderer->shadowBins[t].vertices[i].z, 1.0f);
        }
    }
}

TEST(ShadowBuilder, ClosedCasterHasCapsAndSides) {
    // A cube with the light between it and the camera, everything in view so that
    // nothing is clipped: its front looks at the light (a near cap of 2
    // triangles), the other 10 faces are turned away (the far cap), and the 4
    // edges of the front are the silhouette (2 triangles each).
    Assets& a = sharedAssets();
    std::vector<MeshInstance> instances = {place(a.box, 1, vec4(0, 0, -8), vec4(), true)};
    Light light = pointLight(vec4(0, 0, -4, 1), true);
    for (int threads : {1, 2, 5}) {
        Rig rig(a, threads);
        rig.render(mat44::identity(), {&light}, instances);
        int total = 0, far = 0;
        for (int t = 0; t < threads; ++t) {
            const int count = rig.renderer->shadowCounts[t];
            total += count;
            for (int i = 0; i < count; ++i) {
                far += rig.renderer->shadowBins[t].vertices[i].z == 1.0f;
            }
        }
        EXPECT_EQ(total, 3 * (2 + 10 + 8)) << threads;
        EXPECT_EQ(rig.renderer->shadowTriangles, 2 + 10 + 8);
        // Far cap: 10 triangles at infinity; sides: two of each quad's corners.
        EXPECT_EQ(far, 3 * 10 + 4 * 3) << threads;
    }
}

TEST(ShadowBuilder, SingularCasterCastsNothing) {
    Assets& a = sharedAssets();
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4()),
                                           place(a.sphere, 0.0f, vec4(0, 1, 0), vec4(), true)};
    Light light = pointLight(vec4(0.5f, 6, 0.3f, 1), true);
    Rig rig(a, 2);
    rig.render(kCubeCases[0].view, {&light}, instances);
    EXPECT_EQ(rig.renderer->shadowCounts[0] + rig.renderer->shadowCounts[1], 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const vec4& c = rig.color.at(x, y);
            ASSERT_TRUE(std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z));
            ASSERT_EQ(rig.stencil.at(x, y), 0);
        }
    }
}

// ---------------------------------------------------------------- lights

TEST(ShadowLights, ShadowLightWithoutCastersLightsLikeAnUnshadowedOne) {
    Assets& a = sharedAssets();
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4()),
                                           place(a.box, 0.5f, vec4(0, 1.5f, 0))};
    Light shadowed = pointLight(vec4(0.7f, 6, 0.4f, 1), true);
    Light plain = pointLight(vec4(0.7f, 6, 0.4f, 1), false);
    Rig withShadow(a, 2), without(a, 2);
    withShadow.render(kCubeCases[0].view, {&shadowed}, instances);
    without.render(kCubeCases[0].view, {&plain}, instances);
    EXPECT_EQ(withShadow.renderer->shadowCounts[0] + withShadow.renderer->shadowCounts[1], 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(withShadow.color.at(x, y), without.color.at(x, y));
        }
    }
}

TEST(ShadowLights, TwoShadowedLightsAndOneUnshadowed) {
    // Where only the first light is blocked the picture equals one rendered
    // without that light; where only the second is, one without the second; where
    // neither is, one with no shadows at all. The float sums agree bit for bit
    // because a masked light adds nothing at all.
    Assets& a = sharedAssets();
    const vec4 centre(0, 1.5f, 0), lo(-0.5f, 1, -0.5f), hi(0.5f, 2, 0.5f);
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4()),
                                           place(a.box, 0.5f, centre, vec4(), true)};
    const vec4 p1(2.5f, 5, 0.5f, 1), p2(-2.5f, 5, -0.5f, 1), p3(0, 4, 3, 1);
    Light s1 = pointLight(p1, true), u = pointLight(p3, false), s2 = pointLight(p2, true);
    Light s1Plain = pointLight(p1, false), s2Plain = pointLight(p2, false);
    const mat44 view = kCubeCases[0].view;
    Rig all(a, 3), noFirst(a, 3), noSecond(a, 3), noShadows(a, 3);
    all.render(view, {&s1, &u, &s2}, instances);
    // A light that adds nothing keeps its place in the order of the others.
    Light off1 = s1Plain, off2 = s2Plain;
    off1.diffuse = 0.0f;
    off2.diffuse = 0.0f;
    noFirst.render(view, {&off1, &u, &s2Plain}, instances);
    noSecond.render(view, {&s1Plain, &u, &off2}, instances);
    noShadows.render(view, {&s1Plain, &u, &s2Plain}, instances);
    EXPECT_EQ(all.renderer->shadowLightCount, 2);

    mat44 eye;
    ASSERT_TRUE(invert(view, eye));
    const vec4 camera = eye.transform(vec4(0, 0, 0, 1));
    const mat44& proj = all.renderer->viewport->projection;
    int counted[3] = {};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            float nx = 2.0f * x / kWidth - 1.0f, ny = 1.0f - 2.0f * y / kHeight;
            vec4 dir = eye.transformDirection(vec4(nx / proj.m[0], ny / proj.m[5], -1.0f));
            if (dir.y >= -1e-4f) {
                continue;
            }
            vec4 p = camera + dir * (-camera.y / dir.y);
            p.w = 1.0f;
            const vec4 m(0.1f, 0.1f, 0.1f);
            if (std::fabs(p.x) > 7.5f || std::fabs(p.z) > 7.5f ||
                segmentHitsBox(camera, p, lo - m, hi + m)) {
                continue;
            }
            auto state = [&](vec4 l) {
                return segmentHitsBox(p, l, lo + m, hi - m)   ? 1
                       : segmentHitsBox(p, l, lo - m, hi + m) ? 2
                                                              : 0;
            };
            const int b1 = state(p1), b2 = state(p2);
            const vec4& got = all.color.at(x, y);
            if (b1 == 1 && b2 == 0) {
                ++counted[0];
                ASSERT_EQ(got, noFirst.color.at(x, y)) << x << "," << y;
            } else if (b1 == 0 && b2 == 1) {
                ++counted[1];
                ASSERT_EQ(got, noSecond.color.at(x, y)) << x << "," << y;
            } else if (b1 == 0 && b2 == 0) {
                ++counted[2];
                ASSERT_EQ(got, noShadows.color.at(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(counted[0], 100);
    EXPECT_GT(counted[1], 100);
    EXPECT_GT(counted[2], 1000);
}

TEST(ShadowLights, LightsBeyondTheSlotsAreDrawnWithoutShadows) {
    Assets& a = sharedAssets();
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4()),
                                           place(a.box, 0.5f, vec4(0, 1.5f, 0), vec4(), true)};
    std::vector<Light> shadowed, expected;
    for (int i = 0; i < 12; ++i) {
        vec4 p(std::cos(float(i)) * 3.0f, 5.0f + 0.1f * float(i), std::sin(float(i)) * 3.0f, 1);
        shadowed.push_back(pointLight(p, true));
        shadowed.back().diffuse = 4.0f;
        expected.push_back(shadowed.back());
        expected.back().castsShadow = i < Renderer::kShadowSlots;
    }
    std::vector<Light*> s, e;
    for (int i = 0; i < 12; ++i) {
        s.push_back(&shadowed[i]);
        e.push_back(&expected[i]);
    }
    Rig rig(a, 2), reference(a, 2);
    rig.render(kCubeCases[0].view, s, instances);
    EXPECT_EQ(rig.renderer->unshadowedLights, 2);
    EXPECT_EQ(rig.renderer->shadowLightCount, Renderer::kShadowSlots);
    reference.render(kCubeCases[0].view, e, instances);
    EXPECT_EQ(reference.renderer->unshadowedLights, 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(rig.color.at(x, y), reference.color.at(x, y));
        }
    }
    CaptureStdout out;
    rig.renderer->pipeline->printStatistics();
    std::string text = out.text();
    EXPECT_NE(text.find("  unshadowed:    2 shadow-casting lights beyond the shadow slots"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  slot  9:"), std::string::npos) << text;
}

TEST(ShadowLights, FullBinsGrowAndTheFrameStaysExact) {
    // A dense sphere near the camera: one worker's bin needs far more than the
    // 10000 vertices it starts with. Two workers share the load; the counts and
    // the picture agree, and a second frame of the same size allocates nothing.
    Assets& a = sharedAssets();
    static std::unique_ptr<MeshStore> store;
    static int dense = 0;
    if (!store) {
        store = std::make_unique<MeshStore>();
        dense = store->add(makeSphere(90, 60, a.lit));
    }
    std::vector<MeshInstance> instances = {place(a.plane, 8, vec4())};
    MeshInstance sphere(dense, store.get());
    sphere.placement = mat44::translation(vec4(0, 1.5f, 0));
    sphere.castsShadow = true;
    instances.push_back(sphere);
    Light light = pointLight(vec4(0.7f, 6, 0.4f, 1), true);
    Rig one(a, 1), two(a, 2);
    one.render(kCubeCases[0].view, {&light}, instances);
    const int used = one.renderer->shadowCounts[0];
    EXPECT_GT(used, Renderer::kShadowBinVertices);
    const vec4* data = one.renderer->shadowBins[0].vertices.data();
    one.render(kCubeCases[0].view, {&light}, instances);
    EXPECT_EQ(one.renderer->shadowBins[0].vertices.data(), data);
    EXPECT_EQ(one.renderer->pipeline->shadowMarks.bins[0], used);
    two.render(kCubeCases[0].view, {&light}, instances);
    EXPECT_EQ(two.renderer->shadowCounts[0] + two.renderer->shadowCounts[1], used);
    int shadowed = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(one.stencil.at(x, y), two.stencil.at(x, y));
            ASSERT_EQ(one.color.at(x, y), two.color.at(x, y));
            shadowed += one.stencil.at(x, y) != 0;
        }
    }
    EXPECT_GT(shadowed, 1000);
}

// Run under the thread sanitizer this is the race check of the build phase, the
// bins-ready barrier and the counting phase.
TEST(ShadowFrames, HundredsOfShadowedFramesWithFourWorkers) {
    RenderOptions options;
    options.threads = 1;
    options.width = 160;
    options.height = 96;
    options.frames = 1;
    std::vector<Picture> reference = renderScene(sharedAssets(), Scene::Shadows, options);
    options.threads = 4;
    options.frames = 300;
    std::vector<Picture> pictures = renderScene(sharedAssets(), Scene::Shadows, options);
    EXPECT_TRUE(pictures[0] == reference[0]);
    // Balancing moved the bands around; the last frame still matches one worker.
    options.threads = 1;
    options.frames = 300;
    EXPECT_TRUE(renderScene(sharedAssets(), Scene::Shadows, options).back() == pictures.back());
}

} // namespace
} // namespace lumo::test
