#include "audio/audio.h"
#include "audio/mp3.h"
#include "sys/log.h"
#include "tests/e2e/testmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace lumo {
namespace {

namespace fs = std::filesystem;

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumo_audio_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

using Mp3Decode = Files;

TEST_F(Mp3Decode, GaplessLengthIsExactAndTheToneIsInPlace) {
    const uint32_t frames = 44100 + 333; // not a whole number of MP3 frames
    std::string path = file("tone.mp3");
    ASSERT_TRUE(test::writeTestMp3(path, frames));
    DecodedAudio pcm;
    ASSERT_EQ(decodeMp3File(path, pcm), AudioOk);
    EXPECT_EQ(pcm.frameCount(), frames);
    // Sample alignment: the tone matches best with no shift at all (an encoder
    // delay left in would move the best match by hundreds of samples).
    auto rmsAt = [&](int shift) {
        double err = 0.0;
        for (uint32_t i = 2000; i < frames - 2000; ++i) {
            double d = double(pcm.samples[2 * (i + shift)]) - test::testToneSample(i);
            err += d * d;
        }
        return std::sqrt(err / (frames - 4000));
    };
    double best = rmsAt(0);
    for (int shift : {-2, -1, 1, 2}) {
        EXPECT_LT(best, rmsAt(shift)) << "shift " << shift;
    }
    EXPECT_LT(best, 1000.0); // a tone of amplitude 8000, not noise
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(pcm.samples[2 * i], pcm.samples[2 * i + 1]);
    }
}

TEST_F(Mp3Decode, MonoAtAnotherRateBecomes44100Stereo) {
    std::string path = file("mono.mp3");
    ASSERT_TRUE(test::writeTestMp3(path, 22050, 22050, 1));
    DecodedAudio pcm;
    ASSERT_EQ(decodeMp3File(path, pcm), AudioOk);
    EXPECT_EQ(pcm.channels, 2u);
    EXPECT_NEAR(double(pcm.frameCount()), 44100.0, 64.0);
}

TEST_F(Mp3Decode, FilesThatAreNotMp3sGiveDistinctCodes) {
    DecodedAudio pcm;
    EXPECT_EQ(decodeMp3File(file("missing.mp3"), pcm), AudioErrorFileOpen);
    EXPECT_EQ(decodeMp3File(dir_.string(), pcm), AudioErrorFileOpen);
    std::ofstream(file("words.mp3")) << std::string(16000, 'w');
    EXPECT_EQ(decodeMp3File(file("words.mp3"), pcm), AudioErrorFileFormat);
    EXPECT_TRUE(pcm.samples.empty());
}

using Player = Files;

// The tests run with SDL_AUDIODRIVER=dummy (set by ctest), so the output
// consumes at real time without a sound card.
TEST_F(Player, PlaysAStreamToItsEndWithAMonotonicPosition) {
    std::string path = file("tone.mp3");
    ASSERT_TRUE(test::writeTestMp3(path, 22050)); // half a second
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    EXPECT_FALSE(audioInit(audioDefaultDevice, 44100));
    EXPECT_EQ(audioErrorCode(), AudioErrorAlready);

    AudioStream s = audioStreamCreateFile(path.c_str(), 0, 0, audioStreamPrescan);
    ASSERT_NE(s, 0u);
    EXPECT_EQ(audioChannelGetLength(s), 22050u * 4);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, 264600), 1.5);
    EXPECT_EQ(audioChannelGetPosition(s, audioPositionBytes), 0u);

    ASSERT_TRUE(audioStart());
    ASSERT_TRUE(audioChannelPlay(s, false));
    // Only liveness is checked (the machine may be slow): the position reaches
    // the end, in whole frames, never decreasing.
    uint64_t last = 0;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (last < 22050u * 4 && std::chrono::steady_clock::now() < give_up) {
        uint64_t p = audioChannelGetPosition(s, audioPositionBytes);
        ASSERT_GE(p, last);
        ASSERT_EQ(p % 4, 0u);
        last = p;
        EXPECT_TRUE(audioUpdate(0));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(last, 22050u * 4);
    // Played out: the position stays at the end.
    EXPECT_EQ(audioChannelGetPosition(s, audioPositionBytes), 22050u * 4);
    // Playing again after the end starts over.
    ASSERT_TRUE(audioChannelPlay(s, false));
    EXPECT_LT(audioChannelGetPosition(s, audioPositionBytes), 22050u * 4);

    EXPECT_TRUE(audioStreamFree(s));
    EXPECT_FALSE(audioStreamFree(s));
    EXPECT_EQ(audioErrorCode(), AudioErrorHandle);
    EXPECT_TRUE(audioFree());
    EXPECT_FALSE(audioFree());
}

TEST_F(Player, CallsBeforeInitFail) {
    EXPECT_EQ(audioStreamCreateFile("x.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(audioErrorCode(), AudioErrorInit);
    EXPECT_FALSE(audioStart());
    EXPECT_FALSE(audioInit(0, 44100));
    EXPECT_EQ(audioErrorCode(), AudioErrorIllParam);
}

TEST_F(Player, FallsBackToSilentOutputWithOneLine) {
    // An output driver that does not exist stands for a machine without sound.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    LogCapture log;
    bool ok = audioInit(audioDefaultDevice, 44100);
    std::string out = log.text();
    setenv("SDL_AUDIODRIVER", "dummy", 1); // as ctest runs the others
    ASSERT_TRUE(ok);
    EXPECT_TRUE(audioIsSilent());
    EXPECT_STREQ(audioDriverName(), "dummy");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("playing silently"), std::string::npos) << out;
    EXPECT_TRUE(audioFree());
}

} // namespace
} // namespace lumo
