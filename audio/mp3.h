#pragma once
// Whole-file MP3 decoding with libmpg123: 44100 Hz, signed 16-bit, stereo
// interleaved. With a LAME/Xing tag in the file the decoder drops the encoder
// delay and padding, so the PCM has exactly the length that was encoded.

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

struct DecodedAudio {
    std::vector<int16_t> samples; // left, right, left, right, ...
    uint32_t rate = 44100;
    uint32_t channels = 2;

    uint64_t frameCount() const { return samples.size() / channels; }
    uint64_t byteCount() const { return samples.size() * sizeof(int16_t); }
};

// Decodes path into out. Returns AudioOk or one of audio.h's error codes: the file
// cannot be read (AudioErrorFileOpen), it holds no MP3 frame (AudioErrorFileFormat),
// the decoder cannot produce the output format (AudioErrorCodec), or memory runs
// out (AudioErrorMemory).
int decodeMp3File(const std::string& path, DecodedAudio& out);

} // namespace lumo
