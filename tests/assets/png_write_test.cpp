#include "assets/deflate.h"
#include "assets/inflate.h"
#include "assets/png_write.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/resource.h>

namespace lumo {
namespace {

// Kinds of input: noise (stored blocks), runs of one byte far longer than a match, copies from
// up to 40 000 bytes back (so some lie beyond the window), bytes of very unequal frequencies
// (Huffman trees deeper than a code may be), and pieces of all four in turn.
enum class Kind { Noise, Runs, Repeats, Skewed, Mixed };

void appendPiece(Kind kind, size_t length, std::mt19937& rng, std::vector<uint8_t>& data) {
    for (size_t i = 0; i < length;) {
        if (kind == Kind::Runs) {
            const size_t run = 1 + rng() % 2000;
            data.insert(data.end(), run, uint8_t(rng()));
            i += run;
        } else if (kind == Kind::Repeats && data.size() > 0 && rng() % 4 != 0) {
            const size_t back = 1 + rng() % std::min<size_t>(data.size(), 40000);
            for (size_t n = 3 + rng() % 300; n > 0; --n, ++i) {
                data.push_back(data[data.size() - back]);
            }
        } else if (kind == Kind::Skewed) {
            uint8_t k = 0;
            while (rng() % 5 < 3 && k < 255) {
                ++k;
            }
            data.push_back(k);
            ++i;
        } else {
            data.push_back(uint8_t(rng()));
            ++i;
        }
    }
}

std::vector<uint8_t> sampleBytes(Kind kind, size_t size, std::mt19937& rng) {
    std::vector<uint8_t> data;
    while (data.size() < size) {
        const bool mixed = kind == Kind::Mixed;
        appendPiece(mixed ? Kind(rng() % 4) : kind, mixed ? 1 + rng() % 5000 : size, rng, data);
    }
    data.resize(size);
    return data;
}

// zlib's inflater as the judge: the whole stream must be used, its checksum right.
std::vector<uint8_t> zlibInflated(const std::vector<uint8_t>& z, size_t expectedSize) {
    std::vector<uint8_t> out(expectedSize + 1); // room for one byte too many
    uLongf outSize = out.size();
    uLong inSize = z.size();
    if (uncompress2(out.data(), &outSize, z.data(), &inSize) != Z_OK || inSize != z.size()) {
        return {1, 2, 3}; // no sample is this
    }
    out.resize(outSize);
    return out;
}

std::vector<uint8_t> deflated(const std::vector<uint8_t>& data, int level) {
    std::vector<uint8_t> z = {0xee}; // appended to, not replaced
    deflateZlib(data.data(), data.size(), level, z);
    EXPECT_EQ(z[0], 0xee);
    return {z.begin() + 1, z.end()};
}

TEST(Deflate, EveryLevelAndKindInflatesWithZlibAndOurs) {
    std::mt19937 rng(7);
    for (Kind kind : {Kind::Noise, Kind::Runs, Kind::Repeats, Kind::Skewed, Kind::Mixed}) {
        for (size_t size : {0, 1, 3, 4, 259, 70000, 400000}) {
            const auto data = sampleBytes(kind, size, rng);
            size_t level1Size = 0;
            for (int level = 0; level <= kDeflateMaxLevel; ++level) {
                SCOPED_TRACE(testing::Message()
                             << "kind " << int(kind) << " size " << size << " level " << level);
                const auto z = deflated(data, level);
                EXPECT_TRUE(zlibInflated(z, size) == data);
                std::vector<uint8_t> ours;
                EXPECT_EQ(inflateZlib(z.data(), z.size(), ours), PngError::None);
                EXPECT_TRUE(ours == data);
                // Stored blocks of at most 65535 bytes at level 0; incompressible data is
                // stored at any level (in blocks of its own size), never sent in codes that
                // make it larger.
                const size_t stored = 6 + 5 * std::max<size_t>(1, (size + 65534) / 65535) + size;
                EXPECT_TRUE(level == 0 ? z.size() == stored : z.size() <= stored + size / 1000)
                    << z.size() << " bytes against " << stored << " stored";
                level1Size = level == 1 ? z.size() : level1Size;
                if (level == 9 && size > 1000 && kind != Kind::Noise) {
                    EXPECT_LT(z.size(), level1Size);
                }
            }
        }
    }
}

// Fuzz-like: sizes from nothing to 128 KiB, every level, pieces of every kind.
TEST(Deflate, SeededRandomStreamsInflateWithZlib) {
    std::mt19937 rng(20240607);
    for (int i = 0; i < 300; ++i) {
        const auto data = sampleBytes(Kind::Mixed, rng() % (size_t{1} << rng() % 18), rng);
        const int level = int(rng() % 10);
        ASSERT_TRUE(zlibInflated(deflated(data, level), data.size()) == data)
            << "case " << i << " size " << data.size() << " level " << level;
    }
}

TEST(Deflate, ChecksumsMatchZlibInAnyPieces) {
    std::mt19937 rng(5);
    auto data = sampleBytes(Kind::Mixed, 300000, rng);
    for (int i = 0; i < 30; ++i) {
        // Last, all bytes 255 in one piece: the largest sums.
        if (i == 29) {
            std::fill(data.begin(), data.end(), 255);
        }
        uint32_t adler = 1, crc = 0;
        uLong zAdler = adler32(0, nullptr, 0), zCrc = crc32(0, nullptr, 0);
        for (size_t pos = 0; pos < data.size();) {
            const size_t n = std::min(data.size() - pos, i == 29 ? data.size() : rng() % 100000);
            adler = updateAdler32(adler, &data[pos], n);
            crc = updateCrc32(crc, &data[pos], n);
            zAdler = adler32(zAdler, &data[pos], uInt(n));
            zCrc = crc32(zCrc, &data[pos], uInt(n));
            pos += n;
        }
        ASSERT_EQ(adler, zAdler);
        ASSERT_EQ(crc, zCrc);
    }
}

// Smooth rows (which filters turn into runs), repeated rows and noise.
std::vector<uint8_t> samplePixels(uint32_t width, uint32_t height, size_t channels,
                                  std::mt19937& rng) {
    std::vector<uint8_t> pixels(size_t{width} * height * channels);
    const size_t rowBytes = width * channels;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = &pixels[y * rowBytes];
        const uint32_t kind = rng() % 3;
        for (size_t i = 0; i < rowBytes; ++i) {
            row[i] = kind == 0            ? uint8_t(i / channels + y * 3 + i % channels * 50)
                     : kind == 1 && y > 0 ? row[i - rowBytes]
                                          : uint8_t(rng());
        }
    }
    return pixels;
}

TEST(PngWrite, EveryLevelDecodesWithOursAndLibpng) {
    std::mt19937 rng(11);
    const uint32_t sizes[][2] = {{1, 1}, {1, 5}, {5, 1}, {7, 3}, {33, 17}, {301, 200}};
    for (PngColor color : {PngColor::Rgb, PngColor::Rgba}) {
        const size_t channels = color == PngColor::Rgb ? 3 : 4;
        for (const auto& [width, height] : sizes) {
            const auto pixels = samplePixels(width, height, channels, rng);
            std::vector<uint8_t> rgba;
            for (size_t p = 0; p < pixels.size(); p += channels) {
                rgba.insert(rgba.end(), &pixels[p], &pixels[p + 3]);
                rgba.push_back(channels == 4 ? pixels[p + 3] : 255);
            }
            for (int level = 0; level <= 9; ++level) {
                SCOPED_TRACE(testing::Message() << width << " x " << height << " with " << channels
                                                << " channels at level " << level);
                std::vector<uint8_t> file;
                std::string error;
                ASSERT_TRUE(
                    encodePng(packedRows(pixels.data(), width, height, color), level, file, error));
                PngImage image;
                ASSERT_EQ(decodePng(file.data(), file.size(), image), PngError::None);
                EXPECT_EQ(std::pair(image.width, image.height), std::pair(width, height));
                EXPECT_TRUE(image.pixels == rgba);
                EXPECT_TRUE(test::readPngRgba(file) == rgba);
            }
        }
    }
}

// Rows filled into the scratch row give the same file as packed rows; each is asked for once,
// top to bottom, and the row before stays readable while the next is made.
TEST(PngWrite, RowsAreAskedForOnceInOrderThroughScratch) {
    std::mt19937 rng(3);
    const uint32_t width = 40, height = 30;
    const auto pixels = samplePixels(width, height, 3, rng);
    std::vector<uint32_t> asked;
    PngRows rows{width, height, PngColor::Rgb, [&](uint32_t y, uint8_t* scratch) {
                     asked.push_back(y);
                     std::copy_n(&pixels[y * width * 3], width * 3, scratch);
                     return static_cast<const uint8_t*>(scratch);
                 }};
    for (int level : {1, 6}) {
        asked.clear();
        std::vector<uint8_t> viaScratch, packed;
        std::string error;
        ASSERT_TRUE(encodePng(rows, level, viaScratch, error));
        ASSERT_TRUE(encodePng(packedRows(pixels.data(), width, height, PngColor::Rgb), level,
                              packed, error));
        EXPECT_TRUE(viaScratch == packed);
        std::vector<uint32_t> order(height);
        std::iota(order.begin(), order.end(), 0u);
        EXPECT_EQ(asked, order);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Failures are one line each and leave no file; a device that fails is not removed.
TEST(PngWrite, FailuresLeaveNothingBehind) {
    namespace fs = std::filesystem;
    const std::string path = testing::TempDir() + "lumo-png-write-test.png";
    fs::remove(path);
    std::mt19937 rng(1);
    const auto noise = sampleBytes(Kind::Noise, 64 * 64 * 4, rng);
    const PngRows picture = packedRows(noise.data(), 64, 64, PngColor::Rgba);
    std::string error;

    for (auto [width, height] : {std::pair{0u, 5u}, {5u, 0u}, {65536u, 65536u}}) {
        PngRows rows{width, height, PngColor::Rgb, [&](uint32_t, uint8_t*) -> const uint8_t* {
                         ADD_FAILURE() << "a row was asked for";
                         return nullptr;
                     }};
        error.clear();
        EXPECT_FALSE(savePng(path, rows, 1, error));
        EXPECT_TRUE(!error.empty() && error.find('\n') == std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path));
    }
    error.clear();
    EXPECT_FALSE(savePng("/nonexistent/a.png", picture, 1, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(savePng("/dev/full", picture, 0, error));
    EXPECT_NE(error.find("space"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists("/dev/full"));

    // A file cut short by the size limit is removed.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool cutShort = savePng(path, picture, 0, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(cutShort);
    EXPECT_FALSE(fs::exists(path));

    std::vector<uint8_t> file;
    ASSERT_TRUE(encodePng(picture, 3, file, error));
    ASSERT_TRUE(savePng(path, picture, 3, error)) << error;
    EXPECT_EQ(readFile(path), std::string(file.begin(), file.end()));
    fs::remove(path);
}

} // namespace
} // namespace lumo
