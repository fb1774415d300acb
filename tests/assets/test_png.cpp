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

int32_t decodeError(const std::vector<uint8_t>& file) {
    PngImage image;
    const int32_t error = decode(file, image);
    if (error != 0) {
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(image.width, 0u);
    }
    return error;
}

void expectDecodesAsSpec(const PngSpec& spec) {
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    EXPECT_EQ(image.width, spec.width);
    EXPECT_EQ(image.height, spec.height);
    const auto expected = test::expectedRgba(spec);
    ASSERT_EQ(image.pixels.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (image.pixels[i] != expected[i]) {
            const size_t p = i / 4;
            FAIL() << "pixel (" << p % spec.width << ", " << p / spec.width << ") channel " << i % 4
                   << ": got " << int{image.pixels[i]} << ", expected " << int{expected[i]};
        }
    }
}

struct Format {
    int colorType;
    int depth;
};

const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

TEST(Png, EveryFormatSizeInterlaceAndTransparencyMatchesTheOracle) {
    std::mt19937 rng(2024);
    const uint32_t sizes[][2] = {{1, 1}, {3, 7}, {33, 17}, {8, 1}, {1, 9}, {13, 5}};
    for (const Format& f : kFormats) {
        const bool keyAllowed = f.colorType == 0 || f.colorType == 2 || f.colorType == 3;
        for (bool transparency : {false, true}) {
            if (transparency && !keyAllowed) {
                continue;
            }
            for (bool interlaced : {false, true}) {
                for (const auto& size : sizes) {
                    PngSpec spec;
                    spec.colorType = f.colorType;
                    spec.depth = f.depth;
                    spec.interlaced = interlaced;
                    spec.width = size[0];
                    spec.height = size[1];
                    test::randomize(spec, rng, transparency);
                    SCOPED_TRACE(testing::Message()
                                 << "type " << f.colorType << " depth " << f.depth << " size "
                                 << size[0] << "x" << size[1] << " interlaced " << interlaced
                                 << " transparency " << transparency);
                    expectDecodesAsSpec(spec);
                }
            }
        }
    }
}

TEST(Png, EveryFilterOnEveryFilterDistance) {
    std::mt19937 rng(7);
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    // Filter byte distances 1 (sub-byte and 8-bit grey), 2, 3, 4, 6 and 8.
    const Format formats[] = {{0, 2}, {0, 8}, {4, 8}, {2, 8}, {6, 8}, {2, 16}, {6, 16}};
    for (int filter : filters) {
        for (const Format& f : formats) {
            for (bool interlaced : {false, true}) {
                PngSpec spec;
                spec.colorType = f.colorType;
                spec.depth = f.depth;
                spec.interlaced = interlaced;
                spec.width = 37;
                spec.height = 11;
                spec.filters = filter;
                test::randomize(spec, rng, false);
                // Smooth areas make Paeth and Average choose all three predictors.
                for (size_t i = 0; i < spec.samples.size() / 2; ++i) {
                    const uint32_t maxValue = (1u << f.depth) - 1;
                    spec.samples[i] = static_cast<uint16_t>((i * 3 % 50) * maxValue / 49);
                }
                SCOPED_TRACE(testing::Message()
                             << "filter " << filter << " type " << f.colorType << " depth "
                             << f.depth << " interlaced " << interlaced);
                expectDecodesAsSpec(spec);
            }
        }
    }
}

TEST(Png, ManyIdatChunksManyBlocksAndEveryCompressionStrategy) {
    std::mt19937 rng(11);
    struct Case {
        int level, strategy, memLevel;
        size_t idatSize;
    };
    const Case cases[] = {{0, Z_DEFAULT_STRATEGY, 8, 8192}, {1, Z_DEFAULT_STRATEGY, 1, 100},
                          {9, Z_DEFAULT_STRATEGY, 1, 7},    {9, Z_FIXED, 8, 4096},
                          {6, Z_HUFFMAN_ONLY, 2, 977},      {6, Z_RLE, 9, 64}};
    for (const Case& c : cases) {
        PngSpec spec;
        spec.colorType = PNG_COLOR_TYPE_RGBA;
        spec.width = 97;
        spec.height = 61;
        spec.level = c.level;
        spec.strategy = c.strategy;
        spec.memLevel = c.memLevel;
        spec.idatSize = c.idatSize;
        spec.addText = true;
        test::randomize(spec, rng, false);
        for (size_t i = 0; i < spec.samples.size(); i += 3) {
            spec.samples[i] = static_cast<uint16_t>(i / 1000); // some redundancy to match
        }
        SCOPED_TRACE(testing::Message() << "level " << c.level << " strategy " << c.strategy
                                        << " idat " << c.idatSize);
        expectDecodesAsSpec(spec);
        if (c.idatSize < 1000) {
            size_t idats = 0;
            for (const Chunk& chunk : test::splitChunks(test::writePng(spec))) {
                idats += chunk.type == "IDAT";
            }
            EXPECT_GT(idats, 10u);
        }
    }
}

TEST(Png, RgbaEightBitIsReturnedByteForByte) {
    std::mt19937 rng(5);
    PngSpec spec;
    spec.width = 29;
    spec.height = 23;
    test::randomize(spec, rng, false);
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    std::vector<uint8_t> raw(spec.samples.begin(), spec.samples.end());
    EXPECT_TRUE(image.pixels == raw);
}

TEST(Png, SixteenBitRgbKeyComparesAllSixteenBits) {
    PngSpec spec;
    spec.colorType = PNG_COLOR_TYPE_RGB;
    spec.depth = 16;
    spec.width = 4;
    spec.height = 1;
    spec.hasKey = true;
    spec.key[0] = 0x1234;
    spec.key[1] = 0x5678;
    spec.key[2] = 0x9abc;
    spec.samples = {0x1234, 0x5678, 0x9abc,  // the key
                    0x1235, 0x5678, 0x9abc,  // low byte of red differs
                    0x1234, 0x5678, 0x9abd,  // low byte of blue differs
                    0x1234, 0x5600, 0x9abc}; // low byte of green differs
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    const std::vector<uint8_t> expected = {0x12, 0x56, 0x9a, 0,   0x12, 0x56, 0x9a, 255,
                                           0x12, 0x56, 0x9a, 255, 0x12, 0x56, 0x9a, 255};
    EXPECT_EQ(image.pixels, expected);
}

TEST(Png, TwoBitGreyKeyOfOneMakesValue85Transparent) {
    PngSpec spec;
    spec.colorType = PNG_COLOR_TYPE_GRAY;
    spec.depth = 2;
    spec.width = 5;
    spec.height = 1;
    spec.hasKey = true;
    spec.key[0] = 1;
    spec.samples = {0, 1, 2, 3, 1};
    PngImage image;
    ASSERT_EQ(decode(test::writePng(spec), image), 0);
    const std::vector<uint8_t> expected = {0,   0,   0,   255, 85,  85,  85, 0,  170, 170,
                                           170, 255, 255, 255, 255, 255, 85, 85, 85,  0};
    EXPECT_EQ(image.pixels, expected);
}

TEST(Png, Adam7DecodesLikeTheSameImageNotInterlaced) {
    std::mt19937 rng(3);
    for (const Format& f : kFormats) {
        for (uint32_t size : {1u, 2u, 5u, 9u, 17u}) {
            PngSpec spec;
            spec.colorType = f.colorType;
            spec.depth = f.depth;
            spec.width = size;
            spec.height = size + 3;
            test::randomize(spec, rng, f.colorType == 3);
            PngImage plain;
            PngImage interlaced;
            ASSERT_EQ(decode(test::writePng(spec), plain), 0);
            spec.interlaced = true;
            ASSERT_EQ(decode(test::writePng(spec), interlaced), 0);
            EXPECT_TRUE(plain.pixels == interlaced.pixels)
                << "type " << f.colorType << " depth " << f.depth << " size " << size;
        }
    }
}

// A small valid file to break in various ways.
std::vector<uint8_t> sampleFile(int colorType = PNG_COLOR_TYPE_RGB, int depth = 8) {
    std::mt19937 rng(1);
    PngSpec spec;
    spec.colorType = colorType;
    spec.depth = depth;
    spec.width = 6;
    spec.height = 5;
    test::randomize(spec, rng, false);
    return test::writePng(spec);
}

std::vector<uint8_t> withIhdrByte(size_t offset, uint8_t value) {
    auto chunks = test::splitChunks(sampleFile());
    chunks[0].data[offset] = value;
    return test::joinChunks(chunks);
}

TEST(Png, CorruptedCrcsAreIgnored) {
    auto file = sampleFile();
    PngImage good;
    ASSERT_EQ(decode(file, good), 0);
    // Flip the last CRC byte of every chunk.
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const size_t length = test::be32(&file[pos]);
        file[pos + 11 + length] ^= 0x5a;
        pos += 12 + length;
    }
    PngImage image;
    ASSERT_EQ(decode(file, image), 0);
    EXPECT_EQ(image.pixels, good.pixels);
}

TEST(Png, SignatureAndHeaderErrors) {
    const auto file = sampleFile();
    PngImage empty;
    EXPECT_EQ(decodePng(nullptr, 0, empty), 48);
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 28}), 27);
    auto badSignature = file;
    badSignature[1] = 'Q';
    EXPECT_EQ(decodeError(badSignature), 28);
    auto notIhdr = test::splitChunks(file);
    notIhdr[0].type = "IHDX";
    EXPECT_EQ(decodeError(test::joinChunks(notIhdr)), 29);

    EXPECT_EQ(decodeError(withIhdrByte(9, 1)), 31);
    EXPECT_EQ(decodeError(withIhdrByte(9, 7)), 31);
    EXPECT_EQ(decodeError(withIhdrByte(10, 1)), 32);
    EXPECT_EQ(decodeError(withIhdrByte(11, 1)), 33);
    EXPECT_EQ(decodeError(withIhdrByte(12, 2)), 34);
    const uint8_t badDepths[][2] = {{0, 3}, {0, 32}, {2, 4}, {3, 16}, {4, 1}, {6, 2}, {2, 0}};
    for (const auto& d : badDepths) {
        auto chunks = test::splitChunks(file);
        chunks[0].data[8] = d[1];
        chunks[0].data[9] = d[0];
        EXPECT_EQ(decodeError(test::joinChunks(chunks)), 37) << int{d[0]} << "/" << int{d[1]};
    }
}

TEST(Png, SizeBoundsAndHeaderLength) {
    auto sized = [](uint32_t width, uint32_t height) {
        auto chunks = test::splitChunks(sampleFile());
        std::vector<uint8_t> wh;
        test::putBe32(wh, width);
        test::putBe32(wh, height);
        std::copy(wh.begin(), wh.end(), chunks[0].data.begin());
        return test::joinChunks(chunks);
    };
    EXPECT_EQ(decodeError(sized(0, 5)), 91);
    EXPECT_EQ(decodeError(sized(6, 0)), 91);
    EXPECT_EQ(decodeError(sized(0xffffffffu, 0xffffffffu)), 90);
    EXPECT_EQ(decodeError(sized(1u << 14, (1u << 14) + 1)), 90);
    // At the bound the header is accepted; the small data then is too short for it.
    EXPECT_EQ(decodeError(sized(1u << 14, 1u << 14)), 97);
    EXPECT_EQ(decodeError(sized(1u << 28, 1)), 97);

    auto chunks = test::splitChunks(sampleFile());
    chunks[0].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(chunks)), 92);
}

TEST(Png, ChunkStructureErrors) {
    const auto file = sampleFile();
    auto chunks = test::splitChunks(file);
    ASSERT_EQ(chunks.back().type, "IEND");

    auto noEnd = chunks;
    noEnd.pop_back();
    EXPECT_EQ(decodeError(test::joinChunks(noEnd)), 30);
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 29}), 30); // IHDR without its CRC
    EXPECT_EQ(decodeError({file.begin(), file.begin() + 33}), 30); // IHDR alone
    EXPECT_EQ(decodeError({file.begin(), file.end() - 6}), 30);    // IEND header cut short
    EXPECT_EQ(decodeError({file.begin(), file.end() - 1}), 35);    // IEND's CRC cut short

    auto critical = chunks;
    critical.insert(critical.begin() + 1, Chunk{"ZZZZ", {1, 2, 3}});
    EXPECT_EQ(decodeError(test::joinChunks(critical)), 69);
    auto ancillary = chunks;
    ancillary.insert(ancillary.begin() + 1, Chunk{"zZZZ", {1, 2, 3}});
    PngImage image;
    EXPECT_EQ(decode(test::joinChunks(ancillary), image), 0);

    auto longChunk = test::joinChunks(chunks);
    longChunk[33] = 0x80; // first chunk after IHDR claims 2^31 + its length
    EXPECT_EQ(decodeError(longChunk), 63);
    longChunk[33] = 0x7f;
    EXPECT_EQ(decodeError(longChunk), 35);
}

TEST(Png, PaletteAndTransparencyChunkErrors) {
    auto palette = test::splitChunks(sampleFile(PNG_COLOR_TYPE_PALETTE, 8));
    ASSERT_EQ(palette[1].type, "PLTE");
    auto big = palette;
    big[1].data.assign(257 * 3, 0);
    EXPECT_EQ(decodeError(test::joinChunks(big)), 38);
    auto ragged = palette;
    ragged[1].data.push_back(0);
    EXPECT_EQ(decodeError(test::joinChunks(ragged)), 93);
    auto tooManyAlphas = palette;
    tooManyAlphas.insert(tooManyAlphas.begin() + 2,
                         Chunk{"tRNS", std::vector<uint8_t>(palette[1].data.size() / 3 + 1, 0)});
    EXPECT_EQ(decodeError(test::joinChunks(tooManyAlphas)), 39);
    auto alphaBeforePalette = palette;
    alphaBeforePalette.insert(alphaBeforePalette.begin() + 1, Chunk{"tRNS", {0}});
    EXPECT_EQ(decodeError(test::joinChunks(alphaBeforePalette)), 39);

    auto withTrns = [](int colorType, size_t length) {
        auto chunks = test::splitChunks(sampleFile(colorType, 8));
        chunks.insert(chunks.begin() + 1, Chunk{"tRNS", std::vector<uint8_t>(length, 0)});
        return test::joinChunks(chunks);
    };
    EXPECT_EQ(decodeError(withTrns(PNG_COLOR_TYPE_GRAY, 1)), 40);
    EXPECT_EQ(decodeError(withTrns(PNG_COLOR_TYPE_GRAY, 6)), 40);
    EXPECT_EQ(decodeError(withTrns(PNG_COLOR_TYPE_RGB, 2)), 41);
    EXPECT_EQ(decodeError(withTrns(PNG_COLOR_TYPE_GRAY_ALPHA, 2)), 42);
    EXPECT_EQ(decodeError(withTrns(PNG_COLOR_TYPE_RGBA, 6)), 42);
}

// Builds a palette image whose indices all fit the 2^depth range but not the palette.
std::vector<uint8_t> paletteImageBeyondPalette(int depth, bool interlaced) {
    PngSpec spec;
    spec.colorType = PNG_COLOR_TYPE_PALETTE;
    spec.depth = depth;
    spec.interlaced = interlaced;
    spec.width = 7;
    spec.height = 7;
    spec.palette.assign(2 * 3, 9);
    spec.samples.assign(49, 1);
    spec.samples[48] = 2; // the last pixel, which comes last in Adam7 too
    return test::writePng(spec);
}

TEST(Png, PaletteIndexBeyondThePalette) {
    for (bool interlaced : {false, true}) {
        EXPECT_EQ(decodeError(paletteImageBeyondPalette(8, interlaced)), 46);
        for (int depth : {2, 4}) {
            EXPECT_EQ(decodeError(paletteImageBeyondPalette(depth, interlaced)), 47);
        }
    }
    auto noPalette = test::splitChunks(sampleFile(PNG_COLOR_TYPE_PALETTE, 1));
    noPalette.erase(noPalette.begin() + 1);
    EXPECT_EQ(decodeError(test::joinChunks(noPalette)), 47);
}

// A file whose IDAT holds the given (already filtered) scanlines, compressed by zlib.
std::vector<uint8_t> withScanlines(const std::vector<uint8_t>& scanlines, int level = 9) {
    auto chunks = test::splitChunks(sampleFile(PNG_COLOR_TYPE_GRAY, 8)); // 6 x 5 grey
    std::vector<Chunk> out = {chunks[0], Chunk{"IDAT", test::zlibCompress(scanlines, level)},
                              chunks.back()};
    return test::joinChunks(out);
}

TEST(Png, ImageDataErrors) {
    std::vector<uint8_t> scanlines(5 * 7, 0);
    PngImage image;
    EXPECT_EQ(decode(withScanlines(scanlines), image), 0);
    scanlines[3 * 7] = 5;
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 36);
    scanlines[3 * 7] = 4;
    EXPECT_EQ(decode(withScanlines(scanlines), image), 0);

    scanlines.pop_back();
    EXPECT_EQ(decodeError(withScanlines(scanlines)), 97);
    scanlines.push_back(0);
    scanlines.push_back(0);
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
        PngSpec spec;
        spec.colorType = f.colorType;
        spec.depth = f.depth;
        spec.width = 9;
        spec.height = 6;
        spec.interlaced = rng() % 2 == 0;
        test::randomize(spec, rng, f.colorType == 3);
        const auto file = test::writePng(spec);
        PngImage image;
        for (size_t cut = 0; cut < file.size(); cut += 3) {
            std::vector<uint8_t> copy(file.begin(), file.begin() + cut);
            EXPECT_NE(decodePng(copy.data(), copy.size(), image), 0);
        }
        for (int i = 0; i < 200; ++i) {
            auto copy = file;
            copy[rng() % copy.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            const int32_t error = decodePng(copy.data(), copy.size(), image);
            EXPECT_EQ(image.pixels.size(), error == 0 ? size_t{image.width} * image.height * 4 : 0);
        }
    }
}

} // namespace
} // namespace lumo
