#include "app/capture.h"

#include "app/frame_writer.h"
#include "app/headless.h"
#include "app/png_writer.h"
#include "audio/mp3.h"
#include "sys/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

namespace lumo {

namespace fs = std::filesystem;

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

const char* x264Preset(VideoQuality quality) {
    switch (quality) {
    case VideoQuality::Fast:
        return "veryfast";
    case VideoQuality::Good:
        return "medium";
    case VideoQuality::Best:
        return "slow";
    }
    return "medium";
}

std::vector<std::string> ffmpegArguments(const std::string& ffmpeg, int fps, int width, int height,
                                         const std::string& audioPath, const std::string& out,
                                         VideoQuality quality) {
    const std::string rate = std::to_string(fps);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string filter = width == 640 && height == 360 ? "scale=1280:720:flags=neighbor"
                                                             : "pad=ceil(iw/2)*2:ceil(ih/2)*2";
    // The canvas is XRGB8888 in host order: bytes B, G, R, X on little-endian
    // machines, which ffmpeg calls bgr0. -shortest trims the audio when an
    // interrupted capture delivered fewer frames than planned.
    return {ffmpeg,       "-hide_banner", "-loglevel", "error",     "-nostats",
            "-y",         "-f",           "rawvideo",  "-pix_fmt",  "bgr0",
            "-s",         size,           "-r",        rate,        "-i",
            "pipe:0",     "-f",           "wav",       "-i",        audioPath,
            "-map",       "0:v",          "-map",      "1:a",       "-vf",
            filter,       "-c:v",         "libx264",   "-preset",   x264Preset(quality),
            "-crf",       "18",           "-pix_fmt",  "yuv420p",   "-c:a",
            "aac",        "-b:a",         "192k",      "-shortest", "-movflags",
            "+faststart", "-f",           "mp4",       out};
}

bool CaptureFiles::writePng(const std::string& path, const uint32_t* pixels, int width, int height,
                            int level, std::string& error) {
    return writeXrgbPng(path, pixels, width, height, width, error, level);
}

bool CaptureFiles::writeWav(const std::string& path, const std::vector<int16_t>& samples,
                            uint32_t sampleRate, uint32_t channels, std::string& error) {
    return lumo::writeWav(path, samples.data(), samples.size() / channels, sampleRate, channels,
                          error);
}

bool CaptureFiles::rename(const std::string& from, const std::string& to, std::string& error) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    return true;
}

namespace {

std::string describe(const std::error_code& ec) {
    return ec.message();
}

// Writes `final` through a ".part" file that is renamed into place once whole,
// so a file under the final name is always complete.
template <typename Write>
bool writeWhole(CaptureFiles& files, const std::string& final, Write write, std::string& error) {
    const std::string part = final + ".part";
    std::string why;
    if (!write(part, why)) {
        std::remove(part.c_str());
        error = "cannot write " + final + ": " + why;
        return false;
    }
    if (!files.rename(part, final, why)) {
        std::remove(part.c_str());
        error = "cannot write " + final + ": " + why;
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
    DirectoryOutput(std::string directory, const CapturePlan& plan, const DecodedAudio& music,
                    CaptureFiles& files, int pngLevel, int encoders)
        : directory_(std::move(directory)), plan_(plan), music_(music), files_(files),
          pngLevel_(pngLevel), encoders_(encoders) {}

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
        // A few frames per encoder queued: enough that rendering never waits
        // for an encoder that is between frames, few enough to bound memory.
        writer_ = std::make_unique<FrameWriter>(
            encoders_, 3 * encoders_,
            [this](const std::string& part, const uint32_t* pixels, int width, int height,
                   std::string& why) {
                return files_.writePng(part, pixels, width, height, pngLevel_, why);
            },
            [this](const std::string& from, const std::string& to, std::string& why) {
                return files_.rename(from, to, why);
            });
        return true;
    }

    bool frame(int k, const uint32_t* pixels, int width, int height, std::string& error) override {
        return writer_->add(path(captureFrameName(k)), pixels, width, height, error);
    }

    bool finish(int frames, std::string& error) override {
        if (!writer_->finish(error)) {
            return false;
        }
        // The audio of exactly the frames written: audio.wav appears last, so
        // its presence marks a capture that ended properly.
        std::vector<int16_t> samples =
            audioSpan(music_, plan_.firstSample, plan_.samplesForFrames(frames));
        auto wav = [&](const std::string& part, std::string& why) {
            return files_.writeWav(part, samples, music_.rate, music_.channels, why);
        };
        return writeWhole(files_, path("audio.wav"), wav, error);
    }

    void abandon() override {
        if (writer_) {
            writer_->cancel();
            for (const std::string& file : writer_->written()) {
                std::remove(file.c_str());
            }
            writer_.reset();
        }
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
    CaptureFiles& files_;
    int pngLevel_;
    int encoders_;
    std::unique_ptr<FrameWriter> writer_;
    bool created_ = false;
};

// The frames go to ffmpeg's standard input as they come; the audio of the whole
// plan is a WAV beside the output for ffmpeg's second input (trimmed to the
// frames by -shortest) and goes when ffmpeg is done.
class VideoOutput : public FrameOutput {
public:
    VideoOutput(std::string ffmpeg, std::string out, const CapturePlan& plan,
                const DecodedAudio& music, const CaptureSettings& settings)
        : ffmpegPath_(std::move(ffmpeg)), out_(std::move(out)), part_(out_ + ".part"),
          audio_(out_ + ".wav.part"), plan_(plan), music_(music), quality_(settings.videoQuality),
          width_(settings.width), height_(settings.height) {}

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
        return process_.start(
            ffmpegArguments(ffmpegPath_, plan_.fps, width_, height_, audio_, part_, quality_),
            error);
    }

    bool frame(int, const uint32_t* pixels, int width, int height, std::string& error) override {
        if (!process_.write(pixels, size_t(width) * size_t(height) * sizeof(uint32_t))) {
            int status = process_.wait();
            error = "ffmpeg stopped early (" + sys::describeExitStatus(status) + "); " + out_ +
                    " was not written";
            return false;
        }
        return true;
    }

    bool finish(int, std::string& error) override {
        process_.closeInput();
        int status = process_.wait();
        if (!sys::exitedSuccessfully(status)) {
            error = "ffmpeg failed (" + sys::describeExitStatus(status) + "); " + out_ +
                    " was not written";
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
        process_.terminate();
        std::remove(part_.c_str());
        removeAudio();
    }

    std::string name() const override { return out_; }

private:
    void removeAudio() {
        if (audioWritten_) {
            std::remove(audio_.c_str());
            audioWritten_ = false;
        }
    }

    std::string ffmpegPath_, out_, part_, audio_;
    const CapturePlan& plan_;
    const DecodedAudio& music_;
    VideoQuality quality_;
    int width_, height_;
    sys::ChildProcess process_;
    bool audioWritten_ = false;
};

// The progress line rewrites itself on a terminal; in a log it would only be
// noise, so there only the summary appears.
class Progress {
public:
    explicit Progress(int total) : total_(total), terminal_(sys::standardErrorIsTerminal()) {}

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

int captureCommand(const std::string& dataDirectory, const CaptureSettings& settings) {
    const bool video = !settings.video.empty();
    std::string ffmpeg;
    if (video) {
        ffmpeg = sys::findInPath("ffmpeg");
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

    CaptureFiles realFiles;
    std::unique_ptr<FrameOutput> output;
    if (video) {
        output = std::make_unique<VideoOutput>(ffmpeg, settings.video, plan, music, settings);
    } else {
        const int encoders = std::max(1, int(std::thread::hardware_concurrency()));
        output = std::make_unique<DirectoryOutput>(settings.directory, plan, music,
                                                   settings.files ? *settings.files : realFiles,
                                                   settings.pngLevel, encoders);
    }

    // From here on Ctrl+C is answered by cleaning up, not by dying half-way.
    sys::InterruptGuard guard;
    std::string error;
    if (!output->begin(error)) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        output->abandon();
        return 1;
    }
    HeadlessDemo demo(dataDirectory, settings.threads, settings.width, settings.height);
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
