// Headless frames of the generated demo: every scene draws a real picture, and
// the picture does not depend on the number of worker threads.

#include "app/benchmark.h"
#include "app/headless.h"
#include "app/png_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

using namespace lumo;

namespace {

const std::string dataDirectory = LUMO_DATA_DIR;

} // namespace

TEST(Headless, EverySceneDrawsAndThreadCountsAgree) {
    if (!std::filesystem::exists(dataDirectory + "sync_scene.track")) {
        GTEST_SKIP() << "no generated data in " << dataDirectory;
    }
    testing::internal::CaptureStdout();
    HeadlessDemo one(dataDirectory, 1);
    HeadlessDemo three(dataDirectory, 3);
    testing::internal::GetCapturedStdout();
    // The middle of the time each scene is shown.
    auto middles = benchPositions(one.session().tracks.scene, 400.0, 1);
    ASSERT_EQ(middles.size(), 7u) << "every scene must occur on the timeline";
    const size_t count = size_t(one.width()) * one.height();
    for (const auto& [scene, positions] : middles) {
        const double seconds = positions[0];
        EXPECT_EQ(one.renderAt(seconds), scene);
        EXPECT_EQ(three.renderAt(seconds), scene);
        EXPECT_GT(std::set<uint32_t>(one.pixels(), one.pixels() + count).size(), 200u)
            << "scene " << scene << " is blank";
        EXPECT_TRUE(std::equal(one.pixels(), one.pixels() + count, three.pixels()))
            << "scene " << scene << " at " << seconds << " s differs between 1 and 3 workers";
        // Rendering the same position again gives the same picture.
        std::vector<uint32_t> first(one.pixels(), one.pixels() + count);
        one.renderAt(seconds);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), one.pixels()));
    }
}

TEST(Headless, PngWriterRefusesWhatItCannotWrite) {
    uint32_t pixels[4] = {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0x00ffffffu};
    std::string error;
    EXPECT_FALSE(writeXrgbPng("/nonexistent/dir/x.png", pixels, 2, 2, 2, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writeXrgbPng("/tmp/never.png", pixels, 0, 2, 2, error));
    std::string path = testing::TempDir() + "lumo_writer.png";
    ASSERT_TRUE(writeXrgbPng(path, pixels, 2, 2, 2, error)) << error;
    std::ifstream in(path, std::ios::binary);
    char signature[8] = {};
    in.read(signature, 8);
    EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n");
    std::remove(path.c_str());
}
