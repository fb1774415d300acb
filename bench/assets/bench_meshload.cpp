// Mesh loading: writes 50 generated OBJ meshes of 20 000 triangles each (closed
// tori, so adjacency and plane blocks are built too) with an MTL file, then times
// MeshStore::loadDirectory over them. Prints milliseconds per run and the best run.

#include "assets/mesh.h"
#include "assets/texture.h"
#include "sys/log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

constexpr int kMeshes = 50;
constexpr int kRings = 100;    // around the tube's centre line
constexpr int kSegments = 100; // around the tube: 100 x 100 quads = 20 000 triangles

void writeTorus(const std::filesystem::path& path, int seed) {
    std::ofstream out(path);
    out << "# generated torus " << seed << "\nmtllib bench.mtl\n";
    char line[128];
    for (int i = 0; i < kRings; ++i) {
        for (int j = 0; j < kSegments; ++j) {
            double a = 6.283185307179586 * i / kRings, b = 6.283185307179586 * j / kSegments;
            double r = 3.0 + 0.01 * seed + std::cos(b);
            std::snprintf(line, sizeof(line), "v %.6f %.6f %.6f\n", r * std::cos(a),
                          r * std::sin(a), std::sin(b));
            out << line;
            std::snprintf(line, sizeof(line), "vn %.6f %.6f %.6f\n", std::cos(b) * std::cos(a),
                          std::cos(b) * std::sin(a), std::sin(b));
            out << line;
            std::snprintf(line, sizeof(line), "vt %.6f %.6f\n", double(i) / kRings,
                          double(j) / kSegments);
            out << line;
        }
    }
    out << "usemtl skin\n";
    auto id = [](int i, int j) { return (i % kRings) * kSegments + (j % kSegments) + 1; };
    for (int i = 0; i < kRings; ++i) {
        for (int j = 0; j < kSegments; ++j) {
            int a = id(i, j), b = id(i + 1, j), c = id(i + 1, j + 1), d = id(i, j + 1);
            std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c,
                          c, c);
            out << line;
            std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, d,
                          d, d);
            out << line;
        }
    }
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    std::random_device seed;
    fs::path dir = fs::temp_directory_path() / ("lumo_bench_meshload_" + std::to_string(seed()));
    fs::create_directories(dir);
    std::ofstream(dir / "bench.mtl") << "newmtl skin\nKd 0.8 0.7 0.6\nNs 32\n";
    for (int m = 0; m < kMeshes; ++m) {
        char name[32];
        std::snprintf(name, sizeof(name), "torus%02d.obj", m);
        writeTorus(dir / name, m);
    }
    std::string directory = dir.string() + "/";

    constexpr int kRuns = 5;
    // Processor time beside wall time: on a shared machine the wall time includes
    // waiting for a core.
    double best = 1e30, bestCpu = 1e30;
    std::string report;
    for (int run = 0; run < kRuns; ++run) {
        // The loader logs a line per mesh; keep the figures readable.
        lumo::LogCapture quiet(false);
        lumo::TextureStore textures;
        lumo::MeshStore meshes;
        std::clock_t cpuStart = std::clock();
        auto start = std::chrono::steady_clock::now();
        meshes.loadDirectory(directory, textures);
        auto stop = std::chrono::steady_clock::now();
        double ms = std::chrono::duration<double, std::milli>(stop - start).count();
        double cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        best = std::min(best, ms);
        bestCpu = std::min(bestCpu, cpuMs);
        char line[160];
        std::snprintf(line, sizeof(line),
                      "run %d: %d meshes x %d triangles: %.1f ms (processor time %.1f ms)\n", run,
                      meshes.size() - 1, meshes[1].faceCount, ms, cpuMs);
        report += line;
    }
    fs::remove_all(dir);
    std::printf("%sloadDirectory, best of %d: %.1f ms (processor time %.1f ms)\n", report.c_str(),
                kRuns, best, bestCpu);
    return 0;
}
