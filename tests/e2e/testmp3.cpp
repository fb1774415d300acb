#include "tests/e2e/testmp3.h"

#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace lumo::test {

int16_t testToneSample(uint32_t i, int rate) {
    return int16_t(std::lround(8000.0 * std::sin(2.0 * 3.14159265358979323846 * 440.0 * i / rate)));
}

bool writeTestMp3(const std::string& path, uint32_t frames, int rate, int channels) {
    struct Closer {
        void operator()(lame_global_flags* g) const { lame_close(g); }
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<lame_global_flags, Closer> gf(lame_init());
    if (!gf) {
        return false;
    }
    lame_set_in_samplerate(gf.get(), rate);
    lame_set_out_samplerate(gf.get(), rate);
    lame_set_num_channels(gf.get(), channels);
    lame_set_mode(gf.get(), channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(gf.get(), 128);
    lame_set_quality(gf.get(), 7);
    // The Info tag carries the encoder delay and padding: without it the
    // decoded length is not the encoded one.
    lame_set_bWriteVbrTag(gf.get(), 1);
    if (lame_init_params(gf.get()) < 0) {
        return false;
    }

    std::vector<int16_t> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = right[i] = testToneSample(i, rate);
    }

    std::vector<unsigned char> mp3(size_t(1.25 * frames) + 7200 + 16384);
    int n = lame_encode_buffer(gf.get(), left.data(), channels == 1 ? nullptr : right.data(),
                               int(frames), mp3.data(), int(mp3.size()));
    if (n < 0) {
        return false;
    }
    int m = lame_encode_flush(gf.get(), mp3.data() + n, int(mp3.size()) - n);
    if (m < 0) {
        return false;
    }

    std::unique_ptr<FILE, Closer> f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        return false;
    }
    if (std::fwrite(mp3.data(), 1, size_t(n + m), f.get()) != size_t(n + m)) {
        return false;
    }
    unsigned char tag[2880];
    size_t tagSize = lame_get_lametag_frame(gf.get(), tag, sizeof tag);
    if (tagSize > 0) {
        if (std::fseek(f.get(), 0, SEEK_SET) != 0 ||
            std::fwrite(tag, 1, tagSize, f.get()) != tagSize) {
            return false;
        }
    }
    return std::fflush(f.get()) == 0;
}

} // namespace lumo::test
