// The headless modes: the plan of frames and samples, the WAV and PNG writers,
// and on the generated demo every scene drawn with 1 and 3 workers, a short
// capture checked against --frame and the decoded music, and a quick benchmark.

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/headless.h"
#include "app/png_writer.h"
#include "assets/png.h"
#include "audio/mp3.h"
#include "math/statistics.h"
#include "params/track.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <regex>
#include <tuple>
#include <utility>
#include <vector>

using namespace lumo;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether text is one JSON value of objects, arrays, numbers and strings
// without escapes: scalars become 0, then innermost arrays and objects of them
// do, until one 0 is left.
bool wellFormedJson(std::string s) {
    s = std::regex_replace(s, std::regex(R"("[^"\\]*"|-?\d+(\.\d+)?([eE][+-]?\d+)?)"), "0");
    s = std::regex_replace(s, std::regex(R"(\s+)"), "");
    const std::regex innermost(R"(\[(0(,0)*)?\]|\{(0:0(,0:0)*)?\})");
    for (std::string before; before != s;) {
        before = std::exchange(s, std::regex_replace(s, innermost, "0"));
    }
    return s == "0";
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
    const fs::path dir = fs::temp_directory_path() / ("lumo-capture-" + std::to_string(::getpid()));
};

// The pixels of a PNG file, as the demo's own decoder reads them.
std::vector<uint8_t> decodedPixels(const fs::path& path) {
    const std::string bytes = readFile(path);
    PngImage image;
    if (decodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image) !=
        PngError::None) {
        return {};
    }
    return image.pixels;
}

// The capture's file operations, done for real and logged by file name:
// "write NAME" when a file is whole, "rename FROM TO". PNGs are written on
// several threads at once.
class RecordingFiles : public CaptureFiles {
public:
    bool writePng(const std::string& path, const uint32_t* pixels, int width, int height, int level,
                  std::string& error) override {
        bool ok = CaptureFiles::writePng(path, pixels, width, height, level, error);
        record("write " + fs::path(path).filename().string());
        return ok;
    }
    bool writeWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                  uint32_t channels, std::string& error) override {
        bool ok = CaptureFiles::writeWav(path, samples, sampleRate, channels, error);
        record("write " + fs::path(path).filename().string());
        return ok;
    }
    bool rename(const std::string& from, const std::string& to, std::string& error) override {
        record("rename " + fs::path(from).filename().string() + " " +
               fs::path(to).filename().string());
        return CaptureFiles::rename(from, to, error);
    }
    void record(const std::string& step) {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(step);
    }
    std::mutex mutex;
    std::vector<std::string> log;
};

} // namespace

TEST(CaptureFiles, TheWavIsCanonicalThePngExactAndWritersRefuseBadTargets) {
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

    // XRGB rows `stride` apart become exact RGB: the unused byte and the padding are dropped.
    const std::string png = testing::TempDir() + "lumo-xrgb.png";
    const uint32_t xrgb[] = {0xff102030, 0x00405060, 0x11708090, 0xdeadbeef, //
                             0x00a0b0c0, 0x22d0e0f0, 0x00010203, 0xdeadbeef};
    for (int level : {0, 1, 9}) {
        ASSERT_TRUE(writeXrgbPng(png, xrgb, 3, 2, 4, error, level)) << error;
        const std::string bytes = readFile(png);
        PngImage image;
        ASSERT_EQ(decodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image),
                  PngError::None);
        EXPECT_EQ(image.pixels,
                  (std::vector<uint8_t>{0x10, 0x20, 0x30, 255, 0x40, 0x50, 0x60, 255,
                                        0x70, 0x80, 0x90, 255, 0xa0, 0xb0, 0xc0, 255,
                                        0xd0, 0xe0, 0xf0, 255, 0x01, 0x02, 0x03, 255}));
    }
    fs::remove(png);
}

TEST(CaptureVideo, EachQualityIsItsX264PresetAtOneConstantQuality) {
    const std::pair<VideoQuality, std::string> presets[] = {{VideoQuality::Fast, "veryfast"},
                                                            {VideoQuality::Good, "medium"},
                                                            {VideoQuality::Best, "slow"}};
    for (const auto& [quality, preset] : presets) {
        std::vector<std::string> args =
            ffmpegArguments("ffmpeg", 60, 640, 360, "a.wav", "o.mp4", quality);
        auto at = std::find(args.begin(), args.end(), "-preset");
        ASSERT_NE(at, args.end());
        EXPECT_EQ(*(at + 1), preset);
        at = std::find(args.begin(), args.end(), "-crf");
        ASSERT_NE(at, args.end());
        EXPECT_EQ(*(at + 1), "18");
        EXPECT_EQ(args.back(), "o.mp4");
    }
}

// The demo's own 640 x 360 is scaled up with sharp pixels; another size is
// encoded as it is, an odd side padded to even for 4:2:0.
TEST(CaptureVideo, FramesOfAnySizeGoToFfmpegAtTheirSize) {
    using T = std::tuple<int, int, std::string, std::string>;
    for (const auto& [w, h, size, filter] :
         {T{640, 360, "640x360", "scale=1280:720:flags=neighbor"},
          T{1920, 1080, "1920x1080", "pad=ceil(iw/2)*2:ceil(ih/2)*2"},
          T{1365, 767, "1365x767", "pad=ceil(iw/2)*2:ceil(ih/2)*2"}}) {
        std::vector<std::string> args =
            ffmpegArguments("ffmpeg", 30, w, h, "a.wav", "o.mp4", VideoQuality::Fast);
        auto at = std::find(args.begin(), args.end(), "-s");
        ASSERT_NE(at, args.end());
        EXPECT_EQ(*(at + 1), size);
        at = std::find(args.begin(), args.end(), "-vf");
        ASSERT_NE(at, args.end());
        EXPECT_EQ(*(at + 1), filter);
    }
}

TEST(CaptureProgress, LineShowsFramePercentRateAndTimeLeft) {
    EXPECT_EQ(progressLine(450, 900, 30.0), "frame 450/900   50.0 %  30.0 fps  0:15 left");
    EXPECT_EQ(progressLine(0, 900, 0.0), "frame 0/900    0.0 %");
}

TEST(BenchStatistics, MedianAndNearestRankPercentile) {
    EXPECT_EQ(median({}), 0.0);
    EXPECT_EQ(median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(median({4.0, 1.0, 2.0, 3.0}), 2.5);
    std::vector<double> hundred(100);
    std::iota(hundred.rbegin(), hundred.rend(), 1.0); // 100 down to 1
    for (auto [p, expected] : {std::pair{95.0, 95.0}, {95.5, 96.0}, {100.0, 100.0}, {0.0, 1.0}}) {
        EXPECT_EQ(percentile(hundred, p), expected) << p;
    }
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
    // 1/6, 1/2 and 5/6 of 180 grid frames, and of scene 5's 58 from frame 180.
    EXPECT_EQ(positions[2], (std::vector<double>{30.0 / 60.0, 90.0 / 60.0, 150.0 / 60.0}));
    EXPECT_EQ(positions[5], (std::vector<double>{189.0 / 60.0, 209.0 / 60.0, 228.0 / 60.0}));
}

TEST_F(Capture, FramesMatchFrameCommandAndTheMusicSpan) {
    const double from = 126.5; // inside scene 6, which has the most triangles

    // An earlier capture's frames and audio must not survive into this one.
    const fs::path one = dir / "one", single = dir / "single.png";
    fs::create_directories(one);
    std::ofstream(one / "frame000099.png") << "old";
    std::ofstream(one / "notes.txt") << "mine";
    CaptureSettings settings{one.string(), "", 10, from, from + 1.5, 1}; // 10 fps, 1 worker
    RecordingFiles files;
    settings.files = &files;
    const uint64_t firstSample = 5578650; // 126.5 s at 44100 Hz
    testing::internal::CaptureStdout();
    int captured = captureCommand(data, settings);
    int frame = renderFrameCommand(data, from + 0.7, single.string(), 2);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(captured, 0) << out;
    ASSERT_EQ(frame, 0);
    EXPECT_NE(out.find("captured 15 frames at 10 fps"), std::string::npos) << out;

    // Nothing is ever written under its final name: a file there is whole. The
    // frames are encoded side by side but renamed in order, each once whole,
    // and audio.wav, whose presence marks a capture that ended properly, comes
    // last.
    std::vector<std::string> renames, expected;
    for (int k = 0; k <= 15; ++k) {
        const std::string name = k < 15 ? captureFrameName(k) : "audio.wav";
        const std::string write = "write " + name + ".part";
        const std::string rename = "rename " + name + ".part " + name;
        expected.push_back(rename);
        auto written = std::find(files.log.begin(), files.log.end(), write);
        auto renamed = std::find(files.log.begin(), files.log.end(), rename);
        EXPECT_TRUE(written < renamed) << name << " renamed before it was whole";
    }
    std::copy_if(files.log.begin(), files.log.end(), std::back_inserter(renames),
                 [](const std::string& step) { return step.starts_with("rename"); });
    EXPECT_EQ(renames, expected);
    EXPECT_EQ(files.log.size(), 32u);
    // Old frames are gone, the user's file is kept and no .part is left: the
    // 16 files above and notes.txt.
    EXPECT_FALSE(fs::exists(one / "frame000099.png"));
    EXPECT_TRUE(fs::exists(one / "notes.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(one), fs::directory_iterator()), 17);
    // 640 x 360, big-endian in the header.
    EXPECT_EQ(readFile(one / captureFrameName(0)).substr(16, 8),
              std::string("\0\0\x02\x80\0\0\x01\x68", 8));
    // --frame draws with 2 workers, the capture with 1: the pictures agree
    // (compressed at other levels, so the files do not).
    const std::vector<uint8_t> captured7 = decodedPixels(one / captureFrameName(7));
    EXPECT_EQ(captured7.size(), 640u * 360u * 4u);
    EXPECT_TRUE(captured7 == decodedPixels(single))
        << "frame 7 differs from --frame at " << from + 0.7;

    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(data + "j2.mp3", music), 0);
    std::string wav = readFile(one / "audio.wav");
    ASSERT_EQ(wav.size(), 44u + 66150u * 4u);
    ASSERT_LE(firstSample + 66150, music.frameCount());
    EXPECT_EQ(std::memcmp(wav.data() + 44, &music.samples[firstSample * 2], 66150u * 4u), 0)
        << "audio.wav is not the music from sample " << firstSample;
}

TEST_F(Capture, QuickBenchCoversEverySceneAndWritesJson) {
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
