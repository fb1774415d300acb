#include "bench/render/scene_file.h"

#include "sys/log.h"
#include "tests/support/meshgen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace lumo {

namespace {

bool parseFloats(std::istringstream& in, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        if (!(in >> out[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool loadScene(const std::string& path, SceneSpec& scene) {
    std::ifstream file(path);
    if (!file) {
        std::printf("cannot open scene file %s\n", path.c_str());
        return false;
    }
    scene.name = std::filesystem::path(path).stem().string();
    scene.directory = std::filesystem::path(path).parent_path().string();
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::istringstream in(line);
        std::string word;
        if (!(in >> word)) {
            continue;
        }
        float v[12];
        bool ok = true;
        if (word == "ambient") {
            ok = parseFloats(in, &scene.ambient, 1);
        } else if (word == "shininess") {
            ok = parseFloats(in, &scene.shininess, 1);
        } else if (word == "view" && (ok = parseFloats(in, v, 6))) {
            scene.view = eulerTranslation(vec4(v[3], v[4], v[5]), vec4(v[0], v[1], v[2]));
        } else if (word == "camera" && (ok = parseFloats(in, v, 6))) {
            mat44 eye =
                mat44::translation(vec4(v[0], v[1], v[2])) * eulerRotation(vec4(v[3], v[4], v[5]));
            ok = invert(eye, scene.view);
        } else if (word == "light" && (ok = parseFloats(in, v, 11))) {
            Light light;
            light.position = vec4(v[0], v[1], v[2], 1.0f);
            light.color = vec4(v[3], v[4], v[5], 0.0f);
            light.diffuse = v[6];
            light.specularColor = vec4(v[7], v[8], v[9], 0.0f);
            light.specular = v[10];
            std::string flag;
            while (in >> flag) {
                if (flag == "shadow") {
                    light.castsShadow = true;
                } else {
                    ok = false;
                }
            }
            scene.lights.push_back(light);
        } else if (word == "object") {
            ObjectSpec o;
            ok = bool(in >> o.file) && parseFloats(in, v, 10);
            if (ok) {
                o.position = vec4(v[0], v[1], v[2], 1.0f);
                o.scale = v[3];
                o.angles = vec4(v[4], v[5], v[6]);
                o.color = vec4(v[7], v[8], v[9], 1.0f);
                std::string flag;
                while (in >> flag) {
                    if (flag == "shadow") {
                        o.shadow = true;
                    } else if (flag == "tex") {
                        o.textured = true;
                    } else if (flag == "sky") {
                        o.sky = true;
                    } else if (flag.rfind("spin=", 0) == 0) {
                        char* end = nullptr;
                        o.spin = std::strtof(flag.c_str() + 5, &end);
                        ok = ok && end && *end == '\0';
                    } else {
                        ok = false;
                    }
                }
                scene.objects.push_back(o);
            }
        } else {
            ok = false;
        }
        if (!ok) {
            std::printf("%s:%d: cannot read \"%s\"\n", path.c_str(), number, line.c_str());
            return false;
        }
    }
    // Sky objects are drawn after all others.
    std::stable_partition(scene.objects.begin(), scene.objects.end(),
                          [](const ObjectSpec& o) { return !o.sky; });
    return true;
}

std::unique_ptr<Mesh> makeMesh(const SceneSpec& scene, const std::string& file,
                               const Material& material, TextureStore& textures) {
    if (file == "sphere.obj") {
        return makeSphere(100, 101, material); // 20 000 triangles
    }
    if (file == "torus.obj") {
        return makeTorus(50, 50, 0.35f, material); // 5 000 triangles
    }
    if (file == "plane.obj") {
        return makePlane(16, material);
    }
    if (file == "box.obj") {
        return makeBox(material);
    }
    if (file == "skybox.obj") {
        return makeSkybox(material);
    }
    auto mesh = std::make_unique<Mesh>();
    mesh->loadObj(scene.directory + "/", file, textures);
    mesh->materials.push_back(material);
    for (MeshFace& f : mesh->faces) {
        f.material = &mesh->materials.back();
    }
    return mesh;
}

std::unique_ptr<Texture> checkerTexture() {
    auto texture = std::make_unique<Texture>();
    texture->name = "checker";
    texture->image = std::make_unique<TextureImage>();
    TextureImage& image = *texture->image;
    image.width = image.height = 256;
    image.texels.resize(256 * 256);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            bool dark = ((x >> 5) ^ (y >> 5)) & 1;
            image.texels[y * 256 + x] =
                dark ? vec4(0.15f, 0.25f, 0.55f, 1.0f) : vec4(0.85f, 0.8f, 0.6f, 1.0f);
        }
    }
    return texture;
}

mat44 objectRotation(const ObjectSpec& object, int frameIndex) {
    return eulerRotation(
        vec4(object.angles.x, object.angles.y + object.spin * float(frameIndex), object.angles.z));
}

OptionRead readRunOption(int argc, char** argv, int& i, RunOptions& options) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    auto positive = [&](int& out) {
        const char* v = value();
        out = v ? std::atoi(v) : 0;
        return out > 0;
    };
    bool ok = true;
    if (arg == "--threads") {
        const char* v = value();
        options.threadCounts.clear();
        std::stringstream list(v ? v : "");
        std::string item;
        while (std::getline(list, item, ',')) {
            int n = std::atoi(item.c_str());
            ok = ok && n > 0;
            options.threadCounts.push_back(n);
        }
        ok = ok && !options.threadCounts.empty();
    } else if (arg == "--shadows") {
        const char* v = value();
        std::string setting = v ? v : "";
        ok = setting == "both" || setting == "on" || setting == "off";
        options.shadowSettings = setting == "on"    ? std::vector<bool>{true}
                                 : setting == "off" ? std::vector<bool>{false}
                                                    : std::vector<bool>{true, false};
    } else if (arg == "--frames") {
        ok = positive(options.frames);
    } else if (arg == "--runs") {
        ok = positive(options.runs);
    } else if (arg == "--warmup") {
        const char* v = value();
        options.warmup = v ? std::atoi(v) : -1;
        ok = options.warmup >= 0;
    } else if (arg == "--size") {
        const char* v = value();
        ok = v && std::sscanf(v, "%dx%d", &options.width, &options.height) == 2 &&
             options.width >= 8 && options.height >= 8 && options.width <= 4096 &&
             options.height <= 4096;
    } else if (arg == "--paths") {
        const char* v = value();
        options.paths.clear();
        std::stringstream list(v ? v : "");
        std::string item;
        while (std::getline(list, item, ',')) {
            const std::optional<SimdPath> path = simdPathFromName(item);
            ok = ok && path.has_value();
            options.paths.push_back(path.value_or(SimdPath::Sse));
        }
        ok = ok && !options.paths.empty();
    } else if (arg == "--pictures") {
        const char* v = value();
        ok = v != nullptr;
        options.pictureDir = v ? v : "";
    } else if (!arg.empty() && arg[0] == '-') {
        return OptionRead::Unknown;
    } else {
        options.files.push_back(arg);
    }
    return ok ? OptionRead::Taken : OptionRead::Bad;
}

std::optional<int> readCommandLine(int argc, char** argv, RunOptions& options, void (*usage)(),
                                   const ExtraOption& extra) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (extra) {
            if (const std::optional<int> status = extra(arg, i)) {
                return status;
            }
        }
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        if (readRunOption(argc, argv, i, options) != OptionRead::Taken) {
            std::printf("bad argument: %s\n", arg.c_str());
            usage();
            return 1;
        }
    }
    if (options.files.empty()) {
        options.files = sceneFolderFiles();
    }
    if (!chooseVectorPaths(options)) {
        return 1;
    }
    return std::nullopt;
}

bool chooseVectorPaths(RunOptions& options) {
    std::string error;
    if (!chooseSimdPath(std::getenv("LUMO_SIMD"), error)) {
        std::printf("%s\n", error.c_str());
        return false;
    }
    if (options.paths.empty()) {
        options.paths.push_back(activeSimdPath());
    }
    for (SimdPath path : options.paths) {
        if (!simdPathSupported(path)) {
            std::printf("this processor cannot run the %s path\n", simdPathName(path));
            return false;
        }
    }
    return true;
}

std::vector<std::string> sceneFolderFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(LUMO_BENCH_SCENES_DIR)) {
        if (entry.path().extension() == ".scene") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool writePpm(const std::string& path, const std::vector<uint32_t>& pixels, int w, int h) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (uint32_t p : pixels) {
        unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

LumoScene::LumoScene(const SceneSpec& scene, bool shadows, int threads, int width, int height)
    : scene_(scene), color_(width, height), depth_(width, height), stencil_(width, height),
      canvasPixels_(size_t(width) * height) {
    const int checker = textures_.add(checkerTexture());
    for (const ObjectSpec& o : scene.objects) {
        Material m;
        m.diffuse = o.color;
        m.shininess = scene.shininess;
        m.shaderType = ShaderType::Plain;
        m.textureIndex = o.textured ? checker : 0;
        int index = meshes_.add(makeMesh(scene, o.file, m, textures_));
        MeshInstance instance(index, &meshes_);
        instance.scale = o.scale;
        instance.placement = mat44::translation(o.position);
        instance.castsShadow = o.shadow;
        instances_.push_back(instance);
    }
    lights_ = scene.lights;
    if (!shadows) {
        for (Light& l : lights_) {
            l.castsShadow = false;
        }
    }
    {
        LogCapture quiet(false); // the renderer's set-up lines are not part of any table
        renderer_ = std::make_unique<Renderer>(RenderTargets{&color_, &depth_, &stencil_},
                                               &textures_, threads);
    }
    canvas_ = Canvas{canvasPixels_.data(), width, height};
    renderer_->setOutput(&canvas_, 0, 0);
}

void LumoScene::frame() {
    Renderer& renderer = *renderer_;
    renderer.beginFrame();
    renderer.setViewMatrix(scene_.view);
    renderer.setClearDepth(true);
    renderer.setAmbient(scene_.ambient);
    for (Light& l : lights_) {
        renderer.addLight(&l);
    }
    for (size_t i = 0; i < instances_.size(); ++i) {
        instances_[i].rotation = objectRotation(scene_.objects[i], frameIndex_);
        renderer.addInstance(&instances_[i]);
    }
    renderer.transformAll();
    renderer.renderFrame();
    ++frameIndex_;
}

} // namespace lumo
