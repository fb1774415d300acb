#include "scenes.h"

#include "render/internal/frame.h"
#include "sys/log.h"
#include "tests/support/meshgen.h"

#include <cmath>

namespace lumo::test {

std::unique_ptr<Mesh> meshOf(const std::vector<Tri>& tris, const Material* material,
                             const vec4* uv) {
    auto m = std::make_unique<Mesh>();
    m->texcoords.push_back(vec4());
    for (const Tri& t : tris) {
        MeshFace f;
        f.normal = t.normal;
        f.spare = 7;
        f.material = material;
        for (int k = 0; k < 3; ++k) {
            f.vertexIndex[k] = f.normalIndex[k] = int(m->vertices.size());
            f.texcoordIndex[k] = int(m->texcoords.size());
            const vec4& p = (&t.a)[k];
            m->vertices.push_back(MeshVertex{vec4(p.x, p.y, p.z, 1.0f), t.normal, {}, {}});
            m->normals.push_back(t.normal);
            m->texcoords.push_back(uv ? *uv : vec4(0.25f * k, 0.5f, 0, 0));
        }
        m->faces.push_back(f);
    }
    m->vertexCount = m->normalCount = int(m->vertices.size());
    m->texcoordCount = int(m->texcoords.size());
    m->faceCount = int(m->faces.size());
    return m;
}

static Assets makeAssets() {
    Assets a;
    AlignedVector<vec4> checker;
    for (int i = 0; i < 64 * 32; ++i) {
        const int x = i % 64, y = i / 64;
        checker.push_back(((x >> 3) ^ (y >> 3)) & 1 ? vec4(0.1f, 0.2f, 0.5f, 1.0f)
                                                    : vec4(0.9f, 0.8f, 0.3f + x / 128.0f, 1.0f));
    }
    a.textures = std::make_unique<TextureStore>();
    a.lit.diffuse = vec4(0.8f, 0.5f, 0.3f, 1.0f);
    a.textured = a.litAll = a.gouraudAll = a.additive = a.lit;
    a.textured.textureIndex = a.textures->add(std::make_unique<Texture>(
        Texture{std::make_unique<TextureImage>(TextureImage{std::move(checker), 64, 32}), {}}));
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
    MeshInstance instance =
        MeshInstance::placed(mesh, sharedAssets().meshes.get(), scale, position, angles);
    instance.castsShadow = castsShadow;
    return instance;
}

std::vector<vec4> randomPixels(std::mt19937& rng, size_t n, float low, float high) {
    std::uniform_real_distribution<float> value(low, high);
    std::vector<vec4> v(n);
    for (vec4& p : v) {
        p = vec4(value(rng), value(rng), value(rng), value(rng));
    }
    return v;
}

Rig::Rig(int threads, int w, int h, bool padded)
    : color(padded ? wholeTiles(w) : w, padded ? wholeTiles(h) : h),
      depth(color.width, color.height), stencil(color.width, color.height),
      canvasPixels(size_t(w) * (h + 8), 0xDEADBEEF), canvas{canvasPixels.data(), w, h + 8} {
    LogCapture quiet(false);
    renderer = std::make_unique<Renderer>(RenderTargets{&color, &depth, &stencil, w, h},
                                          sharedAssets().textures.get(), threads);
    renderer->setOutput(&canvas, 0, 4);
    renderer->setAmbient(0.2f);
}

void Rig::render(const mat44& view, std::vector<Light> passLights,
                 std::vector<MeshInstance> passInstances, bool clear, bool pixelLighting) {
    lights = std::move(passLights);
    instances = std::move(passInstances);
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
    renderer->setShowThreads(blur.showThreads);
    renderer->transformAll();
    if (blur.radius >= 0 && blur.inPass) {
        renderer->renderFrameThenBlur(blur.radius);
    } else {
        renderer->renderFrame();
        if (blur.radius >= 0) {
            renderer->blur(blur.radius);
        }
    }
}

Picture Rig::picture() const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(color.pixels);
    return {{bytes, bytes + size_t(color.width) * color.height * sizeof(vec4)},
            {depth.values.begin(), depth.values.end()},
            canvasPixels,
            {stencil.data.begin(), stencil.data.end()}};
}

std::vector<Picture> renderScene(Scene scene, int threads, const std::vector<int>& blockCounts,
                                 int frames, bool padded, int chunkRows, PassBlur blur) {
    const Assets& a = sharedAssets();
    Rig rig(threads, 320, 180, padded);
    rig.blur = blur;
    if (chunkRows > 0) {
        rig.renderer->internals().chunkRows = chunkRows;
    }
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
