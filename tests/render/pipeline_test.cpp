// Geometry pipeline: culling, clipping, pool indices, sorting, statistics and
// what happens when a frame does not fit into the pools.

#include "render/internal/pipeline.h"
#include "scenes.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace lumo {
namespace {

using test::meshOf;
using test::Tri;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogCapture quiet(false);
        viewport = std::make_unique<Viewport>(640, 360, 640.0f / 360.0f);
        pipeline = std::make_unique<Pipeline>(nullptr);
    }
    // One instance of the mesh through the frame's geometry stages.
    MeshInstance run(std::unique_ptr<Mesh> mesh, const mat44& view = mat44::identity(),
                     float scale = 1.0f, vec4 position = vec4(), vec4 angles = vec4()) {
        MeshInstance instance =
            MeshInstance::placed(meshes.add(std::move(mesh)), &meshes, scale, position, angles);
        pipeline->resetFrame();
        pipeline->transformInstance(instance, view, *viewport);
        pipeline->sortFaces();
        pipeline->projectVertices(*viewport);
        return instance;
    }
    MeshInstance run(const std::vector<Tri>& tris) { return run(meshOf(tris, &material)); }
    // The pools' contents as bytes: the counts, each face's corner indices and
    // normal, the vertices, normals and texture coordinates.
    std::string pools() const {
        std::string out;
        auto put = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
        const Pipeline& p = *pipeline;
        for (int n : {p.faceCount, p.vertexCount, p.normalCount, p.texcoordCount}) {
            put(&n, sizeof n);
        }
        for (int f = 0; f < p.faceCount; ++f) {
            put(p.faces[f].vertexIndex, 9 * sizeof(int32_t)); // the three index arrays
            put(&p.faces[f].normal, sizeof(vec4));
        }
        put(p.vertices.data(), p.vertexCount * sizeof(PipelineVertex));
        put(p.normals.data(), p.normalCount * sizeof(vec4));
        put(p.texcoords.data(), p.texcoordCount * sizeof(vec4));
        return out;
    }

    Material material;
    MeshStore meshes;
    std::unique_ptr<Viewport> viewport;
    std::unique_ptr<Pipeline> pipeline;
};

const vec4 kToCamera(0, 0, 1, 0);

TEST_F(PipelineTest, ClipsAgainstTheViewPlanes) {
    // Inside: emitted unchanged, with its attributes.
    run({{{-0.5f, -0.5f, -5}, {0.5f, -0.5f, -5}, {0, 0.5f, -5}, kToCamera}});
    ASSERT_EQ(pipeline->faceCount, 1);
    EXPECT_EQ(pipeline->faces[0].material, &material);
    EXPECT_EQ(pipeline->faces[0].spare, 7);
    // Behind the near plane: nothing emitted.
    run({{{-0.5f, -0.5f, 1}, {0, 0.5f, 1}, {0.5f, -0.5f, 1}, vec4(0, 0, -1, 0)}});
    EXPECT_EQ(pipeline->faceCount, 0);
    // One corner outside: a fan of two triangles from the first corner, with two
    // new corners on the right plane and interpolated attributes.
    run({{{-0.5f, -0.5f, -5}, {10.0f, -0.2f, -5}, {0, 0.5f, -5}, kToCamera}});
    ASSERT_EQ(pipeline->faceCount, 2);
    EXPECT_EQ(pipeline->vertexCount, 5);
    const MeshFace &f0 = pipeline->faces[0], &f1 = pipeline->faces[1];
    EXPECT_EQ(f0.vertexIndex[0], f1.vertexIndex[0]);
    EXPECT_EQ(f0.vertexIndex[2], f1.vertexIndex[1]);
    for (int v = 3; v < 5; ++v) {
        EXPECT_NEAR(viewport->plane(FrustumPlane::Right).distance(pipeline->vertices[v].viewPos),
                    0.0f, 1e-4f);
        EXPECT_NEAR(pipeline->vertices[v].screenPos.x, 640.0f, 1e-2f);
        EXPECT_NEAR(pipeline->normals[v].z, 1.0f, 1e-6f);
    }
    EXPECT_TRUE(pipeline->texcoords[4].x > 0.0f && pipeline->texcoords[4].x < 0.5f);
    // Edge-on stays; facing away by a little is dropped.
    const vec4 a(0, -0.5f, -5), b(0, 0.5f, -5), c(0, 0, -6);
    run({{a, b, c, vec4(1, 0, 0, 0)}});
    EXPECT_EQ(pipeline->faceCount, 1);
    run({{a, b, c, normalize(vec4(1, 0, -0.001f, 0))}});
    EXPECT_EQ(pipeline->faceCount, 0);
}

// The shortcuts for triangles wholly inside or wholly outside the view give
// the pools that the full clipping walk gives, on seeded triangles scattered
// over the frustum's sides, corners and near plane.
TEST_F(PipelineTest, ClippingShortcutsGiveTheFullWalksPools) {
    std::mt19937 random(77);
    std::uniform_real_distribution<float> x(-9.0f, 9.0f), y(-6.0f, 6.0f), z(-6.0f, 0.5f);
    std::vector<Tri> tris;
    for (int i = 0; i < 3000; ++i) {
        const vec4 a(x(random), y(random), z(random)), b(x(random), y(random), z(random)),
            c(x(random), y(random), z(random));
        tris.push_back({a, b, c, normalize(cross(b - a, c - a))});
    }
    run(tris);
    ASSERT_GT(pipeline->faceCount, 500);
    const std::string fast = pools();
    pipeline->clipFastPaths = false;
    run(tris);
    // Byte for byte: corners behind the eye project to NaN.
    EXPECT_TRUE(pools() == fast);
}

// The pool entries are exactly the expressions of the math library: each vertex,
// and the faces kept by the facing test, which takes four at a time (two full
// groups and one lane), with their normals, in order.
TEST_F(PipelineTest, TransformAndFacingMatchTheOneVertexAndOneFaceExpressions) {
    std::vector<Tri> tris;
    for (int i = 0; i < 9; ++i) {
        float x = -1.6f + 0.4f * float(i);
        float towards = i % 3 == 1 ? -1.0f : 1.0f;
        tris.push_back({{x, -0.2f, -5},
                        {x + 0.3f, -0.2f, -5},
                        {x, 0.2f, -5.1f},
                        normalize(vec4(0.1f * float(i), 0.2f, towards, 0))});
    }
    const mat44 view = eulerTranslation(vec4(0.1f, 0.2f, -0.05f), vec4(0.3f, 0.1f, -1.0f));
    const MeshInstance instance =
        run(meshOf(tris, &material), view, 1.3f, vec4(0.4f, -0.3f, 1.0f), vec4(0, 0, 0.3f));
    const mat44 m = view * instance.world;
    const Mesh& mesh = meshes[instance.meshIndex];
    for (int i = 0; i < mesh.vertexCount; ++i) { // one normal per vertex
        const PipelineVertex& v = pipeline->vertices[i];
        ASSERT_EQ(v.viewPos, m.transform(mesh.vertices[i].position)) << i;
        ASSERT_EQ(v.normal, normalize(m.transformDirection(mesh.vertices[i].normal))) << i;
        ASSERT_EQ(pipeline->normals[i], normalize(m.transformDirection(mesh.normals[i]))) << i;
        vec4 clip = viewport->projection.transform(v.viewPos);
        float inv = 1.0f / clip.w;
        ASSERT_EQ(v.screenPos,
                  viewport->screen.transform(vec4(clip.x * inv, clip.y * inv, clip.z * inv, 1)));
    }
    std::vector<vec4> kept, normals;
    for (const MeshFace& face : mesh.faces) {
        vec4 n = normalize(m.transformDirection(face.normal));
        vec4 p = m.transform(mesh.vertices[face.vertexIndex[0]].position);
        if (!(dot(p - vec4(0, 0, 0, 1), n) > 0.0f)) {
            kept.push_back(n);
        }
    }
    for (int f = 0; f < pipeline->faceCount; ++f) {
        normals.push_back(pipeline->faces[f].normal);
    }
    ASSERT_EQ(kept.size(), 6u);
    EXPECT_EQ(normals, kept);
}

TEST_F(PipelineTest, SortIsFrontToBackAndStable) {
    auto sorted = [&](std::initializer_list<float> depths) {
        std::vector<Tri> tris;
        for (float z : depths) {
            // Small enough not to be clipped at the nearest depth.
            tris.push_back({{-0.01f, -0.01f, z}, {0.01f, -0.01f, z}, {0, 0.01f, z}, kToCamera});
        }
        run(tris);
        return std::vector<int32_t>(pipeline->order.data(),
                                    pipeline->order.data() + pipeline->faceCount);
    };
    EXPECT_EQ(sorted({-8.0f, -3.0f, -5.0f, -3.0f, -4.0f}), (std::vector<int32_t>{1, 3, 4, 2, 0}));
    EXPECT_EQ(pipeline->nearKeys[1], 3 * 65536);
    // All keys equal; a range of a few bits (one pass); and beyond 2^31, where
    // far faces share the end key and the range takes every bit (three passes).
    EXPECT_EQ(sorted({-2.0f, -2.0f, -2.0f}), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(sorted({-2.0f, -2.001f, -2.0f, -2.0005f}), (std::vector<int32_t>{0, 2, 3, 1}));
    EXPECT_EQ(sorted({-50000.0f, -0.5f, -40000.0f, -1.0f, -30000.0f}),
              (std::vector<int32_t>{1, 3, 4, 0, 2}));
    EXPECT_EQ(pipeline->nearKeys[0], INT32_MAX);
    EXPECT_EQ(pipeline->nearKeys[2], INT32_MAX);
}

TEST_F(PipelineTest, MissingNormalUsesTheVertexNormalWithoutReadingOutside) {
    auto m =
        meshOf({{{-0.5f, -0.5f, -5}, {10.0f, -0.2f, -5}, {0, 0.5f, -5}, kToCamera}}, &material);
    for (int k = 0; k < 3; ++k) {
        m->faces[0].normalIndex[k] = -1;
        m->vertices[k].normal = normalize(vec4(0.1f * k, 0, 1, 0));
    }
    m->normals.clear();
    m->normalCount = 0;
    m->faces[0].texcoordIndex[1] = 99; // no such coordinate: samples (0, 0)
    run(std::move(m));
    ASSERT_EQ(pipeline->faceCount, 2);
    EXPECT_EQ(pipeline->normals[pipeline->faces[0].normalIndex[0]], pipeline->vertices[0].normal);
    EXPECT_EQ(pipeline->texcoords[pipeline->faces[0].texcoordIndex[0]].y, 0.5f);
}

TEST_F(PipelineTest, OverflowDropsAndIsReported) {
    std::vector<Tri> tris;
    for (int i = 0; i < 1000; ++i) {
        float z = -5.0f - 0.001f * i;
        tris.push_back({{-0.5f, -0.5f, z}, {0.5f, -0.5f, z}, {0, 0.5f, z}, kToCamera});
    }
    meshes.add(meshOf(tris, &material)); // 3000 vertices
    pipeline->resetFrame();
    std::vector<MeshInstance> instances(40, MeshInstance(meshes.size() - 1, &meshes));
    for (MeshInstance& instance : instances) {
        pipeline->transformInstance(instance, mat44::identity(), *viewport);
    }
    EXPECT_EQ(instances[33].firstVertex, nullptr); // 33 instances fit
    EXPECT_NE(instances[32].firstVertex, nullptr);
    Light lights[20];
    LightEntry e;
    for (Light& l : lights) {
        e = LightEntry{&l, -1, 0};
        pipeline->registerLight(e, mat44::identity());
    }
    EXPECT_EQ(e.lightIndex, -1); // 16 fit
    pipeline->raiseStatistics();
    const Pipeline& p = *pipeline;
    EXPECT_EQ(std::vector({p.maxVertices, p.maxFaces, p.maxTexcoords, p.maxNormals,
                           p.maxDropped.meshes, p.maxDropped.faces, p.maxDropped.lights}),
              std::vector({99000, 33000, 99033, 99000, 7, 0, 4}));
}

} // namespace
} // namespace lumo
