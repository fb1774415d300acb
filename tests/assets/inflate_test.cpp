#include "assets/inflate.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace lumo {
namespace {

using test::BitWriter;

// Random bytes, or text-like data with runs and repeats at every distance range, so matches
// of all lengths and distances (including overlapping ones) occur.
std::vector<uint8_t> sampleBytes(size_t size, uint32_t seed, bool repetitive = true) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        const uint32_t kind = repetitive && data.size() >= 4 ? rng() % 4 : 0;
        const size_t back =
            kind < 2 ? 1 : 1 + rng() % std::min<size_t>(data.size(), kind == 2 ? 8 : 32768);
        for (size_t i = kind == 0 ? 1 : 3 + rng() % 300; i > 0; --i) {
            data.push_back(kind == 0 ? static_cast<uint8_t>(repetitive ? 'a' + rng() % 6 : rng())
                                     : data[data.size() - back]);
        }
    }
    data.resize(size);
    return data;
}

// The error of a stream; a failure leaves no output behind.
PngError inflateError(const std::vector<uint8_t>& z) {
    std::vector<uint8_t> out;
    const PngError error = inflateZlib(z.data(), z.size(), out);
    EXPECT_TRUE(error == PngError::None || out.empty());
    return error;
}

std::string inflated(const std::vector<uint8_t>& z) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateZlib(z.data(), z.size(), out), PngError::None);
    return std::string(out.begin(), out.end());
}

TEST(Inflate, MatchesZlibAtEveryLevelAndStrategy) {
    auto roundTrip = [](const std::vector<uint8_t>& data, int level, int strategy, int memLevel) {
        const auto z = test::zlibCompress(data, level, strategy, memLevel);
        std::vector<uint8_t> out;
        ASSERT_EQ(inflateZlib(z.data(), z.size(), out), PngError::None);
        EXPECT_TRUE(out == data) << "size " << data.size() << " level " << level << " strategy "
                                 << strategy << " memLevel " << memLevel;
    };
    uint32_t seed = 1;
    for (size_t size : {0, 1, 65535, 65536, 300000}) {
        for (bool repetitive : {false, true}) {
            const auto data = sampleBytes(size, seed++, repetitive);
            for (int level : {0, 1, 9}) {
                roundTrip(data, level, Z_DEFAULT_STRATEGY, 8);
            }
        }
    }
    // Fixed and Huffman-only blocks, runs, and many small blocks (memory level 1).
    const auto data = sampleBytes(200000, 99);
    for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_DEFAULT_STRATEGY}) {
        roundTrip(data, 9, strategy, 1);
    }
}

TEST(Inflate, StoredBlockAfterAHuffmanBlockStartsAtTheNextByte) {
    BitWriter w;
    w.block(false, 1);
    w.fixed({'x', 256});
    w.block(true, 0);
    w.used = 8;
    w.bytes.insert(w.bytes.end(), {0x02, 0x00, 0xfd, 0xff, 'y', 'z'});
    EXPECT_EQ(inflated(w.bytes), "xyz");
}

// A final dynamic block header whose literal code holds only the given symbols, with one
// distance code of the given length.
BitWriter dynamicBlock(std::initializer_list<std::pair<unsigned, uint8_t>> lengths,
                       unsigned literalCount = 257, uint8_t distance = 0) {
    std::vector<uint8_t> all(literalCount + 1, 0);
    for (auto [symbol, length] : lengths) {
        all[symbol] = length;
    }
    all.back() = distance;
    BitWriter w;
    w.dynamic(true, literalCount, 1, all);
    return w;
}

TEST(Inflate, DynamicBlockWithASingleDistanceCode) {
    // 'a' = 00, end of block = 01, 257 (length 3) = 10, 258 (length 4) = 11; zlib always
    // sends at least two distance codes, so the one-code case is made by hand.
    BitWriter w = dynamicBlock({{'a', 2}, {256, 2}, {257, 2}, {258, 2}}, 259, 1);
    w.code(0, 2);
    w.code(3, 2);
    w.code(0, 1); // distance 1
    w.code(1, 2);
    EXPECT_EQ(inflated(w.bytes), "aaaaa");
}

TEST(Inflate, EachKindOfMalformedStreamHasItsError) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateZlib(nullptr, 0, out), PngError::ZlibTooShort);
    BitWriter reserved, badLength, farBack;
    reserved.block(true, 3);
    badLength.block(true, 1);
    badLength.fixed({286});
    farBack.block(true, 1); // a match before any output
    farBack.fixed({257});
    farBack.code(0, 5);
    farBack.fixed({256});
    // Dynamic headers: code-length symbols (with zero extra bits) after the header.
    auto lengthsOf = [](std::vector<std::pair<unsigned, unsigned>> symbols) {
        BitWriter w;
        w.dynamic(true, 257, 1, {});
        for (auto [symbol, extraBits] : symbols) {
            w.code(symbol, 5);
            w.bits(0, extraBits);
        }
        return w.bytes;
    };
    std::vector<std::pair<unsigned, unsigned>> overrun(257, {1, 0});
    overrun.push_back({18, 7}); // the smallest run of zeros still passes the 258 lengths
    BitWriter over = dynamicBlock({{'a', 1}, {'b', 1}, {256, 1}}, 257, 1); // three of length 1
    over.bits(0, 8);
    // Literal code 'a' = 0, end of block = 10: 11 leads nowhere, while a lone 1 at the end
    // of the data could still have been end of block.
    BitWriter badCode = dynamicBlock({{'a', 1}, {256, 2}}), cutCode = badCode;
    badCode.code(0b01110, 5); // a, 11, then 10
    while (cutCode.used != 7) {
        cutCode.code(0, 1);
    }
    cutCode.code(1, 1);
    const std::vector<uint8_t> badStored = {0x78, 0x01, 0x01, 0x03, 0x00,
                                            0xfd, 0xff, 'a',  'b',  'c'};
    const std::pair<std::vector<uint8_t>, PngError> cases[] = {
        {{0x78, 0x00, 0x03, 0x00}, PngError::ZlibHeaderCheck},
        {{0x77, 0x09, 0x03, 0x00}, PngError::ZlibMethod},     // method 7
        {{0x78, 0x20, 0x03, 0x00}, PngError::ZlibDictionary}, // preset dictionary
        {reserved.bytes, PngError::ReservedBlockType},
        {badStored, PngError::StoredLengthComplement},
        {badLength.bytes, PngError::LengthSymbol},
        {farBack.bytes, PngError::DistanceTooFar},
        {lengthsOf({{16, 2}}), PngError::RepeatWithoutPrevious}, // nothing to repeat
        {lengthsOf(overrun), PngError::Repeat18PastEnd},
        {over.bytes, PngError::Oversubscribed},
        {badCode.bytes, PngError::InvalidCode},
        {cutCode.bytes, PngError::EndInsideCode},
    };
    for (const auto& [z, error] : cases) {
        EXPECT_EQ(inflateError(z), error);
    }
}

TEST(Inflate, EveryTruncationFailsButTheChecksumIsNotNeeded) {
    // Dynamic, fixed and stored blocks.
    const auto data = sampleBytes(20000, 3);
    for (auto [level, strategy] : {std::pair{1, Z_DEFAULT_STRATEGY},
                                   {9, Z_DEFAULT_STRATEGY},
                                   {9, Z_FIXED},
                                   {0, Z_DEFAULT_STRATEGY}}) {
        const auto z = test::zlibCompress(data, level, strategy);
        for (size_t cut = 0; cut + 5 <= z.size(); ++cut) {
            EXPECT_NE(inflateError({z.begin(), z.begin() + cut}), PngError::None)
                << level << " " << cut;
        }
        std::vector<uint8_t> out;
        EXPECT_EQ(inflateZlib(z.data(), z.size() - 4, out), PngError::None);
        EXPECT_TRUE(out == data);
    }
}

} // namespace
} // namespace lumo
