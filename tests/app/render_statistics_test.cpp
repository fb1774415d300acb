#include "app/render_statistics.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

FrameStats pools(int vertices, int faces, int texcoords, int normals) {
    FrameStats s;
    s.vertices = {vertices, 100000};
    s.faceRecords = {faces, 100000};
    s.texcoords = {texcoords, 100000};
    s.normals = {normals, 100000};
    return s;
}

TEST(RenderStatistics, PoolsAndDropsPrintAsTheyAlwaysHave) {
    FrameStats s = pools(99000, 33000, 99033, 99000);
    s.workers = 2;
    EXPECT_EQ(renderStatisticsText(s), "-[ pipeline statistics ]----------------\n"
                                       " vertices:    99000 /   100000,   99%\n"
                                       "    faces:    33000 /   100000,   33%\n"
                                       "texcoords:    99033 /   100000,   99%\n"
                                       "  normals:    99000 /   100000,   99%\n"
                                       "\n");
    s.dropped = {7, 0, 4};
    EXPECT_NE(renderStatisticsText(s).find(
                  "  dropped:        7 meshes,        0 faces,    4 lights (most in one frame)\n"),
              std::string::npos);
}

// Only slots with a vertex are listed, one column per worker; empty slots
// between them are skipped, and the unshadowed lights follow.
TEST(RenderStatistics, ShadowBinsBySlotAndWorker) {
    FrameStats s = pools(10, 10, 10, 10);
    s.workers = 3;
    s.shadowBinStart = 10000;
    s.shadowBins[0] = 120;
    s.shadowBins[2] = 9;
    s.shadowBins[3 * 4 + 1] = 30000; // slot 4, worker 1
    s.unshadowedLights = 2;
    const std::string text = renderStatisticsText(s);
    EXPECT_NE(text.find("  shadows:    30000 vertices in the fullest bin (bins start at 10000, "
                        "grow when full)\n"
                        "  slot  0:      120        0        9\n"
                        "  slot  4:        0    30000        0\n"
                        "  unshadowed:    2 shadow-casting lights beyond the shadow slots (most in "
                        "one frame)\n\n"),
              std::string::npos)
        << text;
}

} // namespace
} // namespace lumo
