// Shading: the lighting functions, the shader-type table and texturing.

#include "assets/texture.h"
#include "render/internal/shading.h"
#include "scenes.h"
#include "sys/log.h"
#include "tests/support/meshgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>

namespace lumo {
namespace {

TEST(Lighting, LightVertexDiffuseAndSpecular) {
    Light light{vec4(), vec4(1, 0.5f, 0.25f, 0), 4.0f, vec4(1, 1, 1, 0), 2.0f,
                false,  vec4(0, 0, 0, 1)};
    const vec4 p(0, 0, -2, 1), n(0, 0, 1, 0);
    LightResult r = lightVertex(light, p, n, 8.0f);
    EXPECT_FLOAT_EQ(r.diffuse.x, 1.0f); // 4 x colour / 2^2 x 1
    EXPECT_FLOAT_EQ(r.diffuse.y, 0.5f);
    EXPECT_FLOAT_EQ(r.specular.x, powApprox(1.0f, 8.0f) * 2.0f / 4.0f);
    // Facing away: no diffuse, but the specular term does not depend on Lambert.
    LightResult away = lightVertex(light, p, vec4(0, 0, -1, 0), 8.0f);
    EXPECT_EQ(away.diffuse, vec4());
    EXPECT_EQ(away.specular, vec4()); // h clamps to 0 and powApprox(0) is 0
    // The sum over lights is componentwise.
    Light* both[2] = {&light, &light};
    LightResult sum = lightVertexAll(both, 2, p, n, 8.0f);
    EXPECT_FLOAT_EQ(sum.diffuse.x, 2.0f);
}

// A pipeline over a small view with its own textures, meshes, instances and
// lights; prepare() runs the geometry stages, shade() the passes.
class ShadingTest : public ::testing::Test {
protected:
    void start(int w, int h, float aspect) {
        LogCapture quiet(false);
        width = w;
        height = h;
        viewport = std::make_unique<Viewport>(w, h, aspect);
        pipeline = std::make_unique<Pipeline>(&textures);
    }
    void prepare() {
        pipeline->resetFrame();
        for (MeshInstance& instance : instances) {
            pipeline->transformInstance(instance, mat44::identity(), *viewport);
        }
        for (LightEntry& e : entries) {
            pipeline->registerLight(e, mat44::identity());
        }
        pipeline->sortFaces();
        pipeline->projectVertices(*viewport);
    }
    // The ambient pass, then with `lit` one pass per light.
    std::vector<vec4> shade(bool lit, VertexColorCache* cache = nullptr) {
        ColorBuffer color(width, height);
        DepthBuffer depth(width, height);
        shadeFaces(*pipeline, Pass::Ambient, 0, height, color, depth, nullptr, -1, nullptr, cache);
        for (int i = 0; i < pipeline->lightCount && lit; ++i) {
            shadeFaces(*pipeline, Pass::Light, 0, height, color, depth, nullptr, i, nullptr, cache);
        }
        return std::vector<vec4>(color.pixels, color.pixels + width * height);
    }

    int width = 0, height = 0;
    std::unique_ptr<Viewport> viewport;
    std::unique_ptr<Pipeline> pipeline;
    TextureStore textures;
    std::list<Material> materials;
    MeshStore meshes;
    std::vector<MeshInstance> instances;
    Light lights[2];
    std::vector<LightEntry> entries;
};

// One screen-filling pair of triangles at z = -5. The ambient pass is diffuse
// x ambient; type 55 receives ambient / 4 once per pass and light (these lights
// have no intensity); type 1 draws nothing, and so does an unknown type, saying
// so once per face and pass. Under a strong light textured faces stay unlit and
// wrap; untextured ones lit per pixel are brighter at the centre than lit per
// vertex (the corners are farther from the light), and per-pixel lighting adds
// nothing to alpha.
TEST_F(ShadingTest, TypesTexturesAndPerPixelLighting) {
    start(64, 32, 2.0f);
    auto texture = std::make_unique<Texture>();
    texture->image = std::make_unique<TextureImage>();
    texture->image->width = 4;
    texture->image->height = 2;
    for (int i = 0; i < 8; ++i) {
        texture->image->texels.push_back(vec4(float(i), 0, 0, 1));
    }
    const int textureIndex = textures.add(std::move(texture));
    // The quad with the material, shaded: the colour at (20, 11).
    auto quad = [&](const Material& material, bool lit, vec4 uv = vec4()) {
        materials.push_back(material);
        const vec4 a(-20, -20, -5), b(20, -20, -5), c(20, 20, -5), d(-20, 20, -5), n(0, 0, 1, 0);
        instances.assign(1, MeshInstance(meshes.add(test::meshOf({{a, b, c, n}, {a, c, d, n}},
                                                                 &materials.back(), &uv)),
                                         &meshes));
        prepare();
        return shade(lit)[11 * 64 + 20];
    };

    Material m;
    m.diffuse = vec4(0.5f, 0.25f, 1.0f, 1.0f);
    pipeline->ambient = 0.5f;
    EXPECT_EQ(quad(m, false), vec4(0.25f, 0.125f, 0.5f, 0.5f));
    for (Light& l : lights) {
        entries.push_back(LightEntry{&l, -1, -1});
    }
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
    // Column 1, row t = 2 mod 2 = 0: texel 5.
    EXPECT_EQ(quad(m, true, vec4(0.26f, 0.99f, 0, 0)), vec4(5, 0, 0, 1));
    m.textureIndex = 0;
    m.diffuse = vec4(1, 1, 1, 1);
    pipeline->ambient = 0.0f;
    const vec4 perVertex = quad(m, true);
    pipeline->pixelLighting = true;
    const vec4 perPixel = shade(true)[11 * 64 + 20];
    EXPECT_TRUE(perVertex.x > 0.0f && perPixel.x > perVertex.x) << perVertex.x << " " << perPixel.x;
    EXPECT_EQ(perPixel.w, 0.0f);
}

// The per-vertex colour cache must give exactly what lighting every corner
// gives: on a box (corners shared by sides with different normals) and a sphere
// whose faces alternate between two materials, in the per-light and the
// all-lights shader types, over two calls in a row on one cache.
TEST_F(ShadingTest, VertexColorCacheGivesTheBytesOfUncachedShading) {
    start(96, 64, 1.5f);
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
} // namespace lumo
