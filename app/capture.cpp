#include "app/capture.h"

#include "app/headless.h"
#include "app/png_writer.h"
#include "audio/mp3.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

extern char** environ;

namespace lumo {

namespace fs = std::filesystem;

bool planCapture(double from, double to, int fps, double musicSeconds, uint32_t sampleRate,
                 CapturePlan& plan, std::string& error) {
    char line[256];
    if (fps < 1 || sampleRate == 0) {
        error = "the frame rate must be at least 1";
        return false;
    }
    if (!(from >= 0.0) || !(from < musicSeconds)) {
        std::snprintf(line, sizeof line, "--from %.3f is beyond the end of the demo (%.3f s)", from,
                      musicSeconds);
        error = line;
        return false;
    }
    plan = CapturePlan{};
    plan.fps = fps;
    plan.from = from;
    plan.to = to < 0.0 ? musicSeconds : to;
    if (plan.to > musicSeconds) {
        plan.to = musicSeconds;
        plan.clamped = true;
    }
    if (!(plan.to > from)) {
        error = "--to must come after --from";
        return false;
    }
    // Frames at from + k / fps for every k that lands before `to`; the tolerance
    // keeps 1.5 s at 10 fps at 15 frames despite the rounding of the product.
    double count = std::ceil((plan.to - from) * double(fps) - 1e-9);
    if (count > 1e8) {
        error = "that is more frames than one capture can hold";
        return false;
    }
    plan.frameCount = std::max(1, int(count));
    plan.sampleRate = sampleRate;
    plan.firstSample = uint64_t(std::llround(from * double(sampleRate)));
    plan.sampleCount = plan.samplesForFrames(plan.frameCount);
    return true;
}

std::vector<int16_t> audioSpan(const DecodedAudio& audio, uint64_t first, uint64_t count) {
    const uint64_t channels = audio.channels;
    std::vector<int16_t> span(size_t(count * channels), int16_t(0));
    const uint64_t available = audio.frameCount();
    if (first < available) {
        uint64_t n = std::min(count, available - first);
        std::copy_n(audio.samples.begin() + ptrdiff_t(first * channels), size_t(n * channels),
                    span.begin());
    }
    return span;
}

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFFu);
    put16(out, v >> 16);
}

} // namespace

bool writeWav(const std::string& path, const int16_t* samples, uint64_t frames, uint32_t sampleRate,
              uint32_t channels, std::string& error) {
    const uint64_t dataBytes = frames * channels * 2;
    if (dataBytes > 0xFFFFFFFFull - 36) {
        error = "the audio is too long for a WAV file";
        return false;
    }
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put32(header, uint32_t(36 + dataBytes));
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(header, 16);
    put16(header, 1); // PCM
    put16(header, channels);
    put32(header, sampleRate);
    put32(header, sampleRate * channels * 2);
    put16(header, channels * 2);
    put16(header, 16);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put32(header, uint32_t(dataBytes));

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    // Little-endian on disk, whatever the host.
    std::vector<uint8_t> block;
    const uint64_t total = frames * channels;
    for (uint64_t i = 0; ok && i < total;) {
        block.clear();
        for (uint64_t end = std::min(total, i + 65536); i < end; ++i) {
            put16(block, uint16_t(samples[i]));
        }
        ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
    }
    int savedErrno = errno;
    if (std::fflush(file) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        error = std::strerror(savedErrno);
    }
    return ok;
}

std::string captureFrameName(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%06d.png", k);
    return name;
}

std::string progressLine(int done, int total, double framesPerSecond) {
    char line[128];
    double percent = total > 0 ? 100.0 * done / total : 100.0;
    if (framesPerSecond > 0.0) {
        long left = std::lround(double(total - done) / framesPerSecond);
        std::snprintf(line, sizeof line, "frame %d/%d  %5.1f %%  %.1f fps  %ld:%02ld left", done,
                      total, percent, framesPerSecond, left / 60, left % 60);
    } else {
        std::snprintf(line, sizeof line, "frame %d/%d  %5.1f %%", done, total, percent);
    }
    return line;
}

std::vector<std::string> ffmpegArguments(const std::string& ffmpeg, int fps,
                                         const std::string& audioPath, const std::string& out) {
    const std::string rate = std::to_string(fps);
    // The canvas is XRGB8888 in host order: bytes B, G, R, X on little-endian
    // machines, which ffmpeg calls bgr0. -shortest trims the audio when an
    // interrupted capture delivered fewer frames than planned.
    return {ffmpeg,       "-hide_banner",
            "-loglevel",  "error",
            "-nostats",   "-y",
            "-f",         "rawvideo",
            "-pix_fmt",   "bgr0",
            "-s",         "640x360",
            "-r",         rate,
            "-i",         "pipe:0",
            "-f",         "wav",
            "-i",         audioPath,
            "-map",       "0:v",
            "-map",       "1:a",
            "-vf",        "scale=1280:720:flags=neighbor",
            "-c:v",       "libx264",
            "-preset",    "medium",
            "-crf",       "18",
            "-pix_fmt",   "yuv420p",
            "-c:a",       "aac",
            "-b:a",       "192k",
            "-shortest",  "-movflags",
            "+faststart", "-f",
            "mp4",        out};
}

std::string findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path || name.empty()) {
        return {};
    }
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string directory(rest.substr(0, colon));
        if (directory.empty()) {
            directory = ".";
        }
        std::string candidate = directory + "/" + name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        rest.remove_prefix(colon + 1);
    }
}

namespace {

volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void onInterrupt(int) {
    interruptRequested = 1;
}

// While a capture runs: Ctrl+C (and SIGTERM) only raise a flag, checked between
// frames, and a closed ffmpeg pipe is an error from write() instead of a
// signal. A second Ctrl+C ends the program at once (SA_RESETHAND).
class InterruptGuard {
public:
    InterruptGuard() {
        interruptRequested = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &oldPipe_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool interrupted() const { return interruptRequested != 0; }

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldPipe_ {};
};

std::string describe(const std::error_code& ec) {
    return ec.message();
}

// Writes `final` through a ".part" file that is renamed into place once whole,
// so a file under the final name is always complete.
template <typename Write>
bool writeWhole(const std::string& final, Write write, std::string& error) {
    const std::string part = final + ".part";
    std::string why;
    if (!write(part, why)) {
        std::remove(part.c_str());
        error = "cannot write " + final + ": " + why;
        return false;
    }
    std::error_code ec;
    fs::rename(part, final, ec);
    if (ec) {
        std::remove(part.c_str());
        error = "cannot write " + final + ": " + describe(ec);
        return false;
    }
    return true;
}

// Where the frames go.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual bool begin(std::string& error) = 0;
    virtual bool frame(int k, const uint32_t* pixels, int width, int height,
                       std::string& error) = 0;
    // Completes the output for the first `frames` frames.
    virtual bool finish(int frames, std::string& error) = 0;
    // Removes everything this capture wrote.
    virtual void abandon() = 0;
    virtual std::string name() const = 0;
};

bool isCaptureFileName(const std::string& name) {
    std::string base = name;
    if (base.size() > 5 && base.compare(base.size() - 5, 5, ".part") == 0) {
        base.resize(base.size() - 5);
    }
    if (base == "audio.wav") {
        return true;
    }
    if (base.size() < 14 || base.compare(0, 5, "frame") != 0 ||
        base.compare(base.size() - 4, 4, ".png") != 0) {
        return false;
    }
    return std::all_of(base.begin() + 5, base.end() - 4,
                       [](char c) { return c >= '0' && c <= '9'; });
}

class DirectoryOutput : public FrameOutput {
public:
    DirectoryOutput(std::string directory, const CapturePlan& plan, const DecodedAudio& music)
        : directory_(std::move(directory)), plan_(plan), music_(music) {}

    bool begin(std::string& error) override {
        std::error_code ec;
        created_ = fs::create_directories(directory_, ec);
        if (ec || !fs::is_directory(directory_, ec)) {
            error = "cannot create the directory " + directory_ + ": " +
                    (ec ? describe(ec) : "a file of that name is in the way");
            return false;
        }
        // Frames of an earlier capture would mix with these and make a longer
        // capture look complete: they go first.
        int removed = 0;
        for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && isCaptureFileName(it->path().filename().string())) {
                std::error_code removeError;
                if (!fs::remove(it->path(), removeError)) {
                    error = "cannot replace " + it->path().string() + ": " + describe(removeError);
                    return false;
                }
                ++removed;
            }
        }
        if (ec) {
            error = "cannot read the directory " + directory_ + ": " + describe(ec);
            return false;
        }
        if (removed > 0) {
            std::printf("replacing the earlier capture in %s (%d files)\n", directory_.c_str(),
                        removed);
        }
        // Writable at all? Found out now rather than after the first frame.
        std::string probe = path("audio.wav.part");
        FILE* file = std::fopen(probe.c_str(), "wb");
        if (!file) {
            error = "cannot write into " + directory_ + ": " + std::strerror(errno);
            return false;
        }
        std::fclose(file);
        std::remove(probe.c_str());
        return true;
    }

    bool frame(int k, const uint32_t* pixels, int width, int height, std::string& error) override {
        const std::string final = path(captureFrameName(k));
        auto png = [&](const std::string& part, std::string& why) {
            return writeXrgbPng(part, pixels, width, height, width, why);
        };
        if (!writeWhole(final, png, error)) {
            return false;
        }
        written_.push_back(final);
        return true;
    }

    bool finish(int frames, std::string& error) override {
        // The audio of exactly the frames written: audio.wav appears last, so
        // its presence marks a capture that ended properly.
        std::vector<int16_t> samples =
            audioSpan(music_, plan_.firstSample, plan_.samplesForFrames(frames));
        auto wav = [&](const std::string& part, std::string& why) {
            return writeWav(part, samples.data(), samples.size() / music_.channels, music_.rate,
                            music_.channels, why);
        };
        return writeWhole(path("audio.wav"), wav, error);
    }

    void abandon() override {
        for (const std::string& file : written_) {
            std::remove(file.c_str());
        }
        written_.clear();
        if (created_) {
            std::error_code ec;
            fs::remove(directory_, ec); // only when empty
            created_ = false;
        }
    }

    std::string name() const override { return directory_; }

private:
    std::string path(const std::string& file) const {
        return (fs::path(directory_) / file).string();
    }

    std::string directory_;
    const CapturePlan& plan_;
    const DecodedAudio& music_;
    std::vector<std::string> written_;
    bool created_ = false;
};

std::string exitDescription(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("killed by ") + strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

class VideoOutput : public FrameOutput {
public:
    VideoOutput(std::string ffmpeg, std::string out, const CapturePlan& plan,
                const DecodedAudio& music)
        : ffmpeg_(std::move(ffmpeg)), out_(std::move(out)), part_(out_ + ".part"),
          audio_(out_ + ".wav.part"), plan_(plan), music_(music) {}

    ~VideoOutput() override { abandon(); }

    bool begin(std::string& error) override {
        std::vector<int16_t> samples = audioSpan(music_, plan_.firstSample, plan_.sampleCount);
        std::string why;
        if (!writeWav(audio_, samples.data(), samples.size() / music_.channels, music_.rate,
                      music_.channels, why)) {
            std::remove(audio_.c_str());
            error = "cannot write " + audio_ + " (the audio for ffmpeg): " + why;
            return false;
        }
        audioWritten_ = true;

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // Its own process group: Ctrl+C on the terminal reaches only lumo, which
        // then ends the stream properly instead of ffmpeg dying mid-file. The
        // ignored SIGPIPE must not be inherited.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

        std::vector<std::string> arguments = ffmpegArguments(ffmpeg_, plan_.fps, audio_, part_);
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int result =
            posix_spawn(&child_, ffmpeg_.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(fds[0]);
        if (result != 0) {
            ::close(fds[1]);
            child_ = -1;
            error = "cannot start " + ffmpeg_ + ": " + std::strerror(result);
            return false;
        }
        pipe_ = fds[1];
        return true;
    }

    bool frame(int, const uint32_t* pixels, int width, int height, std::string& error) override {
        const char* bytes = reinterpret_cast<const char*>(pixels);
        size_t left = size_t(width) * size_t(height) * sizeof(uint32_t);
        while (left > 0) {
            ssize_t n = ::write(pipe_, bytes, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                int status = waitChild();
                error = "ffmpeg stopped early (" + exitDescription(status) + "); " + out_ +
                        " was not written";
                return false;
            }
            bytes += n;
            left -= size_t(n);
        }
        return true;
    }

    bool finish(int, std::string& error) override {
        closePipe();
        int status = waitChild();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            error = "ffmpeg failed (" + exitDescription(status) + "); " + out_ + " was not written";
            return false;
        }
        std::error_code ec;
        fs::rename(part_, out_, ec);
        if (ec) {
            error = "cannot write " + out_ + ": " + describe(ec);
            return false;
        }
        removeAudio();
        return true;
    }

    void abandon() override {
        closePipe();
        if (child_ > 0) {
            ::kill(child_, SIGTERM);
            waitChild();
        }
        std::remove(part_.c_str());
        removeAudio();
    }

    std::string name() const override { return out_; }

private:
    void closePipe() {
        if (pipe_ >= 0) {
            ::close(pipe_);
            pipe_ = -1;
        }
    }

    int waitChild() {
        if (child_ <= 0) {
            return lastStatus_;
        }
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
        child_ = -1;
        lastStatus_ = status;
        return status;
    }

    void removeAudio() {
        if (audioWritten_) {
            std::remove(audio_.c_str());
            audioWritten_ = false;
        }
    }

    std::string ffmpeg_, out_, part_, audio_;
    const CapturePlan& plan_;
    const DecodedAudio& music_;
    pid_t child_ = -1;
    int pipe_ = -1;
    int lastStatus_ = 0;
    bool audioWritten_ = false;
};

// The progress line rewrites itself on a terminal; in a log it would only be
// noise, so there only the summary appears.
class Progress {
public:
    explicit Progress(int total) : total_(total), terminal_(::isatty(STDERR_FILENO) != 0) {}

    void update(int done, double elapsed) {
        if (!terminal_ || (elapsed - lastShown_ < 0.1 && done < total_)) {
            return;
        }
        lastShown_ = elapsed;
        double rate = elapsed > 0.0 ? done / elapsed : 0.0;
        std::fprintf(stderr, "\r%s   ", progressLine(done, total_, rate).c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    void end() {
        if (shown_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

private:
    int total_;
    bool terminal_;
    bool shown_ = false;
    double lastShown_ = -1.0;
};

} // namespace

int planOverMusic(const std::string& dataDirectory, double from, double to, int fps,
                  DecodedAudio& music, CapturePlan& plan) {
    const std::string musicPath = dataDirectory + "j2.mp3";
    if (int code = decodeMp3File(musicPath, music); code != 0) {
        std::fprintf(stderr, "lumo: cannot decode the music %s (error %d)\n", musicPath.c_str(),
                     code);
        return 1;
    }
    const double musicSeconds = double(music.frameCount()) / double(music.rate);
    std::string error;
    if (!planCapture(from, to, fps, musicSeconds, music.rate, plan, error)) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

int captureCommand(const std::string& dataDirectory, const CaptureSettings& settings) {
    const bool video = !settings.video.empty();
    std::string ffmpeg;
    if (video) {
        ffmpeg = findInPath("ffmpeg");
        if (ffmpeg.empty()) {
            std::fprintf(stderr,
                         "lumo: --video needs ffmpeg, which is not installed (not found on "
                         "PATH); --capture DIR writes the PNG frames and audio.wav instead\n");
            return 1;
        }
    }

    DecodedAudio music;
    CapturePlan plan;
    if (int status =
            planOverMusic(dataDirectory, settings.from, settings.to, settings.fps, music, plan)) {
        return status;
    }
    if (plan.clamped) {
        std::printf("--to %.3f is past the end of the demo; capturing up to %.3f s\n", settings.to,
                    plan.to);
    }

    std::unique_ptr<FrameOutput> output;
    if (video) {
        output = std::make_unique<VideoOutput>(ffmpeg, settings.video, plan, music);
    } else {
        output = std::make_unique<DirectoryOutput>(settings.directory, plan, music);
    }

    // From here on Ctrl+C is answered by cleaning up, not by dying half-way.
    InterruptGuard guard;
    std::string error;
    if (!output->begin(error)) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        output->abandon();
        return 1;
    }
    HeadlessDemo demo(dataDirectory, settings.threads);
    if (!demo.session().trackSet) {
        output->abandon();
        std::fprintf(stderr, "lumo: track set failed, out of memory?\n");
        return 1;
    }

    Progress progress(plan.frameCount);
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    int written = 0;
    bool failed = false;
    while (written < plan.frameCount && !guard.interrupted()) {
        demo.renderAt(plan.framePosition(written));
        if (!output->frame(written, demo.pixels(), demo.width(), demo.height(), error)) {
            failed = true;
            break;
        }
        ++written;
        progress.update(written, elapsed());
    }
    progress.end();
    const bool interrupted = !failed && written < plan.frameCount;
    if (interrupted && written == 0) {
        output->abandon();
        std::printf("interrupted before the first frame; nothing written\n");
        return 130;
    }
    if (failed || !output->finish(written, error)) {
        output->abandon();
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        std::fprintf(stderr, "lumo: capture failed after %d of %d frames; nothing was kept\n",
                     written, plan.frameCount);
        return 1;
    }

    const double seconds = elapsed();
    const std::string of = interrupted ? "of " + std::to_string(plan.frameCount) + " " : "";
    std::printf("%scaptured %d %sframes at %d fps (%.3f to %.3f s)%s into %s in %.1f s (%.1f "
                "frames per second)\n",
                interrupted ? "interrupted: " : "", written, of.c_str(), plan.fps, plan.from,
                plan.framePosition(written), video ? "" : " and audio.wav", output->name().c_str(),
                seconds, seconds > 0.0 ? written / seconds : 0.0);
    return interrupted ? 130 : 0;
}

} // namespace lumo
