#include "app/render_statistics.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

// The pools as they always printed; drops and shadow bins only when there are
// any: only slots with a vertex are listed, one column per worker, and the
// unshadowed lights follow.
TEST(RenderStatistics, PoolsDropsAndShadowBinsBySlotAndWorker) {
    FrameStats s;
    s.vertices = {99000, 100000};
    s.faceRecords = {33000, 100000};
    s.texcoords = {99033, 100000};
    s.normals = {99000, 100000};
    s.workers = 3;
    EXPECT_EQ(renderStatisticsText(s), "-[ pipeline statistics ]----------------\n"
                                       " vertices:    99000 /   100000,   99%\n"
                                       "    faces:    33000 /   100000,   33%\n"
                                       "texcoords:    99033 /   100000,   99%\n"
                                       "  normals:    99000 /   100000,   99%\n"
                                       "\n");
    s.dropped = {7, 0, 4};
    s.shadowBinStart = 10000;
    s.shadowBins[0] = 120;
    s.shadowBins[2] = 9;
    s.shadowBins[3 * 4 + 1] = 30000; // slot 4, worker 1
    s.unshadowedLights = 2;
    const std::string text = renderStatisticsText(s);
    EXPECT_NE(text.find("  normals:    99000 /   100000,   99%\n"
                        "  dropped:        7 meshes,        0 faces,    4 lights (most in one "
                        "frame)\n"),
              std::string::npos)
        << text;
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
