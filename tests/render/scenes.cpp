#include "scenes.h"

#include "render/finalpass.h"
#include "render/meshgen.h"
#include "test_util.h"

#include <cmath>
#include <cstring>

namespace lumo::test {

bool Picture::operator==(const Picture& o) const {
    return color.size() == o.color.size() &&
           std::memcmp(color.data(), o.color.data(), color.size() * sizeof(vec4)) == 0 &&
           depth == o.depth && canvas == o.canvas && stencil == o.stencil;
}

Assets makeAssets() {
    Assets a;
    a.textures = std::make_unique<TextureStore>();
    auto checker = std::make_unique<Texture>();
    checker->name = "checker";
    checker->image = std::make_unique<TextureImage>();
    TextureImage& image = *checker->image;
    image.width = 64;
    image.height = 32;
    image.texels.resize(64 * 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            bool dark = ((x >> 3) ^ (y >> 3)) & 1;
            image.texels[y * 64 + x] =
                dark ? vec4(0.1f, 0.2f, 0.5f, 1.0f) : vec4(0.9f, 0.8f, 0.3f + x / 128.0f, 1.0f);
        }
    }
    a.checker = a.textures->add(std::move(checker));

    a.lit.diffuse = vec4(0.8f, 0.5f, 0.3f, 1.0f);
    a.lit.shaderType = -1;
    a.lit.textureIndex = 0;
    auto variant = [&](int type, int texture = 0) {
        Material m = a.lit;
        m.shaderType = type;
        m.textureIndex = texture;
        return m;
    };
    a.textured = variant(-1, a.checker);
    a.invisible = variant(1);
    a.litAll = variant(4);
    a.litAll.diffuse = vec4(0.3f, 0.7f, 0.4f, 1.0f);
    a.gouraudAll = variant(5);
    a.additive = variant(55);

    a.meshes = std::make_unique<MeshStore>();
    a.sphere = a.meshes->add(makeSphere(24, 16, a.lit));
    a.box = a.meshes->add(makeBox(a.lit));
    a.torus = a.meshes->add(makeTorus(24, 12, 0.35f, a.lit));
    a.plane = a.meshes->add(makePlane(8, a.lit));
    a.skybox = a.meshes->add(makeSkybox(a.textured));
    a.allSphere = a.meshes->add(makeSphere(20, 12, a.litAll));
    a.gouraudBox = a.meshes->add(makeBox(a.gouraudAll));
    a.addTorus = a.meshes->add(makeTorus(20, 10, 0.3f, a.additive));
    a.hiddenBox = a.meshes->add(makeBox(a.invisible));
    return a;
}

namespace {

MeshInstance place(Assets& a, int mesh, float scale, vec4 position, vec4 angles) {
    MeshInstance instance(mesh, a.meshes.get());
    instance.scale = scale;
    instance.placement = mat44::translation(position);
    instance.rotation = eulerRotation(angles);
    return instance;
}

} // namespace

std::vector<Picture> renderScene(Assets& a, Scene scene, const RenderOptions& o) {
    const Assets& m = a;
    CaptureStdout quiet;
    Renderer renderer(o.width, o.height, a.textures.get(), o.threads);
    ColorBuffer color(o.width, o.height);
    DepthBuffer depth(o.width, o.height);
    StencilBuffer stencil(o.width, o.height);
    std::vector<uint32_t> canvasPixels(size_t(o.width) * (o.height + 8), 0xDEADBEEF);
    Canvas canvas{canvasPixels.data(), o.width, o.height + 8};
    renderer.colorBuffer = &color;
    renderer.depthBuffer = &depth;
    renderer.stencilBuffer = &stencil;
    renderer.output = &canvas;
    renderer.outputRowOffset = 4;
    if (!o.blockCounts.empty()) {
        renderer.setBlockCounts(o.blockCounts);
        renderer.balancing = false;
    }
    renderer.pipeline->ambient = 0.2f;

    std::vector<Picture> pictures;
    for (int frame = 0; frame < o.frames; ++frame) {
        const float t = float(frame) * 0.37f;
        Light key{vec4(5, 8, 6, 1), vec4(1, 0.9f, 0.8f), 60.0f, vec4(1, 1, 1), 30.0f, false, {}};
        Light fill{vec4(-7, 3, 2, 1), vec4(0.3f, 0.4f, 1.0f), 30.0f, vec4(1, 1, 1), 0.0f, true, {}};
        std::vector<MeshInstance> instances;
        instances.reserve(32);
        mat44 view = eulerTranslation(vec4(0.35f, t * 0.2f, 0), vec4(0, -3.5f, -11));
        Light low{
            vec4(-6, 3.5f, 4, 1), vec4(0.9f, 0.5f, 0.3f), 45.0f, vec4(1, 1, 1), 10.0f, true, {}};
        const bool shadows = scene == Scene::Shadows || scene == Scene::ShadowsInside;
        auto pass = [&](bool clearColor, bool clearDepth) {
            renderer.beginFrame();
            renderer.setViewMatrix(view);
            renderer.clearColor = clearColor;
            renderer.clearDepth = clearDepth;
            renderer.addLight(&key);
            renderer.addLight(&fill);
            if (shadows) {
                renderer.addLight(&low);
            }
            for (MeshInstance& instance : instances) {
                renderer.addInstance(&instance);
            }
            renderer.pixelLighting = scene == Scene::ShadowsInside;
            renderer.transformAll();
            renderer.renderFrame();
        };
        switch (scene) {
        case Scene::SkyBox:
            view = eulerTranslation(vec4(0.3f + t, 0.7f * t, 0.1f), vec4());
            instances.push_back(place(a, m.skybox, 50, vec4(), vec4()));
            pass(true, true);
            break;
        case Scene::Clipped:
            // Boxes through the near plane and the sides, a torus partly off screen.
            view = eulerTranslation(vec4(0.1f, t * 0.3f, 0), vec4(0, -1, -2.5f));
            for (int i = 0; i < 12; ++i) {
                float x = -6.0f + float(i);
                instances.push_back(place(a, i % 3 ? m.box : m.gouraudBox, 0.9f,
                                          vec4(x, 1.0f + 0.3f * (i % 4), 2.4f - 0.5f * (i % 5)),
                                          vec4(0.3f * i, t, 0)));
            }
            instances.push_back(place(a, m.torus, 3.0f, vec4(4, 1, -4), vec4(1.2f, t, 0)));
            instances.push_back(place(a, m.hiddenBox, 1.0f, vec4(0, 1, 0), vec4()));
            instances.push_back(place(a, m.plane, 20, vec4(0, -0.5f, 0), vec4()));
            pass(true, true);
            break;
        case Scene::TwoPasses: {
            instances.push_back(place(a, m.plane, 8, vec4(0, 0, 0), vec4()));
            instances.push_back(place(a, m.allSphere, 1.5f, vec4(-1.5f, 1.5f, 0), vec4(0, t, 0)));
            instances.push_back(
                place(a, m.gouraudBox, 1.0f, vec4(2.0f, 1.0f, 0.5f), vec4(0, t, 0)));
            pass(true, true);
            // Second pass into the same depth: additive torus and a sky box.
            instances.clear();
            instances.push_back(place(a, m.addTorus, 1.3f, vec4(0, 1.5f, 1.5f), vec4(t, 0.5f, 0)));
            instances.push_back(place(a, m.skybox, 60, vec4(), vec4()));
            pass(false, false);
            break;
        }
        case Scene::Shadows:
        case Scene::ShadowsInside: {
            key.castsShadow = true;
            key.position = vec4(3.0f * std::cos(t), 9, 3.0f * std::sin(t), 1);
            fill.castsShadow = false;
            if (scene == Scene::ShadowsInside) {
                view = eulerTranslation(vec4(0.25f, 0.5f + t * 0.3f, 0), vec4(0.3f, -0.6f, 0.4f));
            }
            instances.push_back(place(a, m.plane, 8, vec4(0, 0, 0), vec4()));
            instances.push_back(place(a, m.sphere, 1.2f, vec4(-1.8f, 1.3f, 0), vec4(0, t, 0)));
            instances.push_back(place(a, m.box, 0.8f, vec4(2.0f, 1.2f, 1.0f), vec4(0.3f, t, 0.2f)));
            instances.push_back(place(a, m.torus, 1.2f, vec4(0.3f, 3.0f, -1.5f), vec4(t, 0.4f, 0)));
            instances.push_back(place(a, m.allSphere, 0.6f, vec4(0.5f, 0.8f, 2.5f), vec4()));
            // An open caster: near caps only.
            instances.push_back(place(a, m.plane, 0.7f, vec4(-0.5f, 4.5f, 1.0f), vec4(0.4f, t, 0)));
            for (size_t i = 1; i < instances.size(); ++i) {
                instances[i].castsShadow = true;
            }
            pass(true, true);
            break;
        }
        }
        Picture p;
        p.color.assign(color.pixels, color.pixels + size_t(o.width) * o.height);
        p.canvas = canvasPixels;
        const int rows = depth.tilesY * 8, columns = depth.tilesX * 8;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                p.depth.push_back(depth.at(x, y));
                p.stencil.push_back(stencil.at(x, y));
            }
        }
        pictures.push_back(std::move(p));
    }
    return pictures;
}

} // namespace lumo::test
