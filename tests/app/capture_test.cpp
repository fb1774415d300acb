// The headless modes: the plan of frames and samples, the WAV and PNG writers,
// and on the generated demo every scene drawn with 1 and 3 workers, a short
// capture checked against --frame and the decoded music, and a quick benchmark.

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/headless.h"
#include "app/png_writer.h"
#include "app/timeline.h"
#include "audio/mp3.h"
#include "math/statistics.h"
#include "params/track.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <vector>

using namespace lumo;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether text is one well-formed JSON value made of objects, arrays, strings
// without escapes and numbers (read loosely: "nan" and "inf" are no numbers).
bool wellFormedJson(const std::string& s) {
    size_t i = 0;
    auto skip = [&](const char* chars) {
        return i = std::min(s.find_first_not_of(chars, i), s.size());
    };
    auto next = [&](char c) { return skip(" \t\r\n") < s.size() && s[i] == c && ++i; };
    std::function<bool()> value = [&]() -> bool {
        if (next('"')) {
            return (i = s.find('"', i)) != std::string::npos && ++i;
        }
        const char close = next('{') ? '}' : next('[') ? ']' : 0;
        if (!close) {
            const size_t start = i;
            return skip("0123456789+-.eE") > start;
        }
        if (next(close)) {
            return true;
        }
        do {
            if ((close == '}' && (!value() || !next(':'))) || !value()) {
                return false;
            }
        } while (next(','));
        return next(close);
    };
    return value() && skip(" \t\r\n") == s.size();
}

// Runs on the generated demo, in a scratch directory removed at the end.
class Capture : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(data + "sync_scene.track") || !fs::exists(data + "j2.mp3")) {
            GTEST_SKIP() << "no generated data in " << data;
        }
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    const std::string data = LUMO_DATA_DIR;
    const fs::path dir =
        fs::temp_directory_path() / ("lumo-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
};
class Bench : public Capture {};

// The capture's file operations, done for real and logged by file name:
// "write NAME" when a file is written, "rename FROM TO".
class RecordingFiles : public CaptureFiles {
public:
    bool writePng(const std::string& path, const uint32_t* pixels, int width, int height,
                  std::string& error) override {
        log.push_back("write " + fs::path(path).filename().string());
        return CaptureFiles::writePng(path, pixels, width, height, error);
    }
    bool writeWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                  uint32_t channels, std::string& error) override {
        log.push_back("write " + fs::path(path).filename().string());
        return CaptureFiles::writeWav(path, samples, sampleRate, channels, error);
    }
    bool rename(const std::string& from, const std::string& to, std::string& error) override {
        log.push_back("rename " + fs::path(from).filename().string() + " " +
                      fs::path(to).filename().string());
        return CaptureFiles::rename(from, to, error);
    }
    std::vector<std::string> log;
};
class Headless : public Capture {};

} // namespace

TEST(CaptureFiles, TheWavIsCanonicalAndWritersRefuseBadTargets) {
    const std::vector<int16_t> span = {2, -2, 3, -3, 0, 0, 0, 0};

    std::string error;
    const std::string wav = testing::TempDir() + "lumo-canonical.wav";
    ASSERT_TRUE(writeWav(wav, span.data(), 4, 44100, 2, error)) << error;
    // 16-bit stereo PCM at 44100 Hz (176400 bytes a second), little-endian.
    const char expected[] = "RIFF\x34\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0"
                            "\x04\0\x10\0data\x10\0\0\0\x02\0\xFE\xFF\x03\0\xFD\xFF";
    EXPECT_EQ(readFile(wav), std::string(expected, 52) + std::string(8, '\0'));
    fs::remove(wav);

    // A full disk, a missing directory and an empty picture are errors.
    EXPECT_FALSE(writeWav("/dev/full", span.data(), 4, 44100, 2, error));
    EXPECT_NE(error.find("space"), std::string::npos) << error;
    EXPECT_FALSE(writeWav("/nonexistent/a.wav", span.data(), 4, 44100, 2, error));
    EXPECT_FALSE(error.empty());
    uint32_t pixel = 0;
    EXPECT_FALSE(writeXrgbPng("/nonexistent/a.png", &pixel, 1, 1, 1, error));
    EXPECT_FALSE(writeXrgbPng(testing::TempDir() + "lumo-never.png", &pixel, 0, 1, 1, error));
}

TEST(CaptureProgress, LineShowsFramePercentRateAndTimeLeft) {
    EXPECT_EQ(progressLine(450, 900, 30.0), "frame 450/900   50.0 %  30.0 fps  0:15 left");
    EXPECT_EQ(progressLine(0, 900, 0.0), "frame 0/900    0.0 %");
    EXPECT_EQ(captureFrameName(42), "frame000042.png");
}

TEST(BenchStatistics, MedianAndNearestRankPercentile) {
    EXPECT_EQ(median({}), 0.0);
    EXPECT_EQ(median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(median({4.0, 1.0, 2.0, 3.0}), 2.5);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(i);
    }
    EXPECT_EQ(percentile(hundred, 95.0), 95.0);
    EXPECT_EQ(percentile(hundred, 95.5), 96.0);
    EXPECT_EQ(percentile(hundred, 100.0), 100.0);
    EXPECT_EQ(percentile(hundred, 0.0), 1.0);
    EXPECT_EQ(percentile({7.0}, 95.0), 7.0);
    EXPECT_EQ(percentile({}, 50.0), 0.0);
}

TEST(BenchPositions, SpreadOverTheTimeEachSceneIsShown) {
    // Scene 2 for rows 0..43 (3 s), scene 5 for rows 44..57, then 9, which is
    // no scene.
    SyncTrack scene("scene");
    scene.keys = {
        {0, 2.0f, KeyInterp::Hold}, {44, 5.0f, KeyInterp::Hold}, {58, 9.0f, KeyInterp::Hold}};
    scene.keyCount = 3;
    auto positions = benchPositions(&scene, 5.0, 3);
    ASSERT_EQ(positions.size(), 2u);
    // 1/6, 1/2 and 5/6 of 180 grid frames.
    EXPECT_EQ(positions[2], (std::vector<double>{30.0 / 60.0, 90.0 / 60.0, 150.0 / 60.0}));
    for (double s : positions[5]) {
        EXPECT_EQ(roundChoice(scene.valueAt(rowFromSeconds(s))), 5) << s;
    }
}

TEST_F(Capture, FramesMatchFrameCommandAndTheMusicSpan) {
    testing::internal::CaptureStdout();
    // Start inside scene 6, which has the most triangles (else any scene).
    HeadlessDemo probe(data, 1);
    auto positions = benchPositions(probe.session().tracks.scene, 170.0, 1);
    ASSERT_FALSE(positions.empty());
    const double from = positions.count(6) ? positions[6][0] : positions.begin()->second[0];

    // An earlier capture's frames and audio must not survive into this one.
    const fs::path one = dir / "one", single = dir / "single.png";
    fs::create_directories(one);
    std::ofstream(one / "frame000099.png") << "old";
    std::ofstream(one / "notes.txt") << "mine";
    CaptureSettings settings{one.string(), "", 10, from, from + 1.5, 1}; // 10 fps, 1 worker
    RecordingFiles files;
    settings.files = &files;
    int captured = captureCommand(data, settings);
    CapturePlan plan;
    std::string error;
    ASSERT_TRUE(planCapture(from, from + 1.5, 10, 1000.0, 44100, plan, error));
    int frame = renderFrameCommand(data, plan.framePosition(7), single.string(), 2);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(captured, 0) << out;
    ASSERT_EQ(frame, 0);
    EXPECT_NE(out.find("captured 15 frames at 10 fps"), std::string::npos) << out;

    std::vector<std::string> names, expected = {"audio.wav"};
    for (int k = 0; k < 15; ++k) {
        expected.push_back(captureFrameName(k));
    }
    expected.push_back("notes.txt");
    for (const auto& entry : fs::directory_iterator(one)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected); // old frames gone, the user's file kept, no .part left
    // Nothing is ever written under its final name: a file there is whole. The
    // frames come in order, and audio.wav, whose presence marks a capture that
    // ended properly, comes last.
    std::vector<std::string> steps;
    for (int k = 0; k <= 15; ++k) {
        const std::string name = k < 15 ? captureFrameName(k) : "audio.wav";
        steps.push_back("write " + name + ".part");
        steps.push_back("rename " + name + ".part " + name);
    }
    EXPECT_EQ(files.log, steps);
    // 640 x 360, big-endian in the header.
    EXPECT_EQ(readFile(one / names[1]).substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\x68", 8));
    // --frame draws with 2 workers, the capture with 1: the pictures agree.
    EXPECT_TRUE(readFile(one / captureFrameName(7)) == readFile(single))
        << "frame 7 differs from --frame at " << plan.framePosition(7);

    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(data + "j2.mp3", music), 0);
    std::string wav = readFile(one / "audio.wav");
    ASSERT_EQ(wav.size(), 44u + 66150u * 4u);
    ASSERT_LE(plan.firstSample + 66150, music.frameCount());
    EXPECT_EQ(std::memcmp(wav.data() + 44, &music.samples[plan.firstSample * 2], 66150u * 4u), 0)
        << "audio.wav is not the music from sample " << plan.firstSample;
}

TEST_F(Capture, UnusableDirectoryAndLateStartFailWithoutLeavingOutput) {
    std::ofstream(dir / "file") << "x";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CaptureSettings blocked{(dir / "file" / "sub").string(), "", 10, 0.0, 0.5, 0},
        late{(dir / "late").string(), "", 10, 100000.0, -1.0, 0};
    EXPECT_EQ(captureCommand(data, blocked), 1);
    EXPECT_EQ(captureCommand(data, late), 2);
    testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot create the directory"), std::string::npos) << err;
    EXPECT_NE(err.find("beyond the end of the demo"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "late"));
}

TEST_F(Bench, QuickRunCoversEverySceneAndWritesJson) {
    // A short offline run, 1 frame per position and 1 position per scene.
    BenchSettings settings{{1, 2}, 1, (dir / "bench.json").string(), 0.0, 0.25, 1};
    testing::internal::CaptureStdout();
    int status = benchCommand(data, settings);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("median ms"), std::string::npos);
    const std::string json = readFile(settings.json);
    EXPECT_TRUE(wellFormedJson(json)) << json;
    EXPECT_FALSE(fs::exists(settings.json + ".part"));
    // Per scene, the triangle counts of each worker count: every scene draws
    // something, and how much does not depend on the bands.
    std::map<std::string, std::vector<std::string>> triangles;
    std::regex entry(R"("scene": (\d+), "threads": [12],[^}]*("triangles": [^}]*))");
    for (std::sregex_iterator m(json.begin(), json.end(), entry), end; m != end; ++m) {
        triangles[(*m)[1]].push_back((*m)[2]);
    }
    ASSERT_EQ(triangles.size(), 7u) << json;
    EXPECT_EQ(triangles.begin()->first + triangles.rbegin()->first, "17");
    for (const auto& [scene, counts] : triangles) {
        ASSERT_EQ(counts.size(), 2u) << scene;
        EXPECT_EQ(counts[0].find("\"triangles\": 0.0,"), std::string::npos) << scene;
        EXPECT_EQ(counts[0], counts[1]) << "scene " << scene;
    }
    std::regex timeline(R"("frames": 15,)");
    EXPECT_EQ(std::distance(std::sregex_iterator(json.begin(), json.end(), timeline),
                            std::sregex_iterator()),
              2);
}

TEST_F(Headless, EverySceneDrawsAndThreadCountsAgree) {
    testing::internal::CaptureStdout();
    HeadlessDemo one(data, 1);
    HeadlessDemo three(data, 3);
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
