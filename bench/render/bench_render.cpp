// Renderer benchmark over plain-text scene files (see the scene format notes
// shipped with the benchmarks), so that other renderers can run the same
// workloads side by side. For each scene, worker count and shadow setting it
// renders warm-up frames, then several timed runs, and prints milliseconds per
// frame (median and the spread of the runs), frames per second, faces drawn,
// pixels shaded, shadow-volume triangles per frame and the high-water mark of
// the shadow bins (vertices: the fullest bin, and every used bin as
// slot:worker-0/worker-1/...). "shadows off" renders the same scene with the
// lights' shadow flags cleared.
//
//   bench_render [--threads 1,2] [--shadows both|on|off] [--frames 60] [--runs 7]
//                [--warmup 40] [--size 640x360] [--pictures DIR] [SCENE ...]
//   bench_render --write-meshes DIR
//
// Without scene files it runs every *.scene of its own scene folder. Meshes
// named sphere.obj, torus.obj, plane.obj, box.obj and skybox.obj are generated
// in code (--write-meshes writes them as OBJ files for other renderers); other
// names are read as OBJ files relative to the scene file. --pictures writes the
// last frame of each scene as a PPM.

#include "assets/mesh.h"
#include "assets/texture.h"
#include "math/statistics.h"
#include "render/renderer.h"
#include "sys/log.h"
#include "sys/threads.h"
#include "tests/support/meshgen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lumo;

struct ObjectSpec {
    std::string file;
    vec4 position, angles, color;
    float scale = 1.0f;
    bool shadow = false, textured = false, sky = false;
    float spin = 0.0f;
};

struct SceneSpec {
    std::string name, directory;
    float ambient = 0.0f;
    float shininess = 8.0f;
    mat44 view = mat44::identity();
    std::vector<Light> lights;
    std::vector<ObjectSpec> objects;
};

bool parseFloats(std::istringstream& in, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        if (!(in >> out[i])) {
            return false;
        }
    }
    return true;
}

// Reads a scene file; prints one line and returns false on bad input.
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

// Writes the generated meshes as OBJ files, so other renderers can load the very
// same geometry the scene files name.
bool writeMeshes(const std::string& directory) {
    TextureStore textures;
    SceneSpec none;
    Material m;
    for (const char* name : {"sphere.obj", "torus.obj", "plane.obj", "box.obj", "skybox.obj"}) {
        std::unique_ptr<Mesh> mesh = makeMesh(none, name, m, textures);
        std::string path = directory + "/" + name;
        FILE* f = std::fopen(path.c_str(), "w");
        if (!f) {
            std::printf("cannot write %s\n", path.c_str());
            return false;
        }
        std::fprintf(f, "# generated by bench_render: %d triangles\n", mesh->faceCount);
        for (int i = 0; i < mesh->vertexCount; ++i) {
            const vec4& p = mesh->vertices[i].position;
            std::fprintf(f, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
        }
        for (int i = 1; i < mesh->texcoordCount; ++i) { // entry 0 is the implicit (0, 0)
            std::fprintf(f, "vt %.9g %.9g\n", mesh->texcoords[i].x, mesh->texcoords[i].y);
        }
        for (int i = 0; i < mesh->normalCount; ++i) {
            const vec4& n = mesh->normals[i];
            std::fprintf(f, "vn %.9g %.9g %.9g\n", n.x, n.y, n.z);
        }
        for (const MeshFace& face : mesh->faces) {
            std::fprintf(f, "f");
            for (int k = 0; k < 3; ++k) {
                std::fprintf(f, " %d/", face.vertexIndex[k] + 1);
                if (face.texcoordIndex[k] > 0) {
                    std::fprintf(f, "%d", face.texcoordIndex[k]);
                }
                std::fprintf(f, "/%d", face.normalIndex[k] + 1);
            }
            std::fprintf(f, "\n");
        }
        if (std::fclose(f) != 0) {
            std::printf("cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
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

struct Result {
    double median = 0, best = 0, worst = 0;
    double cpu = 0; // process CPU milliseconds per frame (median run): robust on a busy machine
    // Main thread CPU plus the busiest worker's CPU per frame (median run): the
    // frame time this work would take with a free processor for every thread.
    double critical = 0;
    double mainCpu = 0; // main thread processor time per frame (transform, sort, project)
    double faces = 0, pixels = 0;
    double volumeTriangles = 0; // shadow-volume triangles per frame
    int binMark = 0;            // most vertices in one bin in one frame
    std::string bins;           // every used bin's mark
    std::string workers;        // each worker's processor ms and band blocks per frame
};

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

// One scene on one renderer. The runs of several worker counts alternate
// (see main), so a slow spell of a shared machine hits all of them alike.
class SceneRun {
public:
    SceneRun(const SceneSpec& scene, bool shadows, int threads, int width, int height)
        : scene_(scene), shadows_(shadows), width_(width), height_(height), color_(width, height),
          depth_(width, height), stencil_(width, height), canvasPixels_(size_t(width) * height) {
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
            LogCapture quiet(false); // the renderer's set-up lines are not part of the table
            renderer_ = std::make_unique<Renderer>(RenderTargets{&color_, &depth_, &stencil_},
                                                   &textures_, threads);
        }
        canvas_ = Canvas{canvasPixels_.data(), width, height};
        renderer_->setOutput(&canvas_, 0);
        workerCpu_.assign(size_t(renderer_->threadCount()), 0.0);
        workerBlocks_.assign(size_t(renderer_->threadCount()), 0.0);
    }

    void warmUp(int frames) {
        for (int i = 0; i < frames; ++i) {
            frame();
        }
        faces_ = pixels_ = mainCpu_ = volumeTriangles_ = 0;
        measured_ = 0;
        std::fill(workerCpu_.begin(), workerCpu_.end(), 0.0);
        std::fill(workerBlocks_.begin(), workerBlocks_.end(), 0.0);
    }

    // One timed run; returns its milliseconds per frame.
    double run(int frames) {
        critical_ = 0;
        double cpuStart = sys::processCpuSeconds() * 1e3;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            frame();
        }
        std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
        times_.push_back(ms.count() / frames);
        cpuTimes_.push_back((sys::processCpuSeconds() * 1e3 - cpuStart) / frames);
        criticalTimes_.push_back(critical_ / frames);
        measured_ += frames;
        return times_.back();
    }
    double lastCritical() const { return criticalTimes_.back(); }

    Result result(const std::string& pictureDir) const {
        if (!pictureDir.empty()) {
            writePpm(pictureDir + "/" + scene_.name + (shadows_ ? "" : "-noshadows") + ".ppm",
                     canvasPixels_, width_, height_);
        }
        Result result;
        result.median = lumo::median(times_);
        result.cpu = lumo::median(cpuTimes_);
        result.critical = lumo::median(criticalTimes_);
        result.best = *std::min_element(times_.begin(), times_.end());
        result.worst = *std::max_element(times_.begin(), times_.end());
        const double n = double(measured_);
        result.faces = faces_ / n;
        result.mainCpu = mainCpu_ / n;
        result.pixels = pixels_ / n;
        result.volumeTriangles = volumeTriangles_ / n;
        for (size_t t = 0; t < workerCpu_.size(); ++t) {
            char text[64];
            std::snprintf(text, sizeof text, "%s%.2f@%.1f", t ? " " : "", workerCpu_[t] / n,
                          workerBlocks_[t] / n);
            result.workers += text;
        }
        const FrameStats stats = renderer_->statistics();
        for (int first = 0; first < stats.workers * FrameStats::kShadowSlots;
             first += stats.workers) {
            std::string slot;
            int most = 0;
            for (int t = 0; t < stats.workers; ++t) {
                most = std::max(most, stats.shadowBins[size_t(first + t)]);
                slot += (t ? "/" : "") + std::to_string(stats.shadowBins[size_t(first + t)]);
            }
            if (most > 0) {
                result.binMark = std::max(result.binMark, most);
                result.bins += (result.bins.empty() ? "" : " ") +
                               std::to_string(first / stats.workers) + ":" + slot;
            }
        }
        if (result.bins.empty()) {
            result.bins = "-";
        }
        return result;
    }

private:
    void frame() {
        Renderer& renderer = *renderer_;
        const double mainStart = sys::threadCpuSeconds();
        renderer.beginFrame();
        renderer.setViewMatrix(scene_.view);
        renderer.setClearDepth(true);
        renderer.setAmbient(scene_.ambient);
        for (Light& l : lights_) {
            renderer.addLight(&l);
        }
        for (size_t i = 0; i < instances_.size(); ++i) {
            const ObjectSpec& o = scene_.objects[i];
            instances_[i].rotation = eulerRotation(
                vec4(o.angles.x, o.angles.y + o.spin * float(frameIndex_), o.angles.z));
            renderer.addInstance(&instances_[i]);
        }
        renderer.transformAll();
        renderer.renderFrame();
        const double mainCpu = sys::threadCpuSeconds() - mainStart;
        const FrameStats stats = renderer.statistics();
        double slowest = 0;
        for (int t = 0; t < stats.workers; ++t) {
            const FrameStats::Worker& w = stats.worker[size_t(t)];
            slowest = std::max(slowest, w.cpuSeconds);
            workerCpu_[size_t(t)] += w.cpuSeconds * 1e3;
            workerBlocks_[size_t(t)] += w.blocks;
        }
        critical_ += (mainCpu + slowest) * 1e3;
        mainCpu_ += mainCpu * 1e3;
        faces_ += stats.faces;
        pixels_ += double(stats.rasterPixels);
        volumeTriangles_ += stats.shadowTriangles;
        ++frameIndex_;
    }

    const SceneSpec& scene_;
    bool shadows_;
    int width_, height_;
    TextureStore textures_;
    MeshStore meshes_;
    std::vector<MeshInstance> instances_;
    std::vector<Light> lights_;
    ColorBuffer color_;
    DepthBuffer depth_;
    StencilBuffer stencil_;
    std::vector<uint32_t> canvasPixels_;
    Canvas canvas_{};
    std::unique_ptr<Renderer> renderer_;
    int frameIndex_ = 0;
    long measured_ = 0;
    double faces_ = 0, pixels_ = 0, critical_ = 0, mainCpu_ = 0, volumeTriangles_ = 0;
    std::vector<double> workerCpu_, workerBlocks_;
    std::vector<double> times_, cpuTimes_, criticalTimes_;
};

void usage() {
    std::printf("usage: bench_render [--threads 1,2] [--shadows both|on|off] [--frames N]\n"
                "                    [--runs N] [--warmup N] [--size WxH] [--pictures DIR]\n"
                "                    [SCENE ...]\n"
                "       bench_render --write-meshes DIR   (the generated meshes as OBJ files)\n");
}

} // namespace

int main(int argc, char** argv) {
    // The demo pins its main thread beside worker 0; so does the benchmark, to
    // time the frames the demo makes.
    sys::pinToFirstProcessor();
    std::vector<int> threadCounts = {1, 2};
    int frames = 60, runs = 7, warmup = 40, width = 640, height = 360;
    std::string pictureDir;
    std::vector<bool> shadowSettings = {true, false};
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto positive = [&](int& out) {
            const char* v = value();
            out = v ? std::atoi(v) : 0;
            return out > 0;
        };
        bool ok = true;
        if (arg == "--threads") {
            const char* v = value();
            threadCounts.clear();
            std::stringstream list(v ? v : "");
            std::string item;
            while (std::getline(list, item, ',')) {
                int n = std::atoi(item.c_str());
                ok = ok && n > 0;
                threadCounts.push_back(n);
            }
            ok = ok && !threadCounts.empty();
        } else if (arg == "--shadows") {
            const char* v = value();
            std::string setting = v ? v : "";
            ok = setting == "both" || setting == "on" || setting == "off";
            shadowSettings = setting == "on"    ? std::vector<bool>{true}
                             : setting == "off" ? std::vector<bool>{false}
                                                : std::vector<bool>{true, false};
        } else if (arg == "--frames") {
            ok = positive(frames);
        } else if (arg == "--runs") {
            ok = positive(runs);
        } else if (arg == "--warmup") {
            const char* v = value();
            warmup = v ? std::atoi(v) : -1;
            ok = warmup >= 0;
        } else if (arg == "--size") {
            const char* v = value();
            ok = v && std::sscanf(v, "%dx%d", &width, &height) == 2 && width >= 8 && height >= 8 &&
                 width <= 4096 && height <= 4096;
        } else if (arg == "--pictures") {
            const char* v = value();
            ok = v != nullptr;
            pictureDir = v ? v : "";
        } else if (arg == "--write-meshes") {
            const char* v = value();
            return v && writeMeshes(v) ? 0 : 1;
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            ok = false;
        } else {
            files.push_back(arg);
        }
        if (!ok) {
            std::printf("bad argument: %s\n", arg.c_str());
            usage();
            return 1;
        }
    }
    if (files.empty()) {
        for (const auto& entry : std::filesystem::directory_iterator(LUMO_BENCH_SCENES_DIR)) {
            if (entry.path().extension() == ".scene") {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
    }

    std::printf("%dx%d, %d warm-up frames, %d runs of %d frames, main thread on the first "
                "processor as in the demo; the worker counts' runs alternate;\nms/frame is the "
                "median run, spread min..max; speed-up: median ratio of runs made one after the "
                "other;\ncpu ms: "
                "process processor time per frame; crit. ms: main thread plus busiest worker "
                "processor time per frame (the frame time with a free processor per thread);\n"
                "per worker: processor ms per frame @ mean band height in 8-row blocks\n",
                width, height, warmup, runs, frames);
    std::printf("%-8s %7s %7s %9s %15s %7s %6s %9s %8s %8s %9s %8s %8s %9s %8s  %-22s  %s\n",
                "scene", "shadows", "workers", "ms/frame", "spread", "fps", "faces", "Mpix/s",
                "speed-up", "cpu ms", "crit. ms", "crit. up", "main ms", "vol.tris", "bin hwm",
                "bins (slot:per worker)", "per worker");
    for (const std::string& file : files) {
        SceneSpec scene;
        if (!loadScene(file, scene)) {
            return 1;
        }
        for (bool shadows : shadowSettings) {
            std::vector<std::unique_ptr<SceneRun>> sceneRuns;
            for (int threads : threadCounts) {
                sceneRuns.push_back(
                    std::make_unique<SceneRun>(scene, shadows, threads, width, height));
                sceneRuns.back()->warmUp(warmup);
            }
            // Runs alternate between the worker counts; a speed-up is the
            // median of the ratios between runs made one after the other.
            std::vector<std::vector<double>> ratios(sceneRuns.size()),
                criticalRatios(sceneRuns.size());
            for (int r = 0; r < runs; ++r) {
                std::vector<double> wall, critical;
                for (auto& sceneRun : sceneRuns) {
                    wall.push_back(sceneRun->run(frames));
                    critical.push_back(sceneRun->lastCritical());
                }
                for (size_t k = 0; k < sceneRuns.size(); ++k) {
                    ratios[k].push_back(wall.front() / wall[k]);
                    criticalRatios[k].push_back(critical.front() / critical[k]);
                }
            }
            for (size_t k = 0; k < sceneRuns.size(); ++k) {
                const Result r = sceneRuns[k]->result(pictureDir);
                char spread[64];
                std::snprintf(spread, sizeof spread, "%.2f..%.2f", r.best, r.worst);
                std::printf("%-8s %7s %7d %9.3f %15s %7.1f %6.0f %9.1f %7.2fx %8.3f %9.3f %7.2fx "
                            "%8.3f %9.0f %8d  %-22s  %s\n",
                            scene.name.c_str(), shadows ? "on" : "off", threadCounts[k], r.median,
                            spread, 1000.0 / r.median, r.faces, r.pixels / r.median / 1000.0,
                            lumo::median(ratios[k]), r.cpu, r.critical,
                            lumo::median(criticalRatios[k]), r.mainCpu, r.volumeTriangles,
                            r.binMark, r.bins.c_str(), r.workers.c_str());
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
