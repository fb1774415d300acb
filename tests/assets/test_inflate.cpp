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

int32_t inflateBytes(const std::vector<uint8_t>& z, std::vector<uint8_t>& out) {
    return inflateZlib(z.data(), z.size(), out);
}

// The error code of a stream; a failure leaves no output behind.
int32_t inflateError(const std::vector<uint8_t>& z) {
    std::vector<uint8_t> out;
    const int32_t error = inflateBytes(z, out);
    EXPECT_TRUE(error == 0 || out.empty());
    return error;
}

std::string inflated(const std::vector<uint8_t>& z) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateBytes(z, out), 0);
    return std::string(out.begin(), out.end());
}

void expectRoundTrip(const std::vector<uint8_t>& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                     int memLevel = 8) {
    std::vector<uint8_t> out;
    ASSERT_EQ(inflateBytes(test::zlibCompress(data, level, strategy, memLevel), out), 0);
    EXPECT_TRUE(out == data) << "size " << data.size() << " level " << level << " strategy "
                             << strategy << " memLevel " << memLevel;
}

TEST(Inflate, MatchesZlibAtEveryLevelAndStrategy) {
    uint32_t seed = 1;
    for (size_t size : {0, 1, 65535, 65536, 300000}) {
        for (bool repetitive : {false, true}) {
            const auto data = sampleBytes(size, seed++, repetitive);
            for (int level : {0, 1, 9}) {
                expectRoundTrip(data, level);
            }
        }
    }
    // Fixed and Huffman-only blocks, runs, and many small blocks (memory level 1).
    const auto data = sampleBytes(200000, 99);
    for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_DEFAULT_STRATEGY}) {
        expectRoundTrip(data, 9, strategy, 1);
    }
}

TEST(Inflate, ZlibHeaderErrors) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateZlib(nullptr, 0, out), 53);
    EXPECT_EQ(inflateError({0x78, 0x00, 0x03, 0x00}), 24);
    // Valid header checks, each followed by an empty final fixed block.
    EXPECT_EQ(inflateError({0x77, 0x09, 0x03, 0x00}), 25); // method 7
    EXPECT_EQ(inflateError({0x78, 0x20, 0x03, 0x00}), 26); // preset dictionary
    EXPECT_EQ(inflateError({0x78, 0x01, 0x03, 0x00}), 0);
}

TEST(Inflate, BlockHeaderAndStoredBlocks) {
    BitWriter notFinal;
    notFinal.block(false, 1);
    notFinal.fixed({256});
    EXPECT_EQ(inflateError(notFinal.bytes), 52); // data ends before the next block
    BitWriter reserved;
    reserved.block(true, 3);
    EXPECT_EQ(inflateError(reserved.bytes), 20);

    const std::vector<uint8_t> stored = {0x78, 0x01, 0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b', 'c'};
    EXPECT_EQ(inflated(stored), "abc");
    auto badComplement = stored;
    badComplement[5] = 0xfd;
    EXPECT_EQ(inflateError(badComplement), 21);
    EXPECT_EQ(inflateError({stored.begin(), stored.end() - 1}), 23);

    // A stored block after a Huffman block starts at the next byte.
    BitWriter w;
    w.block(false, 1);
    w.fixed({'x', 256});
    w.block(true, 0);
    w.used = 8;
    w.bytes.insert(w.bytes.end(), {0x02, 0x00, 0xfd, 0xff, 'y', 'z'});
    EXPECT_EQ(inflated(w.bytes), "xyz");
}

TEST(Inflate, FixedHuffmanDataErrors) {
    // A final fixed-code block holding symbols, then extra raw codes of (value, length).
    auto fixedBlock = [](std::initializer_list<unsigned> symbols,
                         std::initializer_list<std::pair<uint32_t, unsigned>> codes = {},
                         std::initializer_list<unsigned> after = {}) {
        BitWriter w;
        w.block(true, 1);
        w.fixed(symbols);
        for (auto [value, length] : codes) {
            w.code(value, length);
        }
        w.fixed(after);
        return w.bytes;
    };
    EXPECT_EQ(inflateError(fixedBlock({}, {{0x30 >> 3, 5}})), 10);   // 5 of a literal's 8 bits
    EXPECT_EQ(inflateError(fixedBlock({'a', 257}, {{30, 5}})), 18);  // distance symbol 30
    EXPECT_EQ(inflateError(fixedBlock({286})), 95);                  // length symbol 286
    EXPECT_EQ(inflateError(fixedBlock({257}, {{0, 5}}, {256})), 94); // a match before any output
    // 3 + 9 + 8 bits leave 4 bits in the byte for 5 extra bits.
    EXPECT_EQ(inflateError(fixedBlock({144, 284})), 51);
    // A match of 258 at distance 1 rebuilds a run exactly.
    EXPECT_EQ(inflated(fixedBlock({'q', 285}, {{0, 5}}, {256})), std::string(259, 'q'));
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

TEST(Inflate, DynamicBlockWithHandMadeCodes) {
    // 'a' = 00, end of block = 01, 257 (length 3) = 10, 258 (length 4) = 11; one distance code.
    BitWriter w = dynamicBlock({{'a', 2}, {256, 2}, {257, 2}, {258, 2}}, 259, 1);
    w.code(0, 2);
    w.code(3, 2);
    w.code(0, 1); // distance 1
    w.code(1, 2);
    EXPECT_EQ(inflated(w.bytes), "aaaaa");
}

TEST(Inflate, DynamicHeaderErrors) {
    {
        BitWriter w; // ends inside the code-length code lengths
        w.block(true, 2);
        w.bits(0, 14 + 3 * 2);
        w.bytes.pop_back();
        EXPECT_EQ(inflateError(w.bytes), 49);
    }
    // The header, then code-length symbols (with their extra bits).
    auto lengthsOf = [](std::vector<std::pair<unsigned, unsigned>> symbols) {
        BitWriter w;
        w.dynamic(true, 257, 1, {});
        for (auto [symbol, extraBits] : symbols) {
            w.code(symbol, 5);
            w.bits(0, extraBits);
        }
        return w;
    };
    // Repeat count cut off: one bit is left after the 16.
    BitWriter cut =
        lengthsOf({{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 0}, {16, 0}});
    ASSERT_EQ(cut.used, 7u);
    EXPECT_EQ(inflateError(cut.bytes), 50);
    // The smallest repeat (3 or 11) still runs past the 258 lengths.
    for (auto [symbol, extraBits, error] :
         {std::tuple{16u, 2u, 13}, {17u, 3u, 14}, {18u, 7u, 15}}) {
        std::vector<std::pair<unsigned, unsigned>> symbols(257, {1, 0});
        symbols.push_back({symbol, extraBits});
        EXPECT_EQ(inflateError(lengthsOf(symbols).bytes), error) << symbol;
    }
    EXPECT_EQ(inflateError(lengthsOf({{16, 2}}).bytes), 96); // nothing to repeat

    BitWriter over = dynamicBlock({{'a', 1}, {'b', 1}, {256, 1}}, 257, 1); // three of length 1
    BitWriter noEnd = dynamicBlock({{'a', 1}, {'b', 1}}, 257, 1);          // no end of block
    for (BitWriter* w : {&over, &noEnd}) {
        w->bits(0, 8);
    }
    EXPECT_EQ(inflateError(over.bytes), 55);
    EXPECT_EQ(inflateError(noEnd.bytes), 64);
}

TEST(Inflate, IncompleteCodesTellBadCodesFromTruncation) {
    // Literal code: 'a' = 0, end of block = 10, and 11 leads nowhere.
    BitWriter bad = dynamicBlock({{'a', 1}, {256, 2}});
    bad.code(0, 1);
    bad.code(3, 2);
    bad.code(2, 2);
    EXPECT_EQ(inflateError(bad.bytes), 11);
    // "1" then the data ends: could still have been end of block.
    BitWriter truncated = dynamicBlock({{'a', 1}, {256, 2}});
    while (truncated.used != 7) {
        truncated.code(0, 1);
    }
    truncated.code(1, 1);
    EXPECT_EQ(inflateError(truncated.bytes), 10);
}

TEST(Inflate, TruncatedStreamsFailAndNeverSucceedShort) {
    const auto data = sampleBytes(20000, 3);
    for (int level : {0, 1, 9}) {
        const auto z = test::zlibCompress(data, level);
        // Drop the Adler-32 and the final block's last bytes one at a time.
        for (size_t cut = 5; cut < 40; ++cut) {
            EXPECT_NE(inflateError({z.begin(), z.end() - cut}), 0) << level << " " << cut;
        }
        std::vector<uint8_t> out; // the checksum itself is not needed
        EXPECT_EQ(inflateBytes({z.begin(), z.end() - 4}, out), 0);
        EXPECT_TRUE(out == data);
    }
}

} // namespace
} // namespace lumo
