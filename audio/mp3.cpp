#include "audio/mp3.h"

#include "audio/audio.h"

#include <mpg123.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace lumo {

namespace {

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// Tells a file that cannot be read apart from one that can be read but is empty;
// fopen alone succeeds on a directory.
int checkReadable(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return AudioErrorFileOpen;
    }
    int c = std::fgetc(f);
    bool failed = c == EOF && std::ferror(f);
    std::fclose(f);
    if (failed) {
        return AudioErrorFileOpen;
    }
    return c == EOF ? AudioErrorFileFormat : AudioOk;
}

} // namespace

int decodeMp3File(const std::string& path, DecodedAudio& out) {
    out.samples.clear();
    if (int e = checkReadable(path); e != AudioOk) {
        return e;
    }

    // A no-op since 1.27 but required by older libraries.
    mpg123_init();
    int err = MPG123_OK;
    Handle mh(mpg123_new(nullptr, &err));
    if (!mh) {
        return AudioErrorMemory;
    }
    // Quiet: a file that is not an MP3 must give our error code, not decoder chatter.
    mpg123_param(mh.get(), MPG123_ADD_FLAGS,
                 MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_AUTO_RESAMPLE, 0);
    mpg123_format_none(mh.get());
    if (mpg123_format(mh.get(), 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
        return AudioErrorCodec;
    }
    if (mpg123_open(mh.get(), path.c_str()) != MPG123_OK) {
        return AudioErrorFileOpen;
    }
    // The pre-scan reads every frame header (and the LAME tag) first, so the
    // length is exact before any sample is decoded.
    if (mpg123_scan(mh.get()) != MPG123_OK) {
        return AudioErrorFileFormat;
    }

    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK) {
        return AudioErrorFileFormat;
    }
    if (rate != 44100 || channels != 2 || encoding != MPG123_ENC_SIGNED_16) {
        return AudioErrorCodec;
    }

    try {
        off_t expected = mpg123_length(mh.get());
        if (expected > 0) {
            out.samples.reserve(size_t(expected) * 2);
        }
        unsigned char chunk[16384];
        for (;;) {
            size_t done = 0;
            int r = mpg123_read(mh.get(), chunk, sizeof chunk, &done);
            size_t old = out.samples.size();
            out.samples.resize(old + done / sizeof(int16_t));
            std::memcpy(out.samples.data() + old, chunk, done / sizeof(int16_t) * sizeof(int16_t));
            if (r == MPG123_DONE) {
                break;
            }
            if (r == MPG123_NEW_FORMAT) {
                // Only a format we asked for can be negotiated; anything else is a
                // stream that changes shape midway.
                mpg123_getformat(mh.get(), &rate, &channels, &encoding);
                if (rate != 44100 || channels != 2 || encoding != MPG123_ENC_SIGNED_16) {
                    out.samples.clear();
                    return AudioErrorCodec;
                }
                continue;
            }
            if (r != MPG123_OK) {
                // A damaged tail: keep what decoded cleanly.
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        out.samples.clear();
        out.samples.shrink_to_fit();
        return AudioErrorMemory;
    }
    // Odd sample count cannot happen in stereo, but never hand out half a frame.
    out.samples.resize(out.samples.size() / 2 * 2);
    if (out.samples.empty()) {
        return AudioErrorFileFormat;
    }
    return AudioOk;
}

} // namespace lumo
