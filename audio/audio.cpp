#include "audio/audio.h"

#include "audio/mp3.h"
#include "audio/playclock.h"
#include "sys/log.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumo {

namespace {

struct Stream {
    DecodedAudio pcm;
    uint64_t consumed = 0; // bytes handed to the output
    bool playing = false;
    PlaybackClock clock{audioBytesPerSecond};
};

// The one output of the process. The output thread's callback reads the stream
// table and writes the playback state under `lock`; everything else happens on
// the caller's thread.
struct Player {
    bool initialised = false;
    bool started = false;
    bool silent = false;
    SDL_AudioDeviceID device = 0;
    std::string driver;
    std::mutex lock;
    std::vector<std::unique_ptr<Stream>> streams; // handle h is streams[h - 1]
    // Stream bytes the device holds beyond the buffer being filled: heard only
    // after them. 0 for the silent driver, which plays nothing.
    uint64_t latencyBytes = 0;
    int error = AudioOk;
};

Player& player() {
    static Player p;
    return p;
}

double clockSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool fail(int code) {
    player().error = code;
    return false;
}

void mix(int16_t* out, const int16_t* in, size_t count, bool first) {
    if (first) {
        std::memcpy(out, in, count * sizeof(int16_t));
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        out[i] = int16_t(std::clamp(int(out[i]) + int(in[i]), -32768, 32767));
    }
}

void SDLCALL fillOutput(void*, Uint8* bytes, int len) {
    Player& p = player();
    std::memset(bytes, 0, size_t(len));
    double now = clockSeconds();
    std::lock_guard guard(p.lock);
    bool first = true;
    for (auto& s : p.streams) {
        if (!s || !s->playing) {
            continue;
        }
        uint64_t total = s->pcm.byteCount();
        uint64_t start = s->consumed;
        uint64_t n = std::min<uint64_t>(uint64_t(len), total - start);
        mix(reinterpret_cast<int16_t*>(bytes), s->pcm.samples.data() + start / 2, n / 2, first);
        first = false;
        s->consumed = start + n;
        s->clock.bufferTaken(start, s->consumed, now);
        if (s->consumed >= total) {
            s->playing = false; // the clock still runs out the last buffer
        }
    }
}

Stream* find(AudioStream h) {
    Player& p = player();
    if (h == 0 || h > p.streams.size()) {
        return nullptr;
    }
    return p.streams[h - 1].get();
}

// Opens the default output of whatever driver SDL's audio subsystem chose.
// Returns the device, or 0 with SDL's error message in `why`; `have` is what
// the device really took.
SDL_AudioDeviceID openOutput(uint32_t frequency, std::string& why, SDL_AudioSpec& have) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        why = SDL_GetError();
        return 0;
    }
    SDL_AudioSpec want{};
    want.freq = int(frequency);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024; // 23 ms: the clock interpolates between buffers anyway
    want.callback = fillOutput;
    have = SDL_AudioSpec{};
    // No changes allowed: SDL converts to whatever the device really takes.
    SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) {
        why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    return dev;
}

// Sends file descriptor 2 to /dev/null for its lifetime.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) {
            ::dup2(null, 2);
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

} // namespace

bool audioInit(int device, uint32_t frequency) {
    Player& p = player();
    if (p.initialised) {
        return fail(AudioErrorAlready);
    }
    if (device != audioDefaultDevice || frequency != 44100) {
        return fail(AudioErrorIllParam);
    }

    std::string why;
    SDL_AudioDeviceID dev;
    SDL_AudioSpec have{};
    {
        // ALSA writes a dozen lines to stderr when there is no card; the one
        // line below says what matters.
        QuietStderr quiet;
        dev = openOutput(frequency, why, have);
    }
    bool fellBack = false;
    if (dev == 0) {
        // No sound card (servers, CI): the dummy driver consumes at real time, so
        // the demo keeps its clock and plays silently.
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        std::string why2;
        dev = openOutput(frequency, why2, have);
        // Back to the environment's choice for a later audioInit.
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
        if (dev == 0) {
            return fail(AudioErrorDevice);
        }
        fellBack = true;
    }
    p.device = dev;
    p.driver = SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "";
    p.silent = p.driver == "dummy";
    // The device plays one buffer of its own size ahead of the one the callback
    // fills; SDL 2 reports nothing beyond that.
    p.latencyBytes = 0;
    if (!p.silent && have.freq > 0) {
        const double seconds = double(have.samples) / double(have.freq);
        p.latencyBytes = uint64_t(seconds * double(audioBytesPerSecond)) / 4 * 4;
    }
    p.initialised = true;
    p.started = false;
    if (fellBack) {
        logPrintf("no sound device (%s): playing silently, in time\n", why.c_str());
    } else if (p.silent) {
        logPrintf("silent audio driver: playing silently, in time\n");
    }
    std::fflush(stdout);
    p.error = AudioOk;
    return true;
}

AudioStream audioStreamCreateFile(const char* path, uint64_t offset, uint64_t length,
                                  uint32_t flags) {
    (void)flags; // decoding is always complete, so lengths are always exact
    Player& p = player();
    if (!p.initialised) {
        fail(AudioErrorInit);
        return 0;
    }
    if (!path || offset != 0 || length != 0) {
        fail(AudioErrorIllParam);
        return 0;
    }
    auto s = std::make_unique<Stream>();
    s->clock.setLatency(p.latencyBytes);
    if (int e = decodeMp3File(path, s->pcm); e != AudioOk) {
        fail(e);
        return 0;
    }
    std::lock_guard guard(p.lock);
    // Reuse a freed slot so handles stay small.
    auto slot = std::find(p.streams.begin(), p.streams.end(), nullptr);
    if (slot == p.streams.end()) {
        slot = p.streams.insert(slot, nullptr);
    }
    *slot = std::move(s);
    p.error = AudioOk;
    return AudioStream(slot - p.streams.begin() + 1);
}

int audioErrorCode() {
    return player().error;
}

bool audioStart() {
    Player& p = player();
    if (!p.initialised) {
        return fail(AudioErrorInit);
    }
    SDL_PauseAudioDevice(p.device, 0);
    p.started = true;
    p.error = AudioOk;
    return true;
}

bool audioChannelPlay(AudioStream h, bool restart) {
    Player& p = player();
    std::lock_guard guard(p.lock);
    Stream* s = find(h);
    if (!s) {
        return fail(AudioErrorHandle);
    }
    if (restart || s->consumed >= s->pcm.byteCount()) {
        s->consumed = 0;
        s->clock.reset(0);
    }
    s->playing = true;
    p.error = AudioOk;
    return true;
}

uint64_t audioChannelGetPosition(AudioStream h, int mode) {
    Player& p = player();
    std::lock_guard guard(p.lock);
    Stream* s = find(h);
    if (!s) {
        fail(AudioErrorHandle);
        return UINT64_MAX;
    }
    if (mode != audioPositionBytes) {
        fail(AudioErrorIllParam);
        return UINT64_MAX;
    }
    p.error = AudioOk;
    return std::min(s->clock.position(clockSeconds()), s->pcm.byteCount());
}

uint64_t audioChannelGetLength(AudioStream h) {
    Player& p = player();
    std::lock_guard guard(p.lock);
    Stream* s = find(h);
    if (!s) {
        fail(AudioErrorHandle);
        return UINT64_MAX;
    }
    p.error = AudioOk;
    return s->pcm.byteCount();
}

double audioChannelBytes2Seconds(AudioStream h, uint64_t bytes) {
    Player& p = player();
    std::lock_guard guard(p.lock);
    if (!find(h)) {
        fail(AudioErrorHandle);
        return -1.0;
    }
    p.error = AudioOk;
    return double(bytes) / double(audioBytesPerSecond);
}

bool audioUpdate(uint32_t length) {
    (void)length;
    Player& p = player();
    if (!p.initialised) {
        return fail(AudioErrorInit);
    }
    if (!p.started) {
        return fail(AudioErrorStart);
    }
    p.error = AudioOk;
    return true;
}

bool audioStreamFree(AudioStream h) {
    Player& p = player();
    std::unique_ptr<Stream> gone;
    {
        std::lock_guard guard(p.lock);
        if (!find(h)) {
            return fail(AudioErrorHandle);
        }
        gone = std::move(p.streams[h - 1]);
    }
    p.error = AudioOk;
    return true; // the PCM is released outside the lock, away from the output thread
}

bool audioFree() {
    Player& p = player();
    if (!p.initialised) {
        return fail(AudioErrorInit);
    }
    // Closing the device joins the output thread, so no callback runs afterwards.
    SDL_CloseAudioDevice(p.device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    p.device = 0;
    p.streams.clear();
    p.streams.shrink_to_fit();
    p.initialised = p.started = p.silent = false;
    p.driver.clear();
    p.error = AudioOk;
    return true;
}

const char* audioDriverName() {
    return player().driver.c_str();
}

bool audioIsSilent() {
    return player().silent;
}

} // namespace lumo
