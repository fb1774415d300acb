#include "audio/audio.h"
#include "audio/mp3.h"
#include "sys/log.h"
#include "tests/e2e/testmp3.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace lumo {
namespace {

namespace fs = std::filesystem;

// A scratch directory of this test process, removed at the end.
class Audio : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const char* name) const { return (dir_ / name).string(); }
    const fs::path dir_ = fs::temp_directory_path() / ("lumo_audio_" + std::to_string(::getpid()));
};

TEST_F(Audio, GaplessLengthIsExactAndTheToneIsInPlace) {
    const uint32_t frames = 44100 + 333; // not a whole number of MP3 frames
    ASSERT_TRUE(test::writeTestMp3(file("tone.mp3"), frames));
    DecodedAudio pcm;
    ASSERT_EQ(decodeMp3File(file("tone.mp3"), pcm), AudioOk);
    EXPECT_EQ(pcm.frameCount(), frames);
    // Sample alignment: the tone matches best with no shift at all (an encoder
    // delay left in would move the best match by hundreds of samples).
    auto squaredErrorAt = [&](int shift) {
        double err = 0.0;
        for (uint32_t i = 2000; i < frames - 2000; ++i) {
            double d = double(pcm.samples[2 * (i + shift)]) - test::testToneSample(i);
            err += d * d;
        }
        return err / (frames - 4000);
    };
    for (int shift : {-2, -1, 1, 2}) {
        EXPECT_LT(squaredErrorAt(0), squaredErrorAt(shift)) << "shift " << shift;
    }
    EXPECT_LT(squaredErrorAt(0), 1000.0 * 1000.0); // a tone of amplitude 8000, not noise
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(pcm.samples[2 * i], pcm.samples[2 * i + 1]);
    }
}

// Mono at another rate becomes 44100 Hz stereo; what is no MP3 gives distinct codes.
TEST_F(Audio, OtherRatesAndChannelsAreConvertedAndNonMp3sRefused) {
    DecodedAudio pcm;
    ASSERT_TRUE(test::writeTestMp3(file("mono.mp3"), 22050, 22050, 1));
    ASSERT_EQ(decodeMp3File(file("mono.mp3"), pcm), AudioOk);
    EXPECT_EQ(pcm.channels, 2u);
    EXPECT_NEAR(double(pcm.frameCount()), 44100.0, 64.0);

    EXPECT_EQ(decodeMp3File(dir_.string(), pcm), AudioErrorFileOpen);
    std::ofstream(file("words.mp3")) << std::string(16000, 'w');
    EXPECT_EQ(decodeMp3File(file("words.mp3"), pcm), AudioErrorFileFormat);
    EXPECT_TRUE(pcm.samples.empty());
}

// The tests run with SDL_AUDIODRIVER=dummy (set by ctest), so the output
// consumes at real time without a sound card.
TEST_F(Audio, PlaysAStreamToItsEndWithAMonotonicPositionAndFallsBackToSilence) {
    EXPECT_EQ(audioStreamCreateFile("x.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(audioErrorCode(), AudioErrorInit);
    EXPECT_FALSE(audioStart());
    EXPECT_FALSE(audioInit(0, 44100));
    EXPECT_EQ(audioErrorCode(), AudioErrorIllParam);

    ASSERT_TRUE(test::writeTestMp3(file("tone.mp3"), 22050)); // half a second
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    EXPECT_FALSE(audioInit(audioDefaultDevice, 44100));
    EXPECT_EQ(audioErrorCode(), AudioErrorAlready);

    AudioStream s = audioStreamCreateFile(file("tone.mp3").c_str(), 0, 0, audioStreamPrescan);
    ASSERT_NE(s, 0u);
    EXPECT_EQ(audioChannelGetLength(s), 22050u * 4);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(s, 264600), 1.5);
    EXPECT_EQ(audioChannelGetPosition(s, audioPositionBytes), 0u);
    ASSERT_TRUE(audioStart());
    ASSERT_TRUE(audioChannelPlay(s, false));
    // Only liveness is checked (the machine may be slow): the position reaches
    // the end, in whole frames, never decreasing, and stays there.
    uint64_t last = 0;
    for (int wait = 0; wait < 30000 && last < 22050u * 4; ++wait) {
        const uint64_t p = audioChannelGetPosition(s, audioPositionBytes);
        ASSERT_TRUE(p >= last && p % 4 == 0) << p << " after " << last;
        last = p;
        EXPECT_TRUE(audioUpdate(0));
        ::usleep(2000);
    }
    EXPECT_EQ(last, 22050u * 4);
    EXPECT_EQ(audioChannelGetPosition(s, audioPositionBytes), 22050u * 4);
    // Playing again after the end starts over.
    ASSERT_TRUE(audioChannelPlay(s, false));
    EXPECT_LT(audioChannelGetPosition(s, audioPositionBytes), 22050u * 4);

    EXPECT_TRUE(audioStreamFree(s));
    EXPECT_FALSE(audioStreamFree(s));
    EXPECT_EQ(audioErrorCode(), AudioErrorHandle);
    EXPECT_TRUE(audioFree());
    EXPECT_FALSE(audioFree());

    // Again on a machine without sound (an output driver that does not exist):
    // the silent output, said in one line.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    LogCapture log;
    EXPECT_TRUE(audioInit(audioDefaultDevice, 44100));
    EXPECT_TRUE(audioIsSilent());
    const std::string out = log.text();
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "not one line: " << out;
    EXPECT_EQ(out.find("no sound device ("), 0u) << out;
    EXPECT_TRUE(audioFree());
    setenv("SDL_AUDIODRIVER", "dummy", 1); // as ctest runs the others
}

} // namespace
} // namespace lumo
