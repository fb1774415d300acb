#include "assets/inflate.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <random>

namespace lumo {
namespace {

// Writes DEFLATE bit streams by hand after a valid zlib header: values least significant bit
// first, Huffman codes most significant bit first, as the format packs them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 8; // bits used in the last byte

    BitWriter() { bytes.assign(2, 0x78), bytes[1] = 0x01; }

    BitWriter& bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << used++);
        }
        return *this;
    }
    BitWriter& code(uint32_t value, unsigned length) {
        for (unsigned i = length; i-- > 0;) {
            bits((value >> i) & 1u, 1);
        }
        return *this;
    }
    // A block header: final flag and type (0 stored, 1 fixed, 2 dynamic).
    BitWriter& block(bool final, unsigned type) { return bits(final ? 1 : 0, 1).bits(type, 2); }
    // A fixed-code literal/length symbol.
    BitWriter& fixed(unsigned s) {
        return s < 144   ? code(0x30 + s, 8)
               : s < 256 ? code(0x190 + s - 144, 9)
               : s < 280 ? code(s - 256, 7)
                         : code(0xc0 + s - 280, 8);
    }
    // A final dynamic block header, then the given code-length symbols, sent through a
    // code-length code in which all 19 symbols have 5-bit codes (symbol s is code s).
    BitWriter& dynamic(unsigned literalCount, const std::vector<uint8_t>& symbols) {
        block(true, 2).bits(literalCount - 257, 5).bits(0, 5).bits(15, 4); // one distance code
        for (int i = 0; i < 19; ++i) {
            bits(5, 3);
        }
        for (uint8_t s : symbols) {
            code(s, 5);
        }
        return *this;
    }
};

// A final dynamic block header whose literal code holds only the given symbols, with one
// distance code of the given length.
BitWriter dynamicBlock(std::initializer_list<std::pair<unsigned, uint8_t>> lengths,
                       unsigned literalCount = 257, uint8_t distance = 0) {
    std::vector<uint8_t> all(literalCount + 1, 0);
    for (auto [symbol, length] : lengths) {
        all[symbol] = length;
    }
    all.back() = distance;
    return BitWriter().dynamic(literalCount, all);
}

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

// The error and output of the first size bytes of a stream (all of it by default), copied so
// that a sanitizer sees any read past them; a failure leaves no output behind.
std::pair<PngError, std::string> inflated(const std::vector<uint8_t>& z, size_t size = SIZE_MAX) {
    const std::vector<uint8_t> bytes(z.begin(), z.begin() + std::min(size, z.size()));
    std::vector<uint8_t> out(1, 0);
    const PngError error = inflateZlib(bytes.data(), bytes.size(), out);
    EXPECT_TRUE(error == PngError::None || out.empty());
    return {error, std::string(out.begin(), out.end())};
}

// Every level and strategy of zlib, with and without the checksum (which is not needed); every
// block type cut anywhere before the checksum.
TEST(Inflate, MatchesZlibAndEveryTruncationFails) {
    auto roundTrip = [](const std::vector<uint8_t>& data, int level, int strategy, int memLevel) {
        const auto z = test::zlibCompress(data, level, strategy, memLevel);
        const auto expected = std::pair(PngError::None, std::string(data.begin(), data.end()));
        for (size_t size : {z.size(), z.size() - 4}) {
            EXPECT_TRUE(inflated(z, size) == expected)
                << "size " << data.size() << " level " << level << " strategy " << strategy
                << " memLevel " << memLevel;
        }
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
    // Dynamic, fixed and stored blocks, cut.
    for (auto [level, strategy] : {std::pair{1, Z_DEFAULT_STRATEGY},
                                   {9, Z_DEFAULT_STRATEGY},
                                   {9, Z_FIXED},
                                   {0, Z_DEFAULT_STRATEGY}}) {
        const auto z = test::zlibCompress(sampleBytes(20000, 3), level, strategy);
        for (size_t cut = 0; cut + 5 <= z.size(); ++cut) {
            EXPECT_NE(inflated(z, cut).first, PngError::None) << level << " " << cut;
        }
    }
}

// What zlib never writes: a stored block right after a Huffman block (it starts at the next
// byte), and a dynamic block with a single distance code ('a' = 00, end of block = 01, 257
// (length 3) = 10, 258 (length 4) = 11).
TEST(Inflate, HandMadeStreams) {
    BitWriter stored = BitWriter().block(false, 1).fixed('x').fixed(256).block(true, 0);
    stored.bytes.insert(stored.bytes.end(), {0x02, 0x00, 0xfd, 0xff, 'y', 'z'});
    // 'a', then 258 (length 4) with the distance code (distance 1), then end of block.
    BitWriter oneDistance = dynamicBlock({{'a', 2}, {256, 2}, {257, 2}, {258, 2}}, 259, 1);
    oneDistance.code(0, 2).code(3, 2).code(0, 1).code(1, 2);
    EXPECT_EQ(inflated(stored.bytes), std::pair(PngError::None, std::string("xyz")));
    EXPECT_EQ(inflated(oneDistance.bytes), std::pair(PngError::None, std::string("aaaaa")));
}

TEST(Inflate, EachKindOfMalformedStreamHasItsError) {
    EXPECT_EQ(inflated({}).first, PngError::ZlibTooShort);
    // 257 literal lengths, then the smallest run of zeros (18) still passes the 258 lengths.
    std::vector<uint8_t> overrun(257, 1);
    overrun.push_back(18);
    // Literal code 'a' = 0, end of block = 10: 11 leads nowhere, while a lone 1 at the end
    // of the data could still have been end of block.
    BitWriter badCode = dynamicBlock({{'a', 1}, {256, 2}}), cutCode = badCode;
    badCode.code(0b01110, 5); // a, 11, then 10
    while (cutCode.used != 7) {
        cutCode.code(0, 1);
    }
    const std::pair<std::vector<uint8_t>, PngError> cases[] = {
        {{0x78, 0x00, 0x03, 0x00}, PngError::ZlibHeaderCheck},
        {{0x77, 0x09, 0x03, 0x00}, PngError::ZlibMethod},     // method 7
        {{0x78, 0x20, 0x03, 0x00}, PngError::ZlibDictionary}, // preset dictionary
        {BitWriter().block(true, 3).bytes, PngError::ReservedBlockType},
        {{0x78, 0x01, 0x01, 0x03, 0x00, 0xfd, 0xff, 'a', 'b', 'c'},
         PngError::StoredLengthComplement},
        {BitWriter().block(true, 1).fixed(286).bytes, PngError::LengthSymbol},
        // A match before any output.
        {BitWriter().block(true, 1).fixed(257).code(0, 5).fixed(256).bytes,
         PngError::DistanceTooFar},
        {BitWriter().dynamic(257, {16}).bits(0, 2).bytes, PngError::RepeatWithoutPrevious},
        {BitWriter().dynamic(257, overrun).bits(0, 7).bytes, PngError::Repeat18PastEnd},
        // Three codes of length 1.
        {dynamicBlock({{'a', 1}, {'b', 1}, {256, 1}}, 257, 1).bits(0, 8).bytes,
         PngError::Oversubscribed},
        {badCode.bytes, PngError::InvalidCode},
        {cutCode.code(1, 1).bytes, PngError::EndInsideCode},
    };
    for (const auto& [z, error] : cases) {
        EXPECT_EQ(inflated(z).first, error);
    }
}

} // namespace
} // namespace lumo
