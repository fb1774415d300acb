#include "assets/png.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <random>

namespace lumo {
namespace {

using test::PngPlan;

// The error of a file; a failure leaves no image behind.
PngError decodeError(const std::vector<uint8_t>& file) {
    PngImage image;
    const PngError error = decodePng(file.data(), file.size(), image);
    EXPECT_TRUE(error == PngError::None || (image.pixels.empty() && image.width == 0));
    return error;
}

// Every format, filter, interlace mode and transparency; stored and compressed data split
// into IDAT chunks of many sizes; truncated files.
TEST(Png, EveryFormatAndFilterMatchesTheOracleAndEveryCutFails) {
    // Half the files have every CRC wrong: they are not checked.
    auto expectDecodes = [](const PngPlan& plan, bool badCrcs = false) {
        PngImage image;
        auto file = test::writePng(plan);
        file = badCrcs ? test::joinChunks(test::splitChunks(file), true) : file;
        ASSERT_EQ(decodePng(file.data(), file.size(), image), PngError::None);
        EXPECT_EQ(std::pair(image.width, image.height), std::pair(plan.width, plan.height));
        EXPECT_TRUE(image.pixels == test::expectedRgba(plan));
    };
    std::mt19937 rng(2024);
    const uint32_t sizes[][2] = {{1, 1}, {3, 7}, {33, 17}, {8, 1}, {1, 9}, {13, 5}, {37, 11}};
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    int n = 0;
    const std::pair<int, int> formats[] = {{0, 1}, {0, 2},  {0, 4},  {0, 8}, {0, 16},
                                           {2, 8}, {2, 16}, {3, 1},  {3, 2}, {3, 4},
                                           {3, 8}, {4, 8},  {4, 16}, {6, 8}, {6, 16}};
    for (auto [colorType, depth] : formats) {
        const bool keyAllowed = colorType == 0 || colorType == 2 || colorType == 3;
        for (int variant = 0; variant < (keyAllowed ? 4 : 2); ++variant) {
            for (const auto& size : sizes) {
                PngPlan plan = test::randomPng(colorType, depth, size[0], size[1], variant & 1, rng,
                                               variant & 2);
                plan.filters = filters[n % 6];
                plan.level = n % 3 == 0 ? 0 : 9;
                plan.idatSize = n % 2 == 0 ? 8192 : 7 + n % 50;
                ++n;
                // Smooth areas make Paeth and Average choose all three predictors.
                for (size_t i = 0; colorType != 3 && i < plan.samples.size() / 2; ++i) {
                    plan.samples[i] =
                        static_cast<uint16_t>((i * 3 % 50) * ((1u << depth) - 1) / 49);
                }
                SCOPED_TRACE(testing::Message() << "case " << n);
                expectDecodes(plan, n % 4 < 2);
                // Every eighth file cut anywhere fails, copied so that a sanitizer sees any read
                // past the cut.
                const auto file = test::writePng(plan);
                for (size_t cut = 0; n % 8 == 0 && cut < file.size(); ++cut) {
                    EXPECT_NE(decodeError({file.begin(), file.begin() + cut}), PngError::None);
                }
            }
        }
    }
    // A 16-bit key compares all sixteen bits: pixels differing from it only in the low byte
    // of red, green or blue stay opaque.
    expectDecodes({.width = 4,
                   .colorType = PNG_COLOR_TYPE_RGB,
                   .depth = 16,
                   .samples = {0x1234, 0x5678, 0x9abc, 0x1235, 0x5678, 0x9abc, 0x1234, 0x5600,
                               0x9abc, 0x1234, 0x5678, 0x9abd},
                   .hasKey = true,
                   .key = {0x1234, 0x5678, 0x9abc}});
}

TEST(Png, EachKindOfBrokenFileHasItsError) {
    // A small valid 6 x 5 file of a colour type and depth after edit(chunks).
    auto edited = [](int colorType, int depth, auto edit) {
        std::mt19937 rng(1);
        auto chunks =
            test::splitChunks(test::writePng(test::randomPng(colorType, depth, 6, 5, false, rng)));
        edit(chunks);
        return test::joinChunks(chunks);
    };
    // IHDR bytes from offset (width 0, height 4, depth 8, type 9) replaced.
    auto ihdr = [&](size_t offset, std::vector<uint8_t> bytes) {
        return edited(2, 8,
                      [&](auto& c) { std::copy(bytes.begin(), bytes.end(), &c[0].data[offset]); });
    };
    auto withChunk = [&](int colorType, const test::Chunk& chunk) {
        return edited(colorType, 8, [&](auto& c) { c.insert(c.begin() + 1, chunk); });
    };
    // A grey file whose IDAT holds size bytes of 7-byte scanlines, row 3 with the given filter.
    auto scanlines = [&](size_t size, uint8_t filter, uint8_t zlibHeader = 0x78) {
        std::vector<uint8_t> raw(size, 0);
        raw[3 * 7] = filter;
        auto z = test::zlibCompress(raw, 9);
        z[0] = zlibHeader;
        return edited(0, 8, [&](auto& c) { c = {c[0], {"IDAT", z}, c.back()}; });
    };
    // Indices that fit the 2^depth range but not the two-entry palette, at the last pixel,
    // which comes last in Adam7 too.
    auto beyondPalette = [](int depth, bool interlaced) {
        std::mt19937 rng(1);
        PngPlan plan = test::randomPng(3, depth, 7, 7, interlaced, rng);
        plan.palette.resize(6);
        std::fill(plan.samples.begin(), plan.samples.end(), 1);
        plan.samples[48] = 2;
        return test::writePng(plan);
    };
    auto signature = edited(2, 8, [](auto&) {}), longChunk = signature;
    signature[1] = 'Q';
    longChunk[33] = 0x80; // the first chunk after IHDR claims 2^31 + its length
    const std::pair<std::vector<uint8_t>, PngError> cases[] = {
        {signature, PngError::Signature},
        {edited(2, 8, [](auto& c) { c[0].type = "IHDX"; }), PngError::FirstChunkNotHeader},
        {ihdr(9, {7}), PngError::ColorType},
        {ihdr(8, {16, 3}), PngError::BitDepth}, // a depth valid for other colour types
        // Size bounds; at the bound the header is accepted and the small data is too short.
        {ihdr(0, {0, 0, 0, 0, 0, 0, 0, 5}), PngError::ZeroSize},
        {ihdr(0, {0, 0, 0x40, 0, 0, 0, 0x40, 1}), PngError::TooLarge},
        {ihdr(0, {0, 0, 0x40, 0, 0, 0, 0x40, 0}), PngError::DataSize},
        {withChunk(2, {"ZZZZ", {1, 2, 3}}), PngError::UnknownCriticalChunk},
        {withChunk(2, {"zZZZ", {1, 2, 3}}), PngError::None}, // unknown and ancillary
        {longChunk, PngError::ChunkTooLong},
        {edited(3, 8, [](auto& c) { c[1].data.assign(257 * 3, 0); }), PngError::PaletteTooLong},
        {withChunk(3, {"tRNS", {0}}), PngError::TransparencyTooLong}, // before the palette
        {withChunk(2, {"tRNS", {0, 0}}), PngError::ColorKeyLength},
        {withChunk(6, {"tRNS", std::vector<uint8_t>(6)}), PngError::TransparencyWithAlpha},
        {beyondPalette(8, true), PngError::PaletteIndexByte},
        {beyondPalette(2, false), PngError::PaletteIndexPacked},
        // No palette at all.
        {edited(3, 1, [](auto& c) { c.erase(c.begin() + 1); }), PngError::PaletteIndexPacked},
        {scanlines(35, 5), PngError::FilterType},
        {scanlines(34, 4), PngError::DataSize},
        {scanlines(36, 4), PngError::DataSize},
        // Errors of the zlib stream reach the caller unchanged.
        {scanlines(35, 4, 0x79), PngError::ZlibHeaderCheck},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(decodeError(cases[i].first), cases[i].second) << "case " << i;
    }
}

} // namespace
} // namespace lumo
