// Geometry pipeline: culling, clipping, pool indices, sorting, statistics and
// what happens when a frame does not fit into the pools.

#include "render/pipeline.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <memory>

namespace lumo {
namespace {

using test::meshOf;
using test::Tri;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CaptureStdout quiet;
        viewport = std::make_unique<Viewport>(640, 360, 640.0f / 360.0f);
        pipeline = std::make_unique<Pipeline>(nullptr);
    }
    // One instance of a mesh made of the triangles, identity view.
    void run(const std::vector<Tri>& tris) {
        meshes.add(meshOf(tris, &material));
        MeshInstance instance(meshes.size() - 1, &meshes);
        pipeline->resetFrame();
        pipeline->transformInstance(instance, mat44::identity(), *viewport);
        pipeline->sortFaces();
        pipeline->projectVertices(*viewport);
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
    EXPECT_EQ(pipeline->texcoordCount, 4);
    EXPECT_EQ(pipeline->faces[0].texcoordIndex[1], 2);
    EXPECT_EQ(pipeline->faces[0].normalIndex[1], 1);
    EXPECT_EQ(pipeline->faces[0].cornerCount, 3);
    EXPECT_EQ(pipeline->faces[0].material, &material);
    EXPECT_EQ(pipeline->faces[0].spare, 7);
    // Behind the near plane: nothing emitted, but the vertices are counted.
    run({{{-0.5f, -0.5f, 1}, {0, 0.5f, 1}, {0.5f, -0.5f, 1}, vec4(0, 0, -1, 0)}});
    EXPECT_EQ(pipeline->faceCount, 0);
    EXPECT_EQ(pipeline->vertexCount, 3);
    // One corner outside: a fan of two triangles from the first corner, with two
    // new corners on the right plane and interpolated attributes.
    run({{{-0.5f, -0.5f, -5}, {10.0f, -0.2f, -5}, {0, 0.5f, -5}, kToCamera}});
    ASSERT_EQ(pipeline->faceCount, 2);
    EXPECT_EQ(pipeline->vertexCount, 5);
    EXPECT_EQ(pipeline->normalCount, 5);
    EXPECT_EQ(pipeline->texcoordCount, 6);
    const MeshFace &f0 = pipeline->faces[0], &f1 = pipeline->faces[1];
    EXPECT_EQ(f0.vertexIndex[0], f1.vertexIndex[0]);
    EXPECT_EQ(f0.vertexIndex[2], f1.vertexIndex[1]);
    for (int v = 3; v < 5; ++v) {
        EXPECT_NEAR(viewport->planes[PlaneRight].distance(pipeline->vertices[v].viewPos), 0.0f,
                    1e-4f);
        EXPECT_NEAR(pipeline->vertices[v].screenPos.x, 640.0f, 1e-2f);
        EXPECT_NEAR(pipeline->normals[v].z, 1.0f, 1e-6f);
    }
    EXPECT_GT(pipeline->texcoords[4].x, 0.0f);
    EXPECT_LT(pipeline->texcoords[4].x, 0.5f);
}

TEST_F(PipelineTest, EdgeOnStaysAwayFacingIsDropped) {
    const vec4 a(0, -0.5f, -5), b(0, 0.5f, -5), c(0, 0, -6);
    run({{a, b, c, vec4(1, 0, 0, 0)}});
    EXPECT_EQ(pipeline->faceCount, 1);
    run({{a, b, c, normalize(vec4(1, 0, -0.001f, 0))}});
    EXPECT_EQ(pipeline->faceCount, 0);
}

// The pool entries are exactly the matrix products of the math library.
TEST_F(PipelineTest, TransformsMatchTheMatrixOperationsBitForBit) {
    std::vector<Tri> tris;
    for (int i = 0; i < 9; ++i) {
        float f = 0.37f * float(i);
        tris.push_back({{-0.5f + f, -0.5f, -5 - f},
                        {0.5f, -0.5f + f, -5},
                        {0, 0.5f, -5.5f + f},
                        normalize(vec4(0.1f * f, 0.2f, 1, 0))});
    }
    meshes.add(meshOf(tris, &material));
    MeshInstance instance(meshes.size() - 1, &meshes);
    instance.scale = 1.7f;
    instance.rotation = eulerRotation(vec4(0.3f, -1.1f, 0.7f));
    instance.placement = mat44::translation(vec4(0.4f, -0.3f, -2.0f));
    const mat44 view = eulerTranslation(vec4(0.1f, 0.2f, -0.05f), vec4(0.3f, 0.1f, -1.0f));
    pipeline->resetFrame();
    pipeline->transformInstance(instance, view, *viewport);
    pipeline->projectVertices(*viewport);
    const mat44 m = view * instance.world;
    const Mesh& mesh = meshes[instance.meshIndex];
    for (int i = 0; i < mesh.vertexCount; ++i) {
        const PipelineVertex& v = pipeline->vertices[i];
        ASSERT_EQ(v.viewPos, m.transform(mesh.vertices[i].position)) << i;
        ASSERT_EQ(v.normal, normalize(m.transformDirection(mesh.vertices[i].normal))) << i;
        vec4 clip = viewport->projection.transform(v.viewPos);
        float inv = 1.0f / clip.w;
        ASSERT_EQ(v.screenPos,
                  viewport->screen.transform(vec4(clip.x * inv, clip.y * inv, clip.z * inv, 1)));
    }
}

// Faces are tested for facing four at a time: the kept ones and their normals
// are those of the one-face expressions, in order (two full groups and one lane).
TEST_F(PipelineTest, FacingTestMatchesTheOneFaceExpressions) {
    std::vector<Tri> tris;
    for (int i = 0; i < 9; ++i) {
        float x = -1.6f + 0.4f * float(i);
        float towards = i % 3 == 1 ? -1.0f : 1.0f;
        tris.push_back({{x, -0.2f, -5},
                        {x + 0.3f, -0.2f, -5},
                        {x, 0.2f, -5.1f},
                        normalize(vec4(0.1f * float(i), 0.2f, towards, 0))});
    }
    meshes.add(meshOf(tris, &material));
    MeshInstance instance(meshes.size() - 1, &meshes);
    instance.scale = 1.3f;
    instance.rotation = eulerRotation(vec4(0, 0, 0.3f));
    pipeline->resetFrame();
    pipeline->transformInstance(instance, mat44::identity(), *viewport);
    const mat44& m = instance.world;
    const Mesh& mesh = meshes[instance.meshIndex];
    std::vector<vec4> kept;
    for (int f = 0; f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        vec4 n = normalize(m.transformDirection(face.normal));
        vec4 p = m.transform(mesh.vertices[face.vertexIndex[0]].position);
        if (!(dot(p - vec4(0, 0, 0, 1), n) > 0.0f)) {
            kept.push_back(n);
        }
    }
    ASSERT_EQ(kept.size(), 6u);
    ASSERT_EQ(pipeline->faceCount, 6);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(pipeline->faces[i].normal, kept[i]) << i;
    }
}

TEST_F(PipelineTest, SortIsFrontToBackAndStable) {
    std::vector<Tri> tris;
    const float depths[5] = {-8, -3, -5, -3, -4};
    for (float z : depths) {
        tris.push_back({{-0.5f, -0.5f, z}, {0.5f, -0.5f, z}, {0, 0.5f, z}, kToCamera});
    }
    run(tris);
    ASSERT_EQ(pipeline->faceCount, 5);
    const int expected[5] = {1, 3, 4, 2, 0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pipeline->order[i], expected[i]) << i;
    }
    EXPECT_EQ(pipeline->nearKeys[1], 3 * 65536);
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
    meshes.add(std::move(m));
    MeshInstance instance(meshes.size() - 1, &meshes);
    pipeline->resetFrame();
    pipeline->transformInstance(instance, mat44::identity(), *viewport);
    ASSERT_EQ(pipeline->faceCount, 2);
    const MeshFace& f = pipeline->faces[0];
    EXPECT_EQ(pipeline->normals[f.normalIndex[0]], pipeline->vertices[0].normal);
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
    EXPECT_EQ(pipeline->vertexCount, 99000); // 33 instances fit
    EXPECT_EQ(pipeline->dropped.meshes, 7);
    EXPECT_EQ(instances[33].firstVertex, nullptr);
    EXPECT_NE(instances[32].firstVertex, nullptr);
    Light lights[20];
    for (Light& l : lights) {
        LightEntry e{&l, -1, 0};
        pipeline->registerLight(e, mat44::identity());
        if (&l == &lights[19]) {
            EXPECT_EQ(e.lightIndex, -1);
        }
    }
    EXPECT_EQ(pipeline->lightCount, 16);
    pipeline->raiseStatistics();
    test::CaptureStdout out;
    pipeline->printStatistics();
    EXPECT_EQ(out.text(), "-[ pipeline statistics ]----------------\n"
                          " vertices:    99000 /   100000,   99%\n"
                          "    faces:    33000 /   100000,   33%\n"
                          "texcoords:    99033 /   100000,   99%\n"
                          "  normals:    99000 /   100000,   99%\n"
                          "  dropped:        7 meshes,        0 faces,    4 lights (most in one "
                          "frame)\n"
                          "\n");
}

} // namespace
} // namespace lumo
