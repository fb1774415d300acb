// The capture's encoder threads: frames finish in any order but reach their
// final names in the order given, each whole, and a failure or a stop leaves an
// unbroken run of whole frames and no ".part" file.

#include "app/frame_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

using namespace lumo;
namespace fs = std::filesystem;

namespace {

// Writes the frame's pixels as raw bytes after a random pause, so that later
// frames often finish first; fails the frame whose first pixel is `failAt`.
class SlowFiles {
public:
    explicit SlowFiles(uint32_t failAt = ~0u) : failAt_(failAt) {}

    FrameWriter::Write write() {
        return [this](const std::string& path, const uint32_t* pixels, int width, int height,
                      std::string& error) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause()));
            std::ofstream out(path, std::ios::binary);
            // Half a file, as a full disk leaves it, before the failure.
            size_t bytes = size_t(width) * size_t(height) * 4;
            out.write(reinterpret_cast<const char*>(pixels),
                      std::streamsize(pixels[0] == failAt_ ? bytes / 2 : bytes));
            if (pixels[0] == failAt_) {
                error = "No space left on device";
                return false;
            }
            return bool(out);
        };
    }

    FrameWriter::Rename rename() {
        return [this](const std::string& from, const std::string& to, std::string& error) {
            std::lock_guard<std::mutex> lock(mutex_);
            renamed.push_back(fs::path(to).filename().string());
            std::error_code ec;
            fs::rename(from, to, ec);
            error = ec.message();
            return !ec;
        };
    }

    std::vector<std::string> renamed;

private:
    int pause() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::uniform_int_distribution<int>(0, 3000)(random_);
    }

    uint32_t failAt_;
    std::mutex mutex_;
    std::mt19937 random_{7};
};

class FrameWriterTest : public testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string name(int k) const { return "f" + std::to_string(1000 + k); }

    // Every file in the directory: must be exactly frames 0 .. n-1, whole.
    int wholeRun() const {
        int n = 0;
        for (; fs::exists(dir / name(n)); ++n) {
            std::ifstream in(dir / name(n), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            EXPECT_EQ(bytes.size(), pixels.size() * 4) << name(n);
            EXPECT_EQ(bytes[0], char(n)) << name(n) << " holds another frame";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), n)
            << "files beyond the run of whole frames";
        return n;
    }

    const fs::path dir = fs::temp_directory_path() / ("lumo-writer-" + std::to_string(::getpid()));
    std::vector<uint32_t> pixels = std::vector<uint32_t>(64 * 48, 0u);
};

} // namespace

TEST_F(FrameWriterTest, FramesReachTheirNamesInOrderAndWhole) {
    SlowFiles files;
    std::string error;
    {
        FrameWriter writer(3, 6, files.write(), files.rename());
        for (int k = 0; k < 40; ++k) {
            pixels[0] = uint32_t(k); // the caller reuses its buffer at once
            ASSERT_TRUE(writer.add((dir / name(k)).string(), pixels.data(), 64, 48, error))
                << error;
        }
        ASSERT_TRUE(writer.finish(error)) << error;
        EXPECT_EQ(writer.written().size(), 40u);
    }
    std::vector<std::string> expected;
    for (int k = 0; k < 40; ++k) {
        expected.push_back(name(k));
    }
    EXPECT_EQ(files.renamed, expected);
    EXPECT_EQ(wholeRun(), 40);
}

TEST_F(FrameWriterTest, AFailureOrAStopLeavesOnlyAWholeRun) {
    // Frame 9 fails: nothing from it on is renamed, and its half file goes.
    SlowFiles failing(9);
    std::string error;
    {
        FrameWriter writer(2, 4, failing.write(), failing.rename());
        bool ok = true;
        for (int k = 0; k < 30 && ok; ++k) {
            pixels[0] = uint32_t(k);
            ok = writer.add((dir / name(k)).string(), pixels.data(), 64, 48, error);
        }
        ok = ok && writer.finish(error);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, "cannot write " + (dir / name(9)).string() + ": No space left on device");
        EXPECT_FALSE(writer.add((dir / name(99)).string(), pixels.data(), 64, 48, error));
        writer.cancel();
        EXPECT_EQ(writer.written().size(), 9u);
    }
    EXPECT_EQ(wholeRun(), 9);

    // A stop (Ctrl+C) with frames queued and being written: those being written
    // are let finish and dropped, the queued ones never start.
    fs::remove_all(dir);
    fs::create_directories(dir);
    SlowFiles files;
    FrameWriter writer(2, 8, files.write(), files.rename());
    for (int k = 0; k < 12; ++k) {
        pixels[0] = uint32_t(k);
        ASSERT_TRUE(writer.add((dir / name(k)).string(), pixels.data(), 64, 48, error)) << error;
    }
    writer.cancel();
    EXPECT_EQ(size_t(wholeRun()), writer.written().size());
    // Stopped is stopped: nothing more is taken, nothing waits forever.
    EXPECT_FALSE(writer.add((dir / name(12)).string(), pixels.data(), 64, 48, error));
    EXPECT_FALSE(writer.finish(error));
}
