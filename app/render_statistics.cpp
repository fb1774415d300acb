#include "app/render_statistics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace lumo {

namespace {

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out.append(line, size_t(std::clamp(length, 0, int(sizeof line) - 1)));
}

void poolLine(std::string& out, const char* name, const FrameStats::Pool& pool) {
    appendf(out, "%9s: % 8d / % 8d, %4.0f%%\n", name, pool.mark, pool.capacity,
            100.0f * float(pool.mark) / float(pool.capacity));
}

} // namespace

std::string renderStatisticsText(const FrameStats& stats) {
    std::string out = "-[ pipeline statistics ]----------------\n";
    poolLine(out, "vertices", stats.vertices);
    poolLine(out, "faces", stats.faceRecords);
    poolLine(out, "texcoords", stats.texcoords);
    poolLine(out, "normals", stats.normals);
    const FrameStats::Dropped& dropped = stats.dropped;
    if (dropped.meshes || dropped.faces || dropped.lights) {
        appendf(out, "  dropped: % 8d meshes, % 8d faces, % 4d lights (most in one frame)\n",
                dropped.meshes, dropped.faces, dropped.lights);
    }
    const int workers = std::clamp(stats.workers, 1, FrameStats::kMaxWorkers);
    const auto bins = stats.shadowBins.begin();
    const int binCount = workers * FrameStats::kShadowSlots;
    const int fullest = *std::max_element(bins, bins + binCount);
    if (fullest > 0) {
        appendf(out,
                "  shadows: % 8d vertices in the fullest bin (bins start at %d, grow when full)\n",
                fullest, stats.shadowBinStart);
        for (int slot = 0; slot < FrameStats::kShadowSlots; ++slot) {
            const auto first = bins + slot * workers;
            if (*std::max_element(first, first + workers) == 0) {
                continue;
            }
            appendf(out, "  slot %2d:", slot);
            for (int t = 0; t < workers; ++t) {
                appendf(out, " % 8d", first[t]);
            }
            out += "\n";
        }
    }
    if (stats.unshadowedLights > 0) {
        appendf(out,
                "  unshadowed: % 4d shadow-casting lights beyond the shadow slots (most in one "
                "frame)\n",
                stats.unshadowedLights);
    }
    out += "\n";
    return out;
}

} // namespace lumo
