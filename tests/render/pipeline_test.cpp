// Geometry pipeline: culling, clipping, pool indices, sorting, statistics and
// what happens when a frame does not fit into the pools; shading: the
// shader-type table, texturing and the vertex colour cache.

#include "render/internal/pipeline.h"
#include "render/internal/shading.h"
#include "render/simd.h"
#include "scenes.h"
#include "sys/log.h"
#include "tests/support/meshgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <list>
#include <memory>
#include <random>
#include <string>

namespace lumo::test {
namespace {

// A pipeline over a 640 x 360 view with its own textures, meshes, instances and
// lights; prepare() runs the frame's geometry stages, shade() the passes.
class PipelineTest : public ::testing::Test {
protected:
    static constexpr int W = 640, H = 360;
    void SetUp() override {
        LogCapture quiet(false);
        viewport = std::make_unique<Viewport>(W, H, float(W) / H);
        pipeline = std::make_unique<Pipeline>(&textures);
    }
    void prepare(const mat44& view = mat44::identity()) {
        pipeline->resetFrame();
        for (MeshInstance& instance : instances) {
            pipeline->transformInstance(instance, view, *viewport);
        }
        for (LightEntry& e : entries) {
            pipeline->registerLight(e, view);
        }
        pipeline->sortFaces();
        pipeline->projectVertices(*viewport);
    }
    // The mesh as the frame's one instance.
    MeshInstance run(std::unique_ptr<Mesh> mesh, const mat44& view = mat44::identity(),
                     float scale = 1.0f, vec4 position = vec4(), vec4 angles = vec4()) {
        instances.assign(
            1, MeshInstance::placed(meshes.add(std::move(mesh)), &meshes, scale, position, angles));
        prepare(view);
        return instances[0];
    }
    MeshInstance run(const std::vector<Tri>& tris) { return run(meshOf(tris, &material)); }
    // The pools' contents as bytes: each face's corner indices and normal, the
    // vertices, normals and texture coordinates.
    std::string pools() const {
        std::string out;
        auto put = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
        const Pipeline& p = *pipeline;
        for (int f = 0; f < p.faceCount; ++f) {
            put(p.faces[f].vertexIndex, 9 * sizeof(int32_t)); // the three index arrays
            put(&p.faces[f].normal, sizeof(vec4));
        }
        put(p.vertices.data(), p.vertexCount * sizeof(PipelineVertex));
        put(p.normals.data(), p.normalCount * sizeof(vec4));
        put(p.texcoords.data(), p.texcoordCount * sizeof(vec4));
        return out;
    }

    // Every drawn face in drawing order with the values its corners index: what
    // the passes read, whatever the pools' layout.
    std::string drawn() const {
        std::string out;
        auto put = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
        const Pipeline& p = *pipeline;
        for (int f = 0; f < p.faceCount; ++f) {
            const Pipeline::DrawFace& d = p.drawList[f];
            for (int k = 0; k < 3; ++k) {
                put(&p.vertices[d.vertexIndex[k]], 3 * sizeof(vec4)); // not the spare
                put(&p.texcoords[d.texcoordIndex[k]], sizeof(vec4));
                put(&p.normals[d.normalIndex[k]], sizeof(vec4));
            }
            put(&d.minY, 2 * sizeof(float));
            put(&d.material, sizeof(d.material));
        }
        return out;
    }
    // The frame's geometry in `shares` parts run on this thread, as the workers
    // run it; false when the frame went one instance after another.
    bool prepareShared(int shares, const mat44& view = mat44::identity()) {
        std::vector<MeshInstance*> all;
        for (MeshInstance& instance : instances) {
            all.push_back(&instance);
        }
        pipeline->resetFrame();
        const bool planned = pipeline->planShares(all, view, *viewport, shares);
        if (planned) {
            pipeline->runShares();
        } else {
            for (MeshInstance* instance : all) {
                pipeline->transformInstance(*instance, view, *viewport);
            }
        }
        for (LightEntry& e : entries) {
            pipeline->registerLight(e, view);
        }
        pipeline->finishGeometry();
        return planned;
    }

    // The ambient pass, then with `lit` one pass per light.
    std::vector<vec4> shade(bool lit, VertexColorCache* cache = nullptr) {
        ColorBuffer color(W, H);
        DepthBuffer depth(W, H);
        shadeFaces(*pipeline, Pass::Ambient, 0, H, color, depth, nullptr, -1, nullptr, cache);
        for (int i = 0; i < pipeline->lightCount && lit; ++i) {
            shadeFaces(*pipeline, Pass::Light, 0, H, color, depth, nullptr, i, nullptr, cache);
        }
        return std::vector<vec4>(color.pixels, color.pixels + W * H);
    }

    Material material;
    std::list<Material> materials;
    TextureStore textures;
    MeshStore meshes;
    std::vector<MeshInstance> instances;
    Light lights[2];
    std::vector<LightEntry> entries;
    std::unique_ptr<Viewport> viewport;
    std::unique_ptr<Pipeline> pipeline;
};

const vec4 kToCamera(0, 0, 1, 0);

TEST_F(PipelineTest, CullsAndClipsAgainstTheViewPlanes) {
    const Tri oneOut{{-0.5f, -0.5f, -5}, {10.0f, -0.2f, -5}, {0, 0.5f, -5}, kToCamera};
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
    run({oneOut});
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
    // Clipped without corner normals: the vertex normals stand in, and a
    // texture coordinate index past the end samples (0, 0).
    auto m = meshOf({oneOut}, &material);
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

// Seeded triangles scattered over the frustum's sides, corners and near plane.
std::vector<Tri> scatteredTriangles(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> x(-9.0f, 9.0f), y(-6.0f, 6.0f), z(-6.0f, 0.5f);
    std::vector<Tri> tris;
    for (int i = 0; i < count; ++i) {
        const vec4 a(x(random), y(random), z(random)), b(x(random), y(random), z(random)),
            c(x(random), y(random), z(random));
        tris.push_back({a, b, c, normalize(cross(b - a, c - a))});
    }
    return tris;
}

// The shortcuts for triangles wholly inside or wholly outside the view give
// the pools that the full clipping walk gives, on seeded triangles scattered
// over the frustum's sides, corners and near plane.
TEST_F(PipelineTest, ClippingShortcutsGiveTheFullWalksPools) {
    const std::vector<Tri> tris = scatteredTriangles(77, 3000);
    run(tris);
    ASSERT_GT(pipeline->faceCount, 500);
    const std::string fast = pools();
    pipeline->clipFastPaths = false;
    run(tris);
    // Byte for byte: corners behind the eye project to NaN.
    EXPECT_TRUE(pools() == fast);
}

// Every vector path fills the pools with the 4-lane path's bits: transform,
// normals, outcodes, the facing test and projection, over meshes whose sizes
// leave tails, with NaN, infinities, denormals and zero normals among the
// vertices, one instance after another and in three shares.
TEST_F(PipelineTest, EveryVectorPathFillsThePoolsWithTheSameBits) {
    auto mesh = meshOf(scatteredTriangles(31, 1001), &material);
    const float odd[] = {NAN, INFINITY, -INFINITY, 1e-40f, -1e-42f, 0.0f, 3e38f};
    for (size_t i = 0; i < std::size(odd); ++i) {
        mesh->vertices[37 * i + 5].position.y = odd[i];
        mesh->vertices[53 * i + 2].normal = vec4(odd[i], 0, 0, 0);
        mesh->normals[41 * i + 1].z = odd[i];
        mesh->faces[29 * i + 3].normal = vec4(0, odd[i], 0, 0);
    }
    const int index = meshes.add(std::move(mesh));
    for (int i = 0; i < 3; ++i) {
        instances.push_back(MeshInstance::placed(index, &meshes, 1.0f - 0.2f * float(i),
                                                 vec4(0.3f * float(i), 0, 0, 1),
                                                 vec4(0.1f, 0.2f * float(i), 0)));
    }
    const mat44 view = eulerTranslation(vec4(0.05f, 0.1f, 0), vec4(0, 0.2f, -0.5f));
    const SimdPath active = activeSimdPath();
    setSimdPath(SimdPath::Sse);
    prepare(view);
    const std::string oneByOne = pools();
    prepareShared(3, view);
    const std::string shared = pools();
    ASSERT_GT(pipeline->faceCount, 1000);
    for (SimdPath path : kSimdPaths) {
        setSimdPath(path);
        if (activeSimdPath() != path) {
            std::printf("skipped the %s path: this processor lacks it\n", simdPathName(path));
            continue;
        }
        prepare(view);
        EXPECT_TRUE(pools() == oneByOne) << simdPathName(path);
        prepareShared(3, view);
        EXPECT_TRUE(pools() == shared) << simdPathName(path);
    }
    setSimdPath(active);
}

// The pool entries are exactly the expressions of the math library: each vertex,
// and the faces kept by the facing test, which takes four at a time (two full
// groups and one lane), with their normals, in order.
TEST_F(PipelineTest, TransformAndFacingMatchTheOneVertexAndOneFaceExpressions) {
    std::vector<Tri> tris;
    for (int i = 0; i < 9; ++i) {
        const float x = -1.6f + 0.4f * float(i), towards = i % 3 == 1 ? -1.0f : 1.0f;
        const vec4 normal = normalize(vec4(0.1f * float(i), 0.2f, towards, 0));
        tris.push_back({{x, -0.2f, -5}, {x + 0.3f, -0.2f, -5}, {x, 0.2f, -5.1f}, normal});
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
    int kept = 0;
    for (const MeshFace& face : mesh.faces) {
        const vec4 n = normalize(m.transformDirection(face.normal));
        const vec4 p = m.transform(mesh.vertices[face.vertexIndex[0]].position);
        if (!(dot(p - vec4(0, 0, 0, 1), n) > 0.0f)) {
            EXPECT_EQ(pipeline->faces[kept].normal, n) << kept;
            ++kept;
        }
    }
    EXPECT_TRUE(kept == 6 && pipeline->faceCount == 6) << kept << " " << pipeline->faceCount;
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
    // All keys equal; a range of a few bits (one pass); and beyond 2^31, where
    // far faces share the end key and the range takes every bit (three passes).
    EXPECT_EQ(sorted({-2.0f, -2.0f, -2.0f}), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(sorted({-2.0f, -2.001f, -2.0f, -2.0005f}), (std::vector<int32_t>{0, 2, 3, 1}));
    EXPECT_EQ(sorted({-50000.0f, -0.5f, -40000.0f, -1.0f, -30000.0f}),
              (std::vector<int32_t>{1, 3, 4, 0, 2}));
    EXPECT_EQ(pipeline->nearKeys[0], INT32_MAX);
    EXPECT_EQ(pipeline->nearKeys[2], INT32_MAX);
}

TEST_F(PipelineTest, OverflowDropsAndIsReported) {
    const Tri tri{{-0.5f, -0.5f, -5}, {0.5f, -0.5f, -5}, {0, 0.5f, -5}, kToCamera};
    const int mesh = meshes.add(meshOf(std::vector<Tri>(1000, tri), &material)); // 3000 vertices
    instances.assign(40, MeshInstance(mesh, &meshes));
    Light many[20];
    for (Light& l : many) {
        entries.push_back(LightEntry{&l, -1, 0});
    }
    prepare();
    EXPECT_EQ(instances[33].firstVertex, nullptr); // 33 instances fit
    EXPECT_NE(instances[32].firstVertex, nullptr);
    EXPECT_TRUE(entries[15].lightIndex == 15 && entries[16].lightIndex == -1); // 16 fit
    pipeline->raiseStatistics();
    const Pipeline& p = *pipeline;
    EXPECT_EQ(std::vector({p.maxVertices, p.maxFaces, p.maxTexcoords, p.maxNormals,
                           p.maxDropped.meshes, p.maxDropped.faces, p.maxDropped.lights}),
              std::vector({99000, 33000, 99033, 99000, 7, 0, 4}));
}

// The workers' shares of the geometry give the frame that one instance after
// another gives, for any number of shares: the same faces in the same order
// with the same corner values (so the same picture), the same counts and the
// same drops, on meshes cut by the sides and the near plane, one without
// normals and with a missing texture coordinate, and an instance without a
// mesh. Too little room for what clipping makes takes the one-by-one path.
TEST_F(PipelineTest, SharedGeometryGivesTheOneByOneFrame) {
    material.diffuse = vec4(0.8f, 0.7f, 0.6f, 1);
    auto noNormals = meshOf({{{-0.5f, -0.5f, -5}, {10.0f, -0.2f, -5}, {0, 0.5f, -5}, kToCamera},
                             {{-3, 2, -4}, {-2, -2, -4}, {1, 0, -4}, kToCamera}},
                            &material);
    for (MeshFace& face : noNormals->faces) {
        std::fill_n(face.normalIndex, 3, -1);
    }
    noNormals->normals.clear();
    noNormals->normalCount = 0;
    noNormals->faces[1].texcoordIndex[2] = 99;
    const int sphere = meshes.add(makeSphere(24, 12, material));
    const int torus = meshes.add(makeTorus(32, 12, 0.4f, material));
    const int box = meshes.add(makeBox(material));
    const int bare = meshes.add(std::move(noNormals));
    std::mt19937 random(5);
    std::uniform_real_distribution<float> x(-5, 5), y(-3, 3), z(-9, 0.5f), angle(0, 6);
    for (int i = 0; i < 24; ++i) {
        const int mesh = i % 3 == 0 ? sphere : i % 3 == 1 ? torus : box;
        instances.push_back(MeshInstance::placed(mesh, &meshes, 1.0f,
                                                 vec4(x(random), y(random), z(random), 1),
                                                 vec4(angle(random), angle(random), 0)));
    }
    instances.push_back(MeshInstance(bare, &meshes));
    instances.push_back(MeshInstance(999, &meshes));
    lights[0] =
        Light{vec4(2, 3, -2, 1), vec4(1, 0.9f, 0.7f, 0), 30.0f, vec4(1, 1, 1, 0), 5.0f, false,
              vec4(2, 3, -2, 1)};
    entries.push_back(LightEntry{&lights[0], -1, -1});
    pipeline->ambient = 0.3f;
    const mat44 view = eulerTranslation(vec4(0.05f, -0.1f, 0), vec4(0.2f, 0, 0.5f));
    auto counts = [&] {
        const Pipeline& p = *pipeline;
        return std::vector({p.vertexCount, p.normalCount, p.texcoordCount, p.faceCount,
                            p.dropped.meshes, p.dropped.faces});
    };

    prepare(view);
    const std::string reference = drawn();
    const std::vector<int> referenceCounts = counts();
    const std::vector<vec4> picture = shade(true);
    int ownVertices = 0;
    for (const MeshInstance& instance : instances) {
        ownVertices +=
            instance.meshIndex < meshes.size() ? meshes[instance.meshIndex].vertexCount : 0;
    }
    const int madeVertices = pipeline->vertexCount - ownVertices;
    ASSERT_GT(pipeline->faceCount, 1000);
    ASSERT_GT(madeVertices, 100);
    std::string layout;
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(prepareShared(n, view));
        EXPECT_TRUE(drawn() == reference) << n << " shares";
        EXPECT_EQ(counts(), referenceCounts) << n << " shares";
        // Any number of shares lays the pools out alike.
        if (n == 1) {
            layout = pools();
        } else {
            EXPECT_TRUE(pools() == layout) << n << " shares";
        }
    }
    EXPECT_EQ(shade(true), picture);

    // Room for every mesh's own entries but not for everything clipping makes
    // or for every face: both paths drop the same.
    for (int* capacity : {&pipeline->vertexCapacity, &pipeline->faceCapacity}) {
        *capacity = capacity == &pipeline->faceCapacity ? referenceCounts[3] - 25
                                                        : ownVertices + madeVertices / 2;
        prepare(view);
        const std::string dropping = drawn();
        const std::vector<int> droppingCounts = counts();
        EXPECT_GT(pipeline->dropped.meshes + pipeline->dropped.faces, 1); // beyond the bare one
        for (int n : {1, 3}) {
            ASSERT_TRUE(prepareShared(n, view));
            EXPECT_TRUE(drawn() == dropping) << n << " shares";
            EXPECT_EQ(counts(), droppingCounts) << n << " shares";
        }
        *capacity = Pipeline::kCapacity;
    }
    // Not even the own entries fit: the frame is not shared.
    pipeline->normalCapacity = 100;
    prepare(view);
    const std::vector<int> tooBig = counts();
    EXPECT_FALSE(prepareShared(2, view));
    EXPECT_EQ(counts(), tooBig);
}

// One screen-filling pair of triangles at z = -5. The ambient pass is diffuse
// x ambient; type 55 receives ambient / 4 once per pass and light (these lights
// have no intensity), its equal depths passing again in every pass; type 1
// draws nothing, and so does an unknown type, saying so once per face and
// pass. Under a strong light textured faces stay unlit and wrap; untextured
// ones lit per pixel are brighter at the centre than lit per vertex (the
// corners are farther from the light), and per-pixel lighting adds nothing to
// alpha.
TEST_F(PipelineTest, TypesTexturesAndPerPixelLighting) {
    AlignedVector<vec4> texels;
    for (int i = 0; i < 8; ++i) {
        texels.push_back(vec4(float(i), 0, 0, 1));
    }
    const int textureIndex = textures.add(std::make_unique<Texture>(
        Texture{std::make_unique<TextureImage>(TextureImage{std::move(texels), 4, 2}), {}}));
    // The quad with the material, shaded: the colour at the centre.
    auto quad = [&](const Material& surface, bool lit, vec4 uv = vec4()) {
        materials.push_back(surface);
        const vec4 a(-20, -20, -5), b(20, -20, -5), c(20, 20, -5), d(-20, 20, -5), n(0, 0, 1, 0);
        run(meshOf({{a, b, c, n}, {a, c, d, n}}, &materials.back(), &uv));
        return shade(lit)[H / 2 * W + W / 2];
    };

    Material m;
    m.diffuse = vec4(0.5f, 0.25f, 1.0f, 1.0f);
    pipeline->ambient = 0.5f;
    EXPECT_EQ(quad(m, false), vec4(0.25f, 0.125f, 0.5f, 0.5f));
    entries = {LightEntry{&lights[0], -1, -1}, LightEntry{&lights[1], -1, -1}};
    m.shaderType = ShaderType::Additive;
    EXPECT_EQ(quad(m, true), vec4(0.375f, 0.375f, 0.375f, 0.375f));
    for (int type : {1, 2}) {
        m.shaderType = ShaderType(type);
        LogCapture out;
        EXPECT_EQ(quad(m, true), vec4());
        std::string expected;
        for (int i = 0; i < 3 * pipeline->faceCount && type == 2; ++i) { // three passes
            expected += "unknown shader type 2\n";
        }
        EXPECT_EQ(out.text(), expected);
    }

    lights[0] = Light{vec4(), vec4(1, 1, 1, 0), 100.0f, vec4(), 0.0f, false, vec4(0, 0, 5, 1)};
    entries.pop_back();
    m.shaderType = ShaderType::Plain;
    m.textureIndex = textureIndex;
    pipeline->ambient = 3.0f;
    // u = 1 wraps to column 0, v = 0 is the last row in memory: texel 4.
    EXPECT_EQ(quad(m, true, vec4(1.0f, 0.0f, 0, 0)), vec4(4, 0, 0, 1));
    m.textureIndex = 0;
    m.diffuse = vec4(1, 1, 1, 1);
    pipeline->ambient = 0.0f;
    const vec4 perVertex = quad(m, true);
    pipeline->pixelLighting = true;
    const vec4 perPixel = shade(true)[H / 2 * W + W / 2];
    EXPECT_TRUE(perVertex.x > 0.0f && perPixel.x > perVertex.x) << perVertex.x << " " << perPixel.x;
    EXPECT_EQ(perPixel.w, 0.0f);
}

// The per-vertex colour cache must give exactly what lighting every corner
// gives: on a box (corners shared by sides with different normals) and a sphere
// whose faces alternate between two materials, in the per-light and the
// all-lights shader types, over two calls in a row on one cache.
TEST_F(PipelineTest, VertexColorCacheGivesTheBytesOfUncachedShading) {
    Material plain, shiny, allLights;
    plain.diffuse = vec4(0.9f, 0.6f, 0.3f, 1);
    shiny.diffuse = vec4(0.2f, 0.8f, 1.0f, 1);
    shiny.shininess = 40.0f;
    allLights.shaderType = ShaderType::Additive;
    std::unique_ptr<Mesh> sphere = makeSphere(24, 12, plain);
    for (int f = 0; f < sphere->faceCount; f += 2) {
        sphere->faces[f].material = &shiny;
    }
    // Placed by the indices the store hands out (its entry 0 is a placeholder).
    const int indices[3] = {meshes.add(std::move(sphere)), meshes.add(makeBox(plain)),
                            meshes.add(makeBox(allLights))};
    const vec4 where[3] = {vec4(-1.2f, 0, -5, 1), vec4(1.3f, 0.4f, -6, 1), vec4(0, -1.5f, -7, 1)};
    for (int i = 0; i < 3; ++i) {
        instances.push_back(MeshInstance::placed(indices[i], &meshes, 1.0f, where[i],
                                                 vec4(0.4f, 0.7f * float(i), 0.2f)));
    }
    for (int i = 0; i < 2; ++i) {
        const vec4 at = i ? vec4(4, -1, -2, 1) : vec4(-3, 4, 0, 1);
        lights[i] = Light{at, vec4(1, 0.9f, 0.7f, 0), 30.0f, vec4(1, 1, 1, 0), 5.0f, false, at};
        entries.push_back(LightEntry{&lights[i], -1, -1});
    }
    pipeline->ambient = 0.3f;
    prepare();
    const std::vector<vec4> reference = shade(true);
    VertexColorCache cache;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(shade(true, &cache), reference) << "round " << round;
    }
    // The objects are in view and lit.
    EXPECT_GT(std::count_if(reference.begin(), reference.end(), [](vec4 p) { return p.x > 0.3f; }),
              500);
}

} // namespace
} // namespace lumo::test
