// Headless frames of the generated demo: every scene draws a real picture, and
// the picture does not depend on the number of worker threads.

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

bool haveData() {
    return std::filesystem::exists(dataDirectory + "sync_scene.track");
}

// The middle second of each scene's longest stretch on the timeline.
std::map<int, double> sceneMiddles(HeadlessDemo& demo) {
    const SyncTrack* scene = demo.session().tracks.scene;
    std::map<int, std::pair<double, double>> longest; // scene -> (start, length)
    int current = -1;
    double start = 0.0;
    for (double s = 0.0; s <= 400.0; s += 0.5) {
        int n = roundChoice(scene->valueAt(s * 14.666666666666666));
        if (n != current || s + 0.5 > 400.0) {
            if (current >= 1 && current <= 7 && s - start > longest[current].second) {
                longest[current] = {start, s - start};
            }
            current = n;
            start = s;
        }
    }
    std::map<int, double> middles;
    for (auto [n, span] : longest) {
        middles[n] = span.first + span.second / 2.0;
    }
    return middles;
}

size_t distinctColours(const uint32_t* pixels, size_t count) {
    std::set<uint32_t> colours(pixels, pixels + count);
    return colours.size();
}

} // namespace

TEST(Headless, EverySceneDrawsAndThreadCountsAgree) {
    if (!haveData()) {
        GTEST_SKIP() << "no generated data in " << dataDirectory;
    }
    testing::internal::CaptureStdout();
    HeadlessDemo one(dataDirectory, 1);
    HeadlessDemo three(dataDirectory, 3);
    testing::internal::GetCapturedStdout();
    std::map<int, double> middles = sceneMiddles(one);
    ASSERT_EQ(middles.size(), 7u) << "every scene must occur on the timeline";
    const size_t count = size_t(one.width()) * one.height();
    for (auto [scene, seconds] : middles) {
        EXPECT_EQ(one.renderAt(seconds), scene);
        EXPECT_EQ(three.renderAt(seconds), scene);
        EXPECT_GT(distinctColours(one.pixels(), count), 200u) << "scene " << scene << " is blank";
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
