#include "app/benchmark.h"

#include "app/headless.h"
#include "app/timeline.h"
#include "audio/mp3.h"
#include "math/statistics.h"
#include "params/track.h"
#include "render/renderer.h"
#include "render/simd.h"
#include "sys/threads.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

namespace lumo {

namespace {

constexpr int kGridFps = 60;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What one frame puts through the renderer, summed over its passes: faces that
// survive culling and clipping, and the triangles of the shadow volumes built
// for the shadow-casting lights.
struct FrameCounts {
    double triangles = 0.0;
    double shadowVolumeTriangles = 0.0;
};

class CountingSink : public RendererSink {
public:
    CountingSink(Renderer& renderer, const TextureStore& textures, const ScaledOverlays& overlays,
                 FrameCounts& counts)
        : RendererSink(renderer, textures, &overlays), renderer_(renderer), counts_(counts) {}

protected:
    void passDrawn() override {
        const FrameStats stats = renderer_.statistics();
        counts_.triangles += stats.faces;
        counts_.shadowVolumeTriangles += stats.shadowTriangles;
    }

private:
    Renderer& renderer_;
    FrameCounts& counts_;
};

// The frame HeadlessDemo::renderAt draws at `seconds`, counted on its way.
FrameCounts countFrame(HeadlessDemo& demo, double seconds) {
    DemoSession& d = demo.session();
    FrameCounts counts;
    CountingSink sink(*d.renderer, *d.textures, d.overlays, counts);
    demo.renderAt(seconds, &sink);
    return counts;
}

std::string number(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(v) ? v : 0.0);
    return text;
}

} // namespace

std::map<int, std::vector<double>> benchPositions(const SyncTrack* scene, double seconds,
                                                  int perScene) {
    std::map<int, std::vector<double>> positions;
    if (!scene || perScene < 1 || !(seconds > 0.0)) {
        return positions;
    }
    const long count = long(std::ceil(seconds * kGridFps));
    auto sceneAt = [scene](long k) {
        return roundChoice(scene->valueAt(rowFromSeconds(double(k) / kGridFps)));
    };
    std::map<int, long> shown; // grid frames per scene
    for (long k = 0; k < count; ++k) {
        int n = sceneAt(k);
        if (n >= 1 && n <= 7) {
            ++shown[n];
        }
    }
    std::map<int, long> seen;
    for (long k = 0; k < count; ++k) {
        int n = sceneAt(k);
        if (n < 1 || n > 7) {
            continue;
        }
        std::vector<double>& list = positions[n];
        // The i-th position is the grid frame at which the scene has been shown
        // for (i + 1/2) / perScene of its time.
        long target = long((2 * long(list.size()) + 1) * shown[n] / (2 * perScene));
        if (int(list.size()) < perScene && seen[n] == target) {
            list.push_back(double(k) / kGridFps);
        }
        ++seen[n];
    }
    return positions;
}

std::string benchJson(int framesPerPosition, int width, int height,
                      const std::vector<SceneResult>& scenes,
                      const std::vector<TimelineResult>& timeline) {
    std::string j = "{\n  \"frames_per_position\": " + std::to_string(framesPerPosition) +
                    ",\n  \"width\": " + std::to_string(width) +
                    ",\n  \"height\": " + std::to_string(height) + ",\n  \"vector_path\": \"" +
                    simdPathName(activeSimdPath()) + "\",\n  \"scenes\": [";
    for (size_t i = 0; i < scenes.size(); ++i) {
        const SceneResult& r = scenes[i];
        j += i ? ",\n    {" : "\n    {";
        j += "\"scene\": " + std::to_string(r.scene) +
             ", \"threads\": " + std::to_string(r.threads) + ", \"positions\": [";
        for (size_t p = 0; p < r.positions.size(); ++p) {
            j += (p ? ", " : "") + number(r.positions[p], 4);
        }
        j += "], \"median_ms\": " + number(r.medianMs, 4) + ", \"p95_ms\": " + number(r.p95Ms, 4) +
             ", \"fps\": " + number(r.fps, 2) + ", \"triangles\": " + number(r.triangles, 1) +
             ", \"shadow_volume_triangles\": " + number(r.shadowVolumeTriangles, 1) + "}";
    }
    j += "\n  ],\n  \"timeline\": [";
    for (size_t i = 0; i < timeline.size(); ++i) {
        const TimelineResult& t = timeline[i];
        j += i ? ",\n    {" : "\n    {";
        j += "\"threads\": " + std::to_string(t.threads) +
             ", \"fps\": " + std::to_string(kGridFps) + ", \"from\": " + number(t.from, 4) +
             ", \"to\": " + number(t.to, 4) + ", \"frames\": " + std::to_string(t.frames) +
             ", \"seconds\": " + number(t.seconds, 3) +
             ", \"slowest_ms\": " + number(t.slowestMs, 4) +
             ", \"slowest_position\": " + number(t.slowestPosition, 4) + "}";
    }
    j += "\n  ]\n}\n";
    return j;
}

int benchCommand(const std::string& dataDirectory, const BenchSettings& settings) {
    std::vector<int> threads = settings.threads;
    if (threads.empty()) {
        threads = {1, int(std::max<size_t>(1, sys::affinityProcessors().size()))};
    }
    // Each count once, in the order given.
    std::vector<int> counts;
    for (int t : threads) {
        if (std::find(counts.begin(), counts.end(), t) == counts.end()) {
            counts.push_back(t);
        }
    }
    const int frames = std::max(1, settings.frames);
    const int warmUp = std::clamp(frames / 4, 1, 5);
    // The threads as the live demo lays them out: the main thread beside worker 0.
    sys::pinToFirstProcessor();

    DecodedAudio music;
    CapturePlan offline;
    if (int status =
            planOverMusic(dataDirectory, settings.from, settings.to, kGridFps, music, offline)) {
        return status;
    }
    const double musicSeconds = double(music.frameCount()) / double(music.rate);
    music = DecodedAudio{}; // only its length was needed

    std::vector<SceneResult> results;
    std::vector<TimelineResult> timeline;
    std::map<int, std::vector<double>> positions;
    for (int t : counts) {
        HeadlessDemo demo(dataDirectory, t, settings.width, settings.height);
        if (!demo.session().trackSet) {
            std::fprintf(stderr, "lumo: track set failed, out of memory?\n");
            return 1;
        }
        if (positions.empty()) {
            positions = benchPositions(demo.session().tracks.scene, musicSeconds,
                                       settings.positionsPerScene);
            if (positions.empty()) {
                std::fprintf(stderr, "lumo: the timeline shows no scene to measure\n");
                return 1;
            }
        }
        for (const auto& [scene, list] : positions) {
            SceneResult r;
            r.scene = scene;
            r.threads = t;
            r.positions = list;
            std::vector<double> ms;
            for (double s : list) {
                for (int i = 0; i < warmUp; ++i) {
                    demo.renderAt(s);
                }
                for (int i = 0; i < frames; ++i) {
                    auto start = std::chrono::steady_clock::now();
                    demo.renderAt(s);
                    ms.push_back(secondsSince(start) * 1000.0);
                }
                FrameCounts c = countFrame(demo, s);
                r.triangles += c.triangles / double(list.size());
                r.shadowVolumeTriangles += c.shadowVolumeTriangles / double(list.size());
            }
            r.medianMs = median(ms);
            r.p95Ms = percentile(ms, 95.0);
            r.fps = r.medianMs > 0.0 ? 1000.0 / r.medianMs : 0.0;
            results.push_back(r);
        }

        // The whole timeline as a capture renders it (going back to the start
        // begins the distance sum afresh).
        TimelineResult tr;
        tr.threads = t;
        tr.from = offline.from;
        tr.to = offline.to;
        tr.frames = offline.frameCount;
        auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < offline.frameCount; ++k) {
            auto frameStart = std::chrono::steady_clock::now();
            demo.renderAt(offline.framePosition(k));
            double ms = secondsSince(frameStart) * 1000.0;
            if (ms > tr.slowestMs) {
                tr.slowestMs = ms;
                tr.slowestPosition = offline.framePosition(k);
            }
        }
        tr.seconds = secondsSince(start);
        timeline.push_back(tr);
    }

    std::printf("\n%d timed frames per position after %d warm-up frame%s; fps = 1000 / median; "
                "%s vector path; %dx%d frames\n",
                frames, warmUp, warmUp == 1 ? "" : "s", simdPathName(activeSimdPath()),
                settings.width, settings.height);
    for (const auto& [scene, list] : positions) {
        std::printf("scene %d at", scene);
        for (double s : list) {
            std::printf(" %.3f", s);
        }
        std::printf(" s\n");
    }
    std::printf("\nscene  threads  median ms   p95 ms      fps  triangles  shadow vol. tris\n");
    std::vector<SceneResult> sorted = results;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SceneResult& a, const SceneResult& b) { return a.scene < b.scene; });
    for (const SceneResult& r : sorted) {
        std::printf("%5d  %7d  %9.2f  %7.2f  %7.1f  %9.0f  %16.0f\n", r.scene, r.threads,
                    r.medianMs, r.p95Ms, r.fps, r.triangles, r.shadowVolumeTriangles);
    }
    std::printf("\n");
    for (const TimelineResult& tr : timeline) {
        std::printf("whole timeline, %d worker%s: %d frames at %d fps (%.3f to %.3f s) in %.1f s; "
                    "slowest %.2f ms at %.3f s\n",
                    tr.threads, tr.threads == 1 ? "" : "s", tr.frames, kGridFps, tr.from, tr.to,
                    tr.seconds, tr.slowestMs, tr.slowestPosition);
    }

    if (!settings.json.empty()) {
        const std::string text =
            benchJson(frames, settings.width, settings.height, results, timeline);
        const std::string part = settings.json + ".part";
        FILE* file = std::fopen(part.c_str(), "wb");
        bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = file && std::fclose(file) == 0 && ok;
        std::error_code ec;
        if (ok) {
            std::filesystem::rename(part, settings.json, ec);
        }
        if (!ok || ec) {
            std::remove(part.c_str());
            std::fprintf(stderr, "lumo: cannot write %s\n", settings.json.c_str());
            return 1;
        }
        std::printf("results written to %s\n", settings.json.c_str());
    }
    return 0;
}

} // namespace lumo
