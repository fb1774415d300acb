#include "scenes.h"

#include "sys/log.h"
#include "tests/support/meshgen.h"
#include "triangles.h"

#include <cmath>
#include <cstring>

namespace lumo::test {

bool Picture::operator==(const Picture& o) const {
    return color.size() == o.color.size() &&
           std::memcmp(color.data(), o.color.data(), color.size() * sizeof(vec4)) == 0 &&
           depth == o.depth && canvas == o.canvas && stencil == o.stencil;
}

static Assets makeAssets() {
    Assets a;
    a.textures = std::make_unique<TextureStore>();
    auto checker = std::make_unique<Texture>();
    checker->image = std::make_unique<TextureImage>();
    checker->image->width = 64;
    checker->image->height = 32;
    for (int i = 0; i < 64 * 32; ++i) {
        const int x = i % 64, y = i / 64;
        checker->image->texels.push_back(((x >> 3) ^ (y >> 3)) & 1
                                             ? vec4(0.1f, 0.2f, 0.5f, 1.0f)
                                             : vec4(0.9f, 0.8f, 0.3f + x / 128.0f, 1.0f));
    }
    a.lit.diffuse = vec4(0.8f, 0.5f, 0.3f, 1.0f);
    a.textured = a.litAll = a.gouraudAll = a.additive = a.lit;
    a.textured.textureIndex = a.textures->add(std::move(checker));
    a.litAll.shaderType = ShaderType::LitAll;
    a.litAll.diffuse = vec4(0.3f, 0.7f, 0.4f, 1.0f);
    a.gouraudAll.shaderType = ShaderType::GouraudAll;
    a.additive.shaderType = ShaderType::Additive;

    a.meshes = std::make_unique<MeshStore>();
    a.sphere = a.meshes->add(makeSphere(24, 16, a.lit));
    a.box = a.meshes->add(makeBox(a.lit));
    a.torus = a.meshes->add(makeTorus(24, 12, 0.35f, a.lit));
    a.plane = a.meshes->add(makePlane(8, a.lit));
    a.skybox = a.meshes->add(makeSkybox(a.textured));
    a.allSphere = a.meshes->add(makeSphere(20, 12, a.litAll));
    a.gouraudBox = a.meshes->add(makeBox(a.gouraudAll));
    a.addTorus = a.meshes->add(makeTorus(20, 10, 0.3f, a.additive));
    return a;
}

Assets& sharedAssets() {
    static Assets a = makeAssets();
    return a;
}

MeshInstance place(int mesh, float scale, vec4 position, vec4 angles, bool castsShadow) {
    MeshInstance instance(mesh, sharedAssets().meshes.get());
    instance.scale = scale;
    instance.placement = mat44::translation(position);
    instance.rotation = eulerRotation(angles);
    instance.castsShadow = castsShadow;
    return instance;
}

Rig::Rig(int threads, int w, int h)
    : width(w), height(h), color(w, h), depth(w, h), stencil(w, h),
      canvasPixels(size_t(w) * (h + 8), 0xDEADBEEF), canvas{canvasPixels.data(), w, h + 8} {
    LogCapture quiet(false);
    renderer = std::make_unique<Renderer>(RenderTargets{&color, &depth, &stencil},
                                          sharedAssets().textures.get(), threads);
    renderer->setOutput(&canvas, 4);
    renderer->setAmbient(0.2f);
}

void Rig::render(const mat44& view, std::vector<Light> passLights,
                 std::vector<MeshInstance>& instances, bool clear, bool pixelLighting) {
    lights = std::move(passLights);
    renderer->beginFrame();
    renderer->setViewMatrix(view);
    renderer->setClear(clear, clear);
    renderer->setPixelLighting(pixelLighting);
    for (Light& l : lights) {
        renderer->addLight(&l);
    }
    for (MeshInstance& i : instances) {
        renderer->addInstance(&i);
    }
    renderer->transformAll();
    renderer->renderFrame();
}

Picture Rig::picture() const {
    Picture p;
    p.color.assign(color.pixels, color.pixels + size_t(width) * height);
    p.canvas = canvasPixels;
    p.depth.assign(depth.values.data(), depth.values.data() + depth.values.size());
    p.stencil.assign(stencil.data.data(), stencil.data.data() + stencil.data.size());
    return p;
}

std::vector<Picture> renderScene(Scene scene, int threads, const std::vector<int>& blockCounts,
                                 int frames) {
    const Assets& a = sharedAssets();
    Rig rig(threads, 320, 180);
    if (!blockCounts.empty()) {
        rig.renderer->setBlockCounts(blockCounts);
        rig.renderer->setBalancing(false);
    }
    const bool shadows = scene == Scene::Shadows || scene == Scene::ShadowsInside;
    std::vector<Picture> pictures;
    for (int frame = 0; frame < frames; ++frame) {
        const float t = float(frame) * 0.37f;
        // Without shadows the fill light still casts them, from no casters at all.
        const vec4 white(1, 1, 1),
            keyAt = shadows ? vec4(3 * std::cos(t), 9, 3 * std::sin(t), 1) : vec4(5, 8, 6, 1);
        std::vector<Light> lights = {
            {keyAt, vec4(1, 0.9f, 0.8f), 60.0f, white, 30.0f, shadows, {}},
            {vec4(-7, 3, 2, 1), vec4(0.3f, 0.4f, 1.0f), 30.0f, white, 0.0f, !shadows, {}},
            {vec4(-6, 3.5f, 4, 1), vec4(0.9f, 0.5f, 0.3f), 45.0f, white, 10.0f, true, {}}};
        lights.resize(shadows ? 3 : 2);
        mat44 view = eulerTranslation(vec4(0.35f, t * 0.2f, 0), vec4(0, -3.5f, -11));
        std::vector<MeshInstance> instances;
        switch (scene) {
        case Scene::Clipped:
            // Boxes through the near plane and the sides, a torus partly off screen.
            view = eulerTranslation(vec4(0.1f, t * 0.3f, 0), vec4(0, -1, -2.5f));
            for (int i = 0; i < 12; ++i) {
                instances.push_back(
                    place(i % 3 ? a.box : a.gouraudBox, 0.9f,
                          vec4(float(i) - 6.0f, 1.0f + 0.3f * (i % 4), 2.4f - 0.5f * (i % 5)),
                          vec4(0.3f * i, t, 0)));
            }
            instances.push_back(place(a.torus, 3.0f, vec4(4, 1, -4), vec4(1.2f, t, 0)));
            instances.push_back(place(a.plane, 20, vec4(0, -0.5f, 0)));
            break;
        case Scene::TwoPasses:
            instances.push_back(place(a.plane, 8, vec4()));
            instances.push_back(place(a.allSphere, 1.5f, vec4(-1.5f, 1.5f, 0), vec4(0, t, 0)));
            instances.push_back(place(a.gouraudBox, 1.0f, vec4(2.0f, 1.0f, 0.5f), vec4(0, t, 0)));
            rig.render(view, lights, instances);
            // Second pass into the same depth: additive torus and a sky box.
            instances = {place(a.addTorus, 1.3f, vec4(0, 1.5f, 1.5f), vec4(t, 0.5f, 0)),
                         place(a.skybox, 60, vec4())};
            rig.render(view, lights, instances, false);
            pictures.push_back(rig.picture());
            continue;
        case Scene::Shadows:
        case Scene::ShadowsInside:
            if (scene == Scene::ShadowsInside) {
                view = eulerTranslation(vec4(0.25f, 0.5f + t * 0.3f, 0), vec4(0.3f, -0.6f, 0.4f));
            }
            instances = {place(a.plane, 8, vec4()),
                         place(a.sphere, 1.2f, vec4(-1.8f, 1.3f, 0), vec4(0, t, 0), true),
                         place(a.box, 0.8f, vec4(2.0f, 1.2f, 1.0f), vec4(0.3f, t, 0.2f), true),
                         place(a.torus, 1.2f, vec4(0.3f, 3.0f, -1.5f), vec4(t, 0.4f, 0), true),
                         place(a.allSphere, 0.6f, vec4(0.5f, 0.8f, 2.5f), vec4(), true),
                         // An open caster: near caps only.
                         place(a.plane, 0.7f, vec4(-0.5f, 4.5f, 1.0f), vec4(0.4f, t, 0), true)};
            break;
        }
        rig.render(view, lights, instances, true, scene == Scene::ShadowsInside);
        if (frame < 3 || frame == frames - 1) {
            pictures.push_back(rig.picture());
        }
    }
    return pictures;
}

} // namespace lumo::test
