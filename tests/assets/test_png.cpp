#include "assets/png.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <random>

namespace lumo {
namespace {

using test::Chunk;
using test::PngSpec;

int32_t decode(const std::vector<uint8_t>& file, PngImage& image) {
    return decodePng(file.data(), file.size(), image);
}

// The error code of a file; a failure leaves no image behind.
int32_t decodeError(const std::vector<uint8_t>& file) {
    PngImage image;
    const int32_t error = decode(file, image);
    EXPECT_TRUE(error == 0 || (image.pixels.empty() && image.width == 0));
    return error;
}

void expectDecodesAsSpec(const PngSpec& spec) {
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    EXPECT_EQ(image.width, spec.width);
    EXPECT_EQ(image.height, spec.height);
    EXPECT_TRUE(image.pixels == test::expectedRgba(spec));
}

struct Format {
    int colorType, depth;
};

const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

// Every format, filter, interlace mode and transparency; stored and compressed data split
// into IDAT chunks of many sizes.
TEST(Png, EveryFormatAndFilterMatchesTheOracle) {
    std::mt19937 rng(2024);
    const uint32_t sizes[][2] = {{1, 1}, {3, 7}, {33, 17}, {8, 1}, {1, 9}, {13, 5}, {37, 11}};
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    int n = 0;
    for (const Format& f : kFormats) {
        const bool keyAllowed = f.colorType == 0 || f.colorType == 2 || f.colorType == 3;
        for (int variant = 0; variant < (keyAllowed ? 4 : 2); ++variant) {
            for (const auto& size : sizes) {
                PngSpec spec = test::randomPng(f.colorType, f.depth, size[0], size[1], variant & 1,
                                               rng, variant & 2);
                spec.filters = filters[n % 6];
                spec.level = n % 3 == 0 ? 0 : 9;
                spec.idatSize = n % 2 == 0 ? 8192 : 7 + n % 50;
                ++n;
                // Smooth areas make Paeth and Average choose all three predictors.
                for (size_t i = 0; f.colorType != 3 && i < spec.samples.size() / 2; ++i) {
                    spec.samples[i] =
                        static_cast<uint16_t>((i * 3 % 50) * ((1u << f.depth) - 1) / 49);
                }
                SCOPED_TRACE(testing::Message() << "case " << n);
                expectDecodesAsSpec(spec);
            }
        }
    }
}

// The decoded pixels of a one-row image with a transparency key.
std::vector<uint8_t> keyedRow(int colorType, int depth, std::vector<uint16_t> key,
                              std::vector<uint16_t> samples) {
    PngSpec spec;
    spec.colorType = colorType;
    spec.depth = depth;
    spec.width = uint32_t(samples.size() / key.size());
    spec.hasKey = true;
    std::copy(key.begin(), key.end(), spec.key);
    spec.samples = samples;
    PngImage image;
    EXPECT_EQ(decode(test::writePng(spec), image), 0);
    return image.pixels;
}

TEST(Png, TransparencyKeysAtSixteenAndTwoBits) {
    // 16-bit RGB: all sixteen bits of each channel are compared.
    EXPECT_EQ(keyedRow(PNG_COLOR_TYPE_RGB, 16, {0x1234, 0x5678, 0x9abc},
                       {0x1234, 0x5678, 0x9abc,   // the key
                        0x1235, 0x5678, 0x9abc,   // low byte of red differs
                        0x1234, 0x5678, 0x9abd,   // low byte of blue differs
                        0x1234, 0x5600, 0x9abc}), // low byte of green differs
              (std::vector<uint8_t>{0x12, 0x56, 0x9a, 0, 0x12, 0x56, 0x9a, 255, 0x12, 0x56, 0x9a,
                                    255, 0x12, 0x56, 0x9a, 255}));
    // 2-bit grey: a key of 1 makes value 85 transparent.
    EXPECT_EQ(keyedRow(PNG_COLOR_TYPE_GRAY, 2, {1}, {0, 1, 2, 3, 1}),
              (std::vector<uint8_t>{0,   0,   0,   255, 85,  85,  85, 0,  170, 170,
                                    170, 255, 255, 255, 255, 255, 85, 85, 85,  0}));
}

// A small valid 6 x 5 file, as chunks, to break in various ways.
std::vector<Chunk> sampleChunks(int colorType = PNG_COLOR_TYPE_RGB, int depth = 8) {
    std::mt19937 rng(1);
    return test::splitChunks(test::writePng(test::randomPng(colorType, depth, 6, 5, false, rng)));
}

// The sample file with its IHDR bytes at offset (width 0, height 4, depth 8, type 9, ...)
// replaced.
std::vector<uint8_t> withIhdr(size_t offset, std::vector<uint8_t> bytes) {
    auto chunks = sampleChunks();
    std::copy(bytes.begin(), bytes.end(), chunks[0].data.begin() + offset);
    return test::joinChunks(chunks);
}

TEST(Png, CorruptedCrcsAreIgnored) {
    auto file = test::joinChunks(sampleChunks());
    PngImage good, image;
    ASSERT_EQ(decode(file, good), 0);
    for (size_t pos = 8; pos + 12 <= file.size(); pos += 12 + test::be32(&file[pos])) {
        file[pos + 11 + test::be32(&file[pos])] ^= 0x5a; // the last CRC byte of every chunk
    }
    ASSERT_EQ(decode(file, image), 0);
    EXPECT_EQ(image.pixels, good.pixels);
}

TEST(Png, SignatureAndHeaderErrors) {
    const auto file = test::joinChunks(sampleChunks());
    PngImage empty;
    EXPECT_EQ(decodePng(nullptr, 0, empty), 48);
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 28}), 27);
    auto badSignature = file;
    badSignature[1] = 'Q';
    EXPECT_EQ(decodeError(badSignature), 28);
    auto notIhdr = sampleChunks();
    notIhdr[0].type = "IHDX";
    EXPECT_EQ(decodeError(test::joinChunks(notIhdr)), 29);
    EXPECT_EQ(decodeError(withIhdr(9, {7})), 31);
    EXPECT_EQ(decodeError(withIhdr(10, {1})), 32);
    EXPECT_EQ(decodeError(withIhdr(11, {1})), 33);
    EXPECT_EQ(decodeError(withIhdr(12, {2})), 34);
    EXPECT_EQ(decodeError(withIhdr(8, {16, 3})), 37); // a depth valid for other colour types
    // Size bounds; at the bound the header is accepted and the small data is too short.
    EXPECT_EQ(decodeError(withIhdr(0, {0, 0, 0, 0, 0, 0, 0, 5})), 91);       // 0 x 5
    EXPECT_EQ(decodeError(withIhdr(0, {0, 0, 0x40, 0, 0, 0, 0x40, 1})), 90); // 2^14 x 2^14+1
    EXPECT_EQ(decodeError(withIhdr(0, {0, 0, 0x40, 0, 0, 0, 0x40, 0})), 97); // 2^14 x 2^14
    auto longHeader = sampleChunks();
    longHeader[0].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(longHeader)), 92);
}

TEST(Png, ChunkStructureErrors) {
    auto chunks = sampleChunks();
    const auto file = test::joinChunks(chunks);
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 33}), 30);    // IHDR alone
    EXPECT_EQ(decodeError({file.begin(), file.end() - 6}), 30);       // IEND header cut short
    EXPECT_EQ(decodeError({file.begin(), file.end() - 1}), 35);       // IEND's CRC cut short
    for (auto [type, error] : {std::pair{"ZZZZ", 69}, {"zZZZ", 0}}) { // critical, ancillary
        auto unknown = chunks;
        unknown.insert(unknown.begin() + 1, Chunk{type, {1, 2, 3}});
        EXPECT_EQ(decodeError(test::joinChunks(unknown)), error) << type;
    }
    auto longChunk = file;
    longChunk[33] = 0x80; // first chunk after IHDR claims 2^31 + its length
    EXPECT_EQ(decodeError(longChunk), 63);
    longChunk[33] = 0x7f;
    EXPECT_EQ(decodeError(longChunk), 35);
}

TEST(Png, PaletteAndTransparencyChunkErrors) {
    auto withChunk = [](int colorType, size_t at, Chunk chunk) {
        auto chunks = sampleChunks(colorType, 8);
        chunks.insert(chunks.begin() + at, chunk);
        return test::joinChunks(chunks);
    };
    auto palette = sampleChunks(PNG_COLOR_TYPE_PALETTE, 8);
    ASSERT_EQ(palette[1].type, "PLTE");
    auto big = palette;
    big[1].data.assign(257 * 3, 0);
    EXPECT_EQ(decodeError(test::joinChunks(big)), 38);
    palette[1].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(palette)), 93);
    EXPECT_EQ(decodeError(withChunk(3, 1, {"tRNS", {0}})), 39); // before the palette
    const int lengths[][3] = {{0, 1, 40}, {2, 2, 41}, {6, 6, 42}};
    for (const auto& l : lengths) {
        EXPECT_EQ(decodeError(withChunk(l[0], 1, {"tRNS", std::vector<uint8_t>(size_t(l[1]))})),
                  l[2])
            << "type " << l[0];
    }
}

TEST(Png, PaletteIndexBeyondThePalette) {
    // Indices that fit the 2^depth range but not the two-entry palette, at the last pixel,
    // which comes last in Adam7 too.
    for (auto [depth, interlaced, error] : {std::tuple{8, true, 46}, {2, false, 47}}) {
        PngSpec spec;
        spec.colorType = PNG_COLOR_TYPE_PALETTE;
        spec.depth = depth;
        spec.interlaced = interlaced;
        spec.width = spec.height = 7;
        spec.palette.assign(2 * 3, 9);
        spec.samples.assign(49, 1);
        spec.samples[48] = 2;
        EXPECT_EQ(decodeError(test::writePng(spec)), error) << depth;
    }
    auto noPalette = sampleChunks(PNG_COLOR_TYPE_PALETTE, 1);
    noPalette.erase(noPalette.begin() + 1);
    EXPECT_EQ(decodeError(test::joinChunks(noPalette)), 47);
}

// A 6 x 5 grey file whose IDAT holds the given (already filtered) scanlines.
std::vector<uint8_t> withScanlines(const std::vector<uint8_t>& scanlines) {
    auto chunks = sampleChunks(PNG_COLOR_TYPE_GRAY, 8);
    return test::joinChunks({chunks[0], {"IDAT", test::zlibCompress(scanlines, 9)}, chunks.back()});
}

TEST(Png, ImageDataErrors) {
    std::vector<uint8_t> scanlines(5 * 7, 0);
    scanlines[3 * 7] = 5;
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 36);
    scanlines[3 * 7] = 4;
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 0);
    scanlines.pop_back();
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 97);
    scanlines.resize(5 * 7 + 1);
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 97);
    scanlines.pop_back();

    // Errors from the zlib stream reach the caller unchanged.
    auto chunks = test::splitChunks(withScanlines(scanlines));
    chunks[1].data[0] = 0x79;
    EXPECT_EQ(decodeError(test::joinChunks(chunks)), 24);
}

TEST(Png, TruncatedFilesAlwaysFail) {
    std::mt19937 rng(77);
    for (const Format& f : kFormats) {
        const auto file = test::writePng(
            test::randomPng(f.colorType, f.depth, 9, 6, rng() % 2 == 0, rng, f.colorType == 3));
        PngImage image;
        for (size_t cut = 0; cut < file.size(); cut += 3) {
            // A copy of exactly cut bytes, so that a sanitizer sees any read past the end.
            EXPECT_NE(decode({file.begin(), file.begin() + cut}, image), 0);
        }
    }
}

} // namespace
} // namespace lumo
