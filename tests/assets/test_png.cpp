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

// The error code of a file that must fail; a failure leaves no image behind.
int32_t decodeError(const std::vector<uint8_t>& file) {
    PngImage image;
    const int32_t error = decode(file, image);
    EXPECT_TRUE(error == 0 || (image.pixels.empty() && image.width == 0));
    return error;
}

PngSpec specOf(int colorType, int depth, uint32_t width, uint32_t height, bool interlaced,
               std::mt19937& rng, bool transparency = false) {
    PngSpec spec;
    spec.colorType = colorType;
    spec.depth = depth;
    spec.width = width;
    spec.height = height;
    spec.interlaced = interlaced;
    test::randomize(spec, rng, transparency);
    return spec;
}

void expectDecodesAsSpec(const PngSpec& spec) {
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    EXPECT_EQ(image.width, spec.width);
    EXPECT_EQ(image.height, spec.height);
    const auto expected = test::expectedRgba(spec);
    ASSERT_EQ(image.pixels.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(image.pixels[i], expected[i])
            << "pixel " << i / 4 % spec.width << ", " << i / 4 / spec.width << " channel " << i % 4;
    }
}

struct Format {
    int colorType, depth;
};

const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

TEST(Png, EveryFormatSizeInterlaceAndTransparencyMatchesTheOracle) {
    std::mt19937 rng(2024);
    const uint32_t sizes[][2] = {{1, 1}, {3, 7}, {33, 17}, {8, 1}, {1, 9}, {13, 5}};
    for (const Format& f : kFormats) {
        const bool keyAllowed = f.colorType == 0 || f.colorType == 2 || f.colorType == 3;
        for (bool transparency : {false, true}) {
            for (bool interlaced : {false, true}) {
                for (const auto& size : sizes) {
                    if (transparency && !keyAllowed) {
                        continue;
                    }
                    SCOPED_TRACE(testing::Message()
                                 << "type " << f.colorType << " depth " << f.depth << " size "
                                 << size[0] << "x" << size[1] << " interlaced " << interlaced
                                 << " transparency " << transparency);
                    expectDecodesAsSpec(specOf(f.colorType, f.depth, size[0], size[1], interlaced,
                                               rng, transparency));
                }
            }
        }
    }
}

TEST(Png, EveryFilterOnEveryFilterDistance) {
    std::mt19937 rng(7);
    // Filter byte distances 1 (sub-byte and 8-bit grey), 2, 3, 4, 6 and 8.
    const Format formats[] = {{0, 2}, {0, 8}, {4, 8}, {2, 8}, {6, 8}, {2, 16}, {6, 16}};
    for (int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                       PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
        for (const Format& f : formats) {
            for (bool interlaced : {false, true}) {
                PngSpec spec = specOf(f.colorType, f.depth, 37, 11, interlaced, rng);
                spec.filters = filter;
                // Smooth areas make Paeth and Average choose all three predictors.
                for (size_t i = 0; i < spec.samples.size() / 2; ++i) {
                    spec.samples[i] =
                        static_cast<uint16_t>((i * 3 % 50) * ((1u << f.depth) - 1) / 49);
                }
                SCOPED_TRACE(testing::Message()
                             << "filter " << filter << " type " << f.colorType << " depth "
                             << f.depth << " interlaced " << interlaced);
                expectDecodesAsSpec(spec);
            }
        }
    }
}

TEST(Png, ManyIdatChunksStoredAndCompressedWithAncillaryChunks) {
    std::mt19937 rng(11);
    for (auto [level, idatSize] : {std::pair{0, size_t{8192}}, {1, 100}, {9, 7}, {6, 977}}) {
        PngSpec spec = specOf(PNG_COLOR_TYPE_RGBA, 8, 97, 61, false, rng);
        spec.level = level;
        spec.idatSize = idatSize;
        spec.addText = true;
        for (size_t i = 0; i < spec.samples.size(); i += 3) {
            spec.samples[i] = static_cast<uint16_t>(i / 1000); // some redundancy to match
        }
        SCOPED_TRACE(testing::Message() << "level " << level << " idat " << idatSize);
        expectDecodesAsSpec(spec);
        size_t idats = 0;
        for (const Chunk& chunk : test::splitChunks(test::writePng(spec))) {
            idats += chunk.type == "IDAT";
        }
        EXPECT_GT(idats, idatSize < 1000 ? 10u : 0u);
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
    return test::splitChunks(test::writePng(specOf(colorType, depth, 6, 5, false, rng)));
}

// The sample file with its IHDR bytes at offset (width 0, height 4, depth 8, type 9, ...)
// replaced.
std::vector<uint8_t> withIhdr(size_t offset, std::vector<uint8_t> bytes) {
    auto chunks = sampleChunks();
    std::copy(bytes.begin(), bytes.end(), chunks[0].data.begin() + offset);
    return test::joinChunks(chunks);
}

std::vector<uint8_t> sized(uint32_t width, uint32_t height) {
    std::vector<uint8_t> wh;
    test::putBe32(wh, width);
    test::putBe32(wh, height);
    return withIhdr(0, wh);
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
    EXPECT_EQ(decodeError(withIhdr(9, {1})), 31);
    EXPECT_EQ(decodeError(withIhdr(9, {7})), 31);
    EXPECT_EQ(decodeError(withIhdr(10, {1})), 32);
    EXPECT_EQ(decodeError(withIhdr(11, {1})), 33);
    EXPECT_EQ(decodeError(withIhdr(12, {2})), 34);
    const uint8_t badDepths[][2] = {{3, 0}, {32, 0}, {4, 2}, {16, 3}, {1, 4}, {2, 6}, {0, 2}};
    for (const auto& d : badDepths) {
        EXPECT_EQ(decodeError(withIhdr(8, {d[0], d[1]})), 37) << int{d[1]} << "/" << int{d[0]};
    }
    // Size bounds; at the bound the header is accepted and the small data is too short.
    EXPECT_EQ(decodeError(sized(0, 5)), 91);
    EXPECT_EQ(decodeError(sized(6, 0)), 91);
    EXPECT_EQ(decodeError(sized(0xffffffffu, 0xffffffffu)), 90);
    EXPECT_EQ(decodeError(sized(1u << 14, (1u << 14) + 1)), 90);
    EXPECT_EQ(decodeError(sized(1u << 14, 1u << 14)), 97);
    EXPECT_EQ(decodeError(sized(1u << 28, 1)), 97);
    auto longHeader = sampleChunks();
    longHeader[0].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(longHeader)), 92);
}

TEST(Png, ChunkStructureErrors) {
    auto chunks = sampleChunks();
    const auto file = test::joinChunks(chunks);
    ASSERT_EQ(chunks.back().type, "IEND");
    auto noEnd = chunks;
    noEnd.pop_back();
    EXPECT_EQ(decodeError(test::joinChunks(noEnd)), 30);
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 29}), 30); // IHDR without its CRC
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 33}), 30); // IHDR alone
    EXPECT_EQ(decodeError({file.begin(), file.end() - 6}), 30);    // IEND header cut short
    EXPECT_EQ(decodeError({file.begin(), file.end() - 1}), 35);    // IEND's CRC cut short

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

// The sample file of colorType with a chunk inserted at position at.
std::vector<uint8_t> inserted(int colorType, size_t at, Chunk chunk) {
    auto chunks = sampleChunks(colorType, 8);
    chunks.insert(chunks.begin() + at, chunk);
    return test::joinChunks(chunks);
}

TEST(Png, PaletteAndTransparencyChunkErrors) {
    auto palette = sampleChunks(PNG_COLOR_TYPE_PALETTE, 8);
    ASSERT_EQ(palette[1].type, "PLTE");
    auto big = palette;
    big[1].data.assign(257 * 3, 0);
    EXPECT_EQ(decodeError(test::joinChunks(big)), 38);
    auto ragged = palette;
    ragged[1].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(ragged)), 93);
    const size_t entries = palette[1].data.size() / 3;
    EXPECT_EQ(decodeError(inserted(3, 2, {"tRNS", std::vector<uint8_t>(entries + 1)})), 39);
    EXPECT_EQ(decodeError(inserted(3, 1, {"tRNS", {0}})), 39); // before the palette
    const int lengths[][3] = {{0, 1, 40}, {0, 6, 40}, {2, 2, 41}, {4, 2, 42}, {6, 6, 42}};
    for (const auto& l : lengths) {
        EXPECT_EQ(decodeError(inserted(l[0], 1, {"tRNS", std::vector<uint8_t>(size_t(l[1]))})),
                  l[2])
            << "type " << l[0] << " length " << l[1];
    }
}

TEST(Png, PaletteIndexBeyondThePalette) {
    // Indices that fit the 2^depth range but not the two-entry palette, at the last pixel,
    // which comes last in Adam7 too.
    for (bool interlaced : {false, true}) {
        for (auto [depth, error] : {std::pair{8, 46}, {2, 47}, {4, 47}}) {
            PngSpec spec;
            spec.colorType = PNG_COLOR_TYPE_PALETTE;
            spec.depth = depth;
            spec.interlaced = interlaced;
            spec.width = spec.height = 7;
            spec.palette.assign(2 * 3, 9);
            spec.samples.assign(49, 1);
            spec.samples[48] = 2;
            EXPECT_EQ(decodeError(test::writePng(spec)), error) << depth << " " << interlaced;
        }
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
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 0);
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
    chunks[1].data.resize(1);
    EXPECT_EQ(decodeError(test::joinChunks(chunks)), 53);
    chunks.erase(chunks.begin() + 1);
    EXPECT_EQ(decodeError(test::joinChunks(chunks)), 53); // no IDAT at all
}

TEST(Png, TruncatedAndMutatedFilesNeverCrash) {
    std::mt19937 rng(77);
    for (const Format& f : kFormats) {
        const auto file = test::writePng(
            specOf(f.colorType, f.depth, 9, 6, rng() % 2 == 0, rng, f.colorType == 3));
        PngImage image;
        for (size_t cut = 0; cut < file.size(); cut += 3) {
            // A copy of exactly cut bytes, so that a sanitizer sees any read past the end.
            EXPECT_NE(decode({file.begin(), file.begin() + cut}, image), 0);
        }
        for (int i = 0; i < 200; ++i) {
            auto copy = file;
            copy[rng() % copy.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            const int32_t error = decode(copy, image);
            EXPECT_EQ(image.pixels.size(), error == 0 ? size_t{image.width} * image.height * 4 : 0);
        }
    }
}

} // namespace
} // namespace lumo
