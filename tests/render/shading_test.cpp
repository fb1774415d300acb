// Shading: the lighting functions, the shader-type table and texturing.

#include "assets/texture.h"
#include "render/internal/shading.h"
#include "sys/log.h"
#include "tests/support/meshgen.h"
#include "triangles.h"

#include <gtest/gtest.h>

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

// One screen-filling pair of triangles at z = -5, shaded with shadeFaces
// directly. The ambient pass is diffuse x ambient; type 55 receives ambient / 4
// once per pass and light (these lights have no intensity); type 1 draws
// nothing, and so does an unknown type, saying so once per face and pass. Under
// a strong light textured faces stay unlit and wrap; untextured ones lit per
// pixel are brighter at the centre than lit per vertex (the corners are farther
// from the light), and per-pixel lighting adds nothing to alpha.
TEST(Shading, TypesTexturesAndPerPixelLighting) {
    std::unique_ptr<Viewport> viewport;
    std::unique_ptr<Pipeline> pipeline;
    TextureStore textures;
    {
        LogCapture quiet(false);
        viewport = std::make_unique<Viewport>(64, 32, 2.0f);
        pipeline = std::make_unique<Pipeline>(&textures);
    }
    auto texture = std::make_unique<Texture>();
    texture->image = std::make_unique<TextureImage>();
    texture->image->width = 4;
    texture->image->height = 2;
    for (int i = 0; i < 8; ++i) {
        texture->image->texels.push_back(vec4(float(i), 0, 0, 1));
    }
    const int textureIndex = textures.add(std::move(texture));
    std::list<Material> materials;
    MeshStore meshes;
    std::list<MeshInstance> instances;
    Light lights[2];
    std::vector<LightEntry> entries;
    auto build = [&](const Material& material, vec4 uv = vec4()) {
        materials.push_back(material);
        const vec4 a(-20, -20, -5), b(20, -20, -5), c(20, 20, -5), d(-20, 20, -5), n(0, 0, 1, 0);
        meshes.add(test::meshOf({{a, b, c, n}, {a, c, d, n}}, &materials.back(), &uv));
        instances.emplace_back(meshes.size() - 1, &meshes);
        pipeline->resetFrame();
        pipeline->transformInstance(instances.back(), mat44::identity(), *viewport);
        for (LightEntry& e : entries) {
            pipeline->registerLight(e, mat44::identity());
        }
        pipeline->sortFaces();
        pipeline->projectVertices(*viewport);
    };
    auto shade = [&](int passes) {
        ColorBuffer color(64, 32);
        DepthBuffer depth(64, 32);
        shadeFaces(*pipeline, Pass::Ambient, 0, 32, color, depth, nullptr, -1);
        for (int i = 0; i < pipeline->lightCount && passes > 1; ++i) {
            shadeFaces(*pipeline, Pass::Light, 0, 32, color, depth, nullptr, i);
        }
        return color.at(20, 11);
    };

    Material m;
    m.diffuse = vec4(0.5f, 0.25f, 1.0f, 1.0f);
    pipeline->ambient = 0.5f;
    build(m);
    EXPECT_EQ(shade(1), vec4(0.25f, 0.125f, 0.5f, 0.5f));
    for (Light& l : lights) {
        entries.push_back(LightEntry{&l, -1, -1});
    }
    m.shaderType = ShaderType::Additive;
    build(m);
    EXPECT_EQ(shade(2), vec4(0.375f, 0.375f, 0.375f, 0.375f));
    for (int type : {1, 2}) {
        m.shaderType = ShaderType(type);
        build(m);
        LogCapture out;
        EXPECT_EQ(shade(2), vec4());
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
    build(m, vec4(1.0f, 0.0f, 0, 0));
    EXPECT_EQ(shade(2), vec4(4, 0, 0, 1));
    build(m, vec4(0.26f, 0.99f, 0, 0)); // column 1, row t = 2 mod 2 = 0: texel 5
    EXPECT_EQ(shade(2), vec4(5, 0, 0, 1));
    m.textureIndex = 0;
    m.diffuse = vec4(1, 1, 1, 1);
    pipeline->ambient = 0.0f;
    build(m);
    const vec4 perVertex = shade(2);
    pipeline->pixelLighting = true;
    const vec4 perPixel = shade(2);
    EXPECT_TRUE(perVertex.x > 0.0f && perPixel.x > perVertex.x) << perVertex.x << " " << perPixel.x;
    EXPECT_EQ(perPixel.w, 0.0f);
}

// The per-vertex colour cache must give exactly what lighting every corner
// gives: on a box (corners shared by sides with different normals) and a sphere
// whose faces alternate between two materials, in the per-light and the
// all-lights shader types, over two calls in a row on one cache.
TEST(VertexColorCache, GivesTheBytesOfUncachedShading) {
    LogCapture quiet(false);
    Viewport viewport(96, 64, 1.5f);
    TextureStore textures;
    Pipeline pipeline(&textures);
    MeshStore meshes;
    Material plain, shiny, allLights;
    plain.diffuse = vec4(0.9f, 0.6f, 0.3f, 1);
    shiny.diffuse = vec4(0.2f, 0.8f, 1.0f, 1);
    shiny.shininess = 40.0f;
    allLights.shaderType = ShaderType::Additive;
    std::unique_ptr<Mesh> sphere = makeSphere(24, 12, plain);
    for (int f = 0; f < sphere->faceCount; f += 2) {
        sphere->faces[f].material = &shiny;
    }
    meshes.add(std::move(sphere));
    meshes.add(makeBox(plain));
    meshes.add(makeBox(allLights));
    std::vector<MeshInstance> instances;
    const vec4 where[3] = {vec4(-1.2f, 0, -5, 1), vec4(1.3f, 0.4f, -6, 1), vec4(0, -1.5f, -7, 1)};
    for (int i = 0; i < 3; ++i) {
        instances.emplace_back(i, &meshes);
        instances.back().placement = mat44::translation(where[i]);
        instances.back().rotation = eulerRotation(vec4(0.4f, 0.7f * float(i), 0.2f));
    }
    Light lights[2];
    lights[0].viewPos = lights[0].position = vec4(-3, 4, 0, 1);
    lights[1].viewPos = lights[1].position = vec4(4, -1, -2, 1);
    std::vector<LightEntry> entries;
    for (Light& l : lights) {
        l.color = vec4(1, 0.9f, 0.7f, 0);
        l.diffuse = 30.0f;
        l.specularColor = vec4(1, 1, 1, 0);
        l.specular = 5.0f;
        entries.push_back(LightEntry{&l, -1, -1});
    }
    pipeline.ambient = 0.3f;
    for (MeshInstance& instance : instances) {
        pipeline.transformInstance(instance, mat44::identity(), viewport);
    }
    for (LightEntry& e : entries) {
        pipeline.registerLight(e, mat44::identity());
    }
    pipeline.sortFaces();
    pipeline.projectVertices(viewport);

    auto render = [&](VertexColorCache* cache) {
        ColorBuffer color(96, 64);
        DepthBuffer depth(96, 64);
        shadeFaces(pipeline, Pass::Ambient, 0, 64, color, depth, nullptr, -1, nullptr, cache);
        for (int i = 0; i < pipeline.lightCount; ++i) {
            shadeFaces(pipeline, Pass::Light, 0, 64, color, depth, nullptr, i, nullptr, cache);
        }
        std::vector<vec4> pixels(color.pixels, color.pixels + 96 * 64);
        return pixels;
    };
    const std::vector<vec4> reference = render(nullptr);
    VertexColorCache cache;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(render(&cache), reference) << "round " << round;
    }
    int lit = 0;
    for (const vec4& p : reference) {
        lit += p.x > 0.3f;
    }
    EXPECT_GT(lit, 500); // the objects are in view and lit
}

} // namespace
} // namespace lumo
