// Headless capture and the benchmark: the plan of frames and samples, the WAV
// writer, and on the generated demo a short capture checked against --frame,
// the decoded music and another worker count, plus a quick benchmark run.

#include "app/benchmark.h"
#include "app/capture.h"
#include "app/headless.h"
#include "app/mainloop.h"
#include "app/options.h"
#include "audio/mp3.h"
#include "params/track.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

using namespace lumo;
namespace fs = std::filesystem;

namespace {

const std::string dataDirectory = LUMO_DATA_DIR;

bool haveData() {
    return fs::exists(dataDirectory + "sync_scene.track") && fs::exists(dataDirectory + "j2.mp3");
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
           uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

uint32_t be32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint32_t(uint8_t(s[at + 3]));
}

// A scratch directory removed at the end of the test.
struct Scratch {
    fs::path path;
    explicit Scratch(const std::string& name)
        : path(fs::temp_directory_path() /
               (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() { fs::remove_all(path); }
};

// Whether text is one well-formed JSON value (numbers are read loosely).
bool wellFormedJson(const std::string& s) {
    size_t i = 0;
    auto space = [&] {
        while (i < s.size() && std::isspace(uint8_t(s[i])))
            ++i;
    };
    auto next = [&](char c) { return space(), i < s.size() && s[i] == c && ++i; };
    std::function<bool()> value = [&]() -> bool {
        space();
        if (next('"')) {
            for (; i < s.size() && s[i] != '"'; ++i)
                i += s[i] == '\\';
            return i++ < s.size();
        }
        for (auto [open, close] : {std::pair{'{', '}'}, {'[', ']'}}) {
            if (!next(open))
                continue;
            if (next(close))
                return true;
            do {
                if (open == '{' &&
                    ((space(), s.compare(i, 1, "\"")) != 0 || !value() || !next(':')))
                    return false;
                if (!value())
                    return false;
            } while (next(','));
            return next(close);
        }
        for (const char* word : {"true", "false", "null"})
            if (s.compare(i, std::strlen(word), word) == 0)
                return i += std::strlen(word), true;
        size_t start = i;
        while (i < s.size() && (std::isdigit(uint8_t(s[i])) || std::strchr("+-.eE", s[i])))
            ++i;
        return i > start;
    };
    return value() && (space(), i == s.size());
}

size_t countOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

Options parseArgs(std::vector<const char*> args) {
    args.insert(args.begin(), "lumo");
    return parseCommandLine(int(args.size()), args.data());
}

TEST(CaptureOptions, ModesAndTheirSettings) {
    Options o = parseArgs({"--capture", "out", "--fps", "10", "--from", "1.5", "--to", "3"});
    ASSERT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.captureDirectory, "out");
    EXPECT_EQ(o.fps, 10);
    EXPECT_EQ(o.from, 1.5);
    EXPECT_EQ(o.to, 3.0);
    o = parseArgs({"--bench", "--threads", "1,2,4", "--frames", "1", "--json", "b.json"});
    ASSERT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.threadList, (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(o.frames, 1);
    EXPECT_EQ(o.video, "");
    EXPECT_EQ(parseArgs({"--video", "a.mp4"}).video, "a.mp4");

    // Each of these is one line of error; the entry point exits with 2.
    for (std::vector<const char*> bad : {
             std::vector<const char*>{"--capture", "out", "--from", "3", "--to", "2"},
             {"--capture", "out", "--video", "a.mp4"},
             {"--capture", "out", "--fps", "0"},
             {"--capture", "out", "--threads", "1,2"},
             {"--bench", "--threads", "1,,2"},
             {"--bench", "--threads", "0"},
             {"--fps", "30"},
             {"--frames", "3"},
             {"--capture"},
             {"--frame", "1", "--out", "a.png", "--bench"},
         }) {
        Options e = parseArgs(bad);
        EXPECT_FALSE(e.error.empty()) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_EQ(e.error.find('\n'), std::string::npos);
    }
    EXPECT_NE(parseArgs({"--capture", "o", "--from", "3", "--to", "2"})
                  .error.find("--to must come after --from"),
              std::string::npos);
    for (const char* option : {"--capture DIR", "--video FILE.mp4", "--bench", "--json"}) {
        EXPECT_NE(std::string(usageText()).find(option), std::string::npos) << option;
    }
}

TEST(CapturePlan, FramesAndSamplesCoverTheSameSpan) {
    CapturePlan plan;
    std::string error;
    ASSERT_TRUE(planCapture(0.0, 1.5, 10, 100.0, 44100, plan, error)) << error;
    EXPECT_EQ(plan.frameCount, 15);
    EXPECT_EQ(plan.firstSample, 0u);
    EXPECT_EQ(plan.sampleCount, 66150u);
    EXPECT_DOUBLE_EQ(plan.framePosition(14), 1.4);

    // A span that is no whole number of frames gets the frame that starts in it;
    // the audio lasts as long as the frames.
    ASSERT_TRUE(planCapture(0.25, 1.0, 3, 100.0, 44100, plan, error));
    EXPECT_EQ(plan.frameCount, 3);
    EXPECT_EQ(plan.firstSample, 11025u);
    EXPECT_EQ(plan.sampleCount, 44100u);
    EXPECT_EQ(plan.samplesForFrames(1), 14700u);

    // No `to`: up to the end of the music; beyond it: clamped.
    ASSERT_TRUE(planCapture(98.0, -1.0, 30, 100.0, 44100, plan, error));
    EXPECT_EQ(plan.frameCount, 60);
    EXPECT_FALSE(plan.clamped);
    ASSERT_TRUE(planCapture(98.0, 500.0, 30, 100.0, 44100, plan, error));
    EXPECT_TRUE(plan.clamped);
    EXPECT_EQ(plan.to, 100.0);
}

TEST(CapturePlan, RangesOutsideTheMusicAreRefused) {
    CapturePlan plan;
    std::string error;
    EXPECT_FALSE(planCapture(100.0, -1.0, 10, 100.0, 44100, plan, error));
    EXPECT_NE(error.find("beyond the end"), std::string::npos) << error;
    EXPECT_FALSE(planCapture(5.0, 5.0, 10, 100.0, 44100, plan, error));
    EXPECT_NE(error.find("--to must come after --from"), std::string::npos) << error;
    EXPECT_FALSE(planCapture(5.0, 1.0, 10, 100.0, 44100, plan, error));
}

TEST(CaptureAudio, SpanIsPaddedWithSilenceAndTheWavIsCanonical) {
    DecodedAudio music;
    music.samples = {1, -1, 2, -2, 3, -3};
    std::vector<int16_t> span = audioSpan(music, 1, 4);
    EXPECT_EQ(span, (std::vector<int16_t>{2, -2, 3, -3, 0, 0, 0, 0}));
    EXPECT_EQ(audioSpan(music, 10, 1), (std::vector<int16_t>{0, 0}));

    Scratch dir("lumo-wav");
    std::string error;
    const fs::path wav = dir.path / "a.wav";
    ASSERT_TRUE(writeWav(wav.string(), span.data(), 4, 44100, 2, error)) << error;
    std::string bytes = readFile(wav);
    ASSERT_EQ(bytes.size(), 44u + 16u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 36u + 16u);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 24), 44100u);
    EXPECT_EQ(le32(bytes, 28), 176400u);
    EXPECT_EQ(bytes.substr(36, 4), "data");
    EXPECT_EQ(le32(bytes, 40), 16u);
    EXPECT_EQ(uint8_t(bytes[46]), 0xFE); // -2, little-endian
    EXPECT_EQ(uint8_t(bytes[47]), 0xFF);

    // A full disk and a missing directory are errors with a reason.
    EXPECT_FALSE(writeWav("/dev/full", span.data(), 4, 44100, 2, error));
    EXPECT_NE(error.find("space"), std::string::npos) << error;
    EXPECT_FALSE(writeWav((dir.path / "no" / "a.wav").string(), span.data(), 4, 44100, 2, error));
    EXPECT_FALSE(error.empty());
}

TEST(CaptureProgress, LineShowsFramePercentRateAndTimeLeft) {
    EXPECT_EQ(progressLine(450, 900, 30.0), "frame 450/900   50.0 %  30.0 fps  0:15 left");
    EXPECT_EQ(progressLine(0, 900, 0.0), "frame 0/900    0.0 %");
    EXPECT_EQ(captureFrameName(42), "frame000042.png");
}

TEST(BenchStatistics, MedianAndNearestRankPercentile) {
    EXPECT_EQ(medianOf({}), 0.0);
    EXPECT_EQ(medianOf({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(medianOf({4.0, 1.0, 2.0, 3.0}), 2.5);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    EXPECT_EQ(percentile95Of(hundred), 95.0);
    EXPECT_EQ(percentile95Of({7.0}), 7.0);
}

TEST(BenchPositions, SpreadOverTheTimeEachSceneIsShown) {
    // Scene 2 for rows 0..43 (3 s), scene 5 for rows 44..57, then 9, which is
    // no scene.
    SyncTrack scene("scene");
    scene.keys = {{0, 2.0f, Hold}, {44, 5.0f, Hold}, {58, 9.0f, Hold}};
    scene.keyCount = 3;
    auto positions = benchPositions(&scene, 5.0, 3);
    ASSERT_EQ(positions.size(), 2u);
    ASSERT_EQ(positions[2].size(), 3u);
    EXPECT_DOUBLE_EQ(positions[2][0], 30.0 / 60.0); // 1/6 of 180 grid frames
    EXPECT_DOUBLE_EQ(positions[2][1], 90.0 / 60.0);
    EXPECT_DOUBLE_EQ(positions[2][2], 150.0 / 60.0);
    for (double s : positions[5]) {
        EXPECT_EQ(roundChoice(scene.valueAt(rowFromSeconds(s))), 5) << s;
    }
}

TEST(Capture, FramesMatchFrameCommandAndTheMusicSpan) {
    if (!haveData()) {
        GTEST_SKIP() << "no generated data in " << dataDirectory;
    }
    Scratch dir("lumo-capture");
    testing::internal::CaptureStdout();
    // Start inside scene 6, which has the most triangles (else any scene).
    HeadlessDemo probe(dataDirectory, 1);
    auto positions = benchPositions(probe.session().tracks.scene, 170.0, 1);
    ASSERT_FALSE(positions.empty());
    const double from = positions.count(6) ? positions[6][0] : positions.begin()->second[0];

    // An earlier capture's frames and audio must not survive into this one.
    fs::create_directories(dir.path / "one");
    std::ofstream(dir.path / "one" / "frame000099.png") << "old";
    std::ofstream(dir.path / "one" / "notes.txt") << "mine";
    CaptureSettings settings;
    settings.fps = 10;
    settings.from = from;
    settings.to = from + 1.5;
    settings.threads = 1;
    settings.directory = (dir.path / "one").string();
    int one = captureCommand(dataDirectory, settings);
    const fs::path single = dir.path / "single.png";
    CapturePlan plan;
    std::string error;
    ASSERT_TRUE(planCapture(from, from + 1.5, 10, 1000.0, 44100, plan, error));
    int frame = renderFrameCommand(dataDirectory, plan.framePosition(7), single.string(), 2);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(one, 0) << out;
    ASSERT_EQ(frame, 0);
    EXPECT_NE(out.find("captured 15 frames at 10 fps"), std::string::npos) << out;

    EXPECT_FALSE(fs::exists(dir.path / "one" / "frame000099.png"));
    EXPECT_TRUE(fs::exists(dir.path / "one" / "notes.txt"));
    size_t pngs = 0;
    for (const auto& entry : fs::directory_iterator(dir.path / "one")) {
        EXPECT_EQ(entry.path().extension() == ".part", false) << entry.path();
        pngs += entry.path().extension() == ".png";
    }
    EXPECT_EQ(pngs, 15u);
    for (int k = 0; k < 15; ++k) {
        std::string a = readFile(dir.path / "one" / captureFrameName(k));
        ASSERT_GT(a.size(), 24u) << k;
        EXPECT_EQ(be32(a, 16), 640u);
        EXPECT_EQ(be32(a, 20), 360u);
    }
    // --frame draws with 2 workers, the capture with 1: the pictures agree.
    EXPECT_TRUE(readFile(dir.path / "one" / captureFrameName(7)) == readFile(single))
        << "frame 7 differs from --frame at " << plan.framePosition(7);

    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(dataDirectory + "j2.mp3", music), 0);
    std::string wav = readFile(dir.path / "one" / "audio.wav");
    ASSERT_EQ(wav.size(), 44u + 66150u * 4u);
    EXPECT_EQ(le32(wav, 40), 66150u * 4u);
    const uint64_t first = plan.firstSample;
    ASSERT_LE(first + 66150, music.frameCount());
    EXPECT_EQ(std::memcmp(wav.data() + 44, music.samples.data() + first * 2, 66150u * 4u), 0)
        << "audio.wav is not the music from sample " << first;
}

TEST(Capture, UnusableDirectoryAndBadRangesFailWithoutLeavingOutput) {
    if (!haveData()) {
        GTEST_SKIP() << "no generated data in " << dataDirectory;
    }
    Scratch dir("lumo-capture-bad");
    std::ofstream(dir.path / "file") << "x";
    CaptureSettings settings;
    settings.fps = 10;
    settings.to = 0.5;
    settings.directory = (dir.path / "file" / "sub").string();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int blocked = captureCommand(dataDirectory, settings);
    settings.directory = (dir.path / "late").string();
    settings.from = 100000.0;
    settings.to = -1.0;
    int late = captureCommand(dataDirectory, settings);
    settings.from = 2.0;
    settings.to = 1.0;
    int backwards = captureCommand(dataDirectory, settings);
    testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(blocked, 1);
    EXPECT_NE(err.find("cannot create the directory"), std::string::npos) << err;
    EXPECT_EQ(late, 2);
    EXPECT_NE(err.find("beyond the end of the demo"), std::string::npos) << err;
    EXPECT_EQ(backwards, 2);
    EXPECT_FALSE(fs::exists(dir.path / "late"));
}

TEST(Bench, QuickRunCoversEverySceneAndWritesJson) {
    if (!haveData()) {
        GTEST_SKIP() << "no generated data in " << dataDirectory;
    }
    Scratch dir("lumo-bench");
    BenchSettings settings;
    settings.threads = {1, 2};
    settings.frames = 1;
    settings.positionsPerScene = 1;
    settings.to = 0.25; // a short offline run
    settings.json = (dir.path / "bench.json").string();
    testing::internal::CaptureStdout();
    int status = benchCommand(dataDirectory, settings);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("median ms"), std::string::npos);
    std::string json = readFile(settings.json);
    EXPECT_TRUE(wellFormedJson(json)) << json;
    EXPECT_EQ(countOf(json, "\"scene\":"), 14u) << json;
    for (int scene = 1; scene <= 7; ++scene) {
        std::string counts[2];
        for (int threads : {1, 2}) {
            std::string entry = "\"scene\": " + std::to_string(scene) +
                                ", \"threads\": " + std::to_string(threads) + ",";
            ASSERT_EQ(countOf(json, entry), 1u) << entry;
            size_t at = json.find(entry);
            size_t begin = json.find("\"triangles\": ", at);
            counts[threads - 1] = json.substr(begin, json.find('}', at) - begin);
        }
        // Every scene draws something, and how much does not depend on the bands.
        EXPECT_EQ(counts[0].find("\"triangles\": 0.0,"), std::string::npos) << scene;
        EXPECT_EQ(counts[0], counts[1]) << "scene " << scene;
    }
    EXPECT_EQ(countOf(json, "\"slowest_position\":"), 2u);
    EXPECT_EQ(countOf(json, "\"frames\": 15,"), 2u) << json;
    EXPECT_FALSE(fs::exists(settings.json + ".part"));
}
