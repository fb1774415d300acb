#include "assets/inflate.h"

#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <random>

namespace lumo {
namespace {

using test::BitWriter;

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(size);
    for (auto& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    return data;
}

// Text-like data with long and short repeats at every distance range, so matches of all
// lengths and distances (including overlapping ones) occur.
std::vector<uint8_t> repetitiveBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        const uint32_t kind = rng() % 4;
        if (kind == 0 || data.size() < 4) {
            data.push_back(static_cast<uint8_t>('a' + rng() % 6));
        } else if (kind == 1) {
            data.insert(data.end(), 1 + rng() % 300, data.back()); // runs: distance 1
        } else {
            const size_t back = 1 + rng() % std::min<size_t>(data.size(), kind == 2 ? 8 : 32768);
            const size_t length = 3 + rng() % 300;
            for (size_t i = 0; i < length; ++i) {
                data.push_back(data[data.size() - back]);
            }
        }
    }
    data.resize(size);
    return data;
}

int32_t inflateBytes(const std::vector<uint8_t>& z, std::vector<uint8_t>& out,
                     size_t limit = std::numeric_limits<size_t>::max()) {
    return inflateZlib(z.data(), z.size(), out, limit);
}

TEST(Inflate, MatchesZlibAtLevels0To9OnRandomAndRepetitiveData) {
    const size_t sizes[] = {0, 1, 100, 65535, 65536, 70000, 300000};
    uint32_t seed = 1;
    for (size_t size : sizes) {
        for (bool repetitive : {false, true}) {
            const auto data = repetitive ? repetitiveBytes(size, seed) : randomBytes(size, seed);
            ++seed;
            for (int level : {0, 1, 9}) {
                SCOPED_TRACE(testing::Message() << "size " << size << " repetitive " << repetitive
                                                << " level " << level);
                std::vector<uint8_t> out;
                ASSERT_EQ(inflateBytes(test::zlibCompress(data, level), out), 0);
                EXPECT_TRUE(out == data);
            }
        }
    }
}

TEST(Inflate, MatchesZlibWithFixedHuffmanRleAndSmallBlocks) {
    const auto data = repetitiveBytes(200000, 99);
    for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_DEFAULT_STRATEGY}) {
        for (int memLevel : {1, 9}) {
            SCOPED_TRACE(testing::Message() << "strategy " << strategy << " memLevel " << memLevel);
            z_stream s{};
            ASSERT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15, memLevel, strategy), Z_OK);
            std::vector<uint8_t> z(deflateBound(&s, data.size()));
            s.next_in = const_cast<Bytef*>(data.data());
            s.avail_in = static_cast<uInt>(data.size());
            s.next_out = z.data();
            s.avail_out = static_cast<uInt>(z.size());
            ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
            z.resize(s.total_out);
            deflateEnd(&s);
            std::vector<uint8_t> out;
            ASSERT_EQ(inflateBytes(z, out), 0);
            EXPECT_TRUE(out == data);
        }
    }
}

TEST(Inflate, OutputLimitIsEnforcedExactly) {
    const auto data = repetitiveBytes(5000, 7);
    for (int level : {0, 9}) {
        const auto z = test::zlibCompress(data, level);
        std::vector<uint8_t> out;
        EXPECT_EQ(inflateBytes(z, out, data.size()), 0);
        EXPECT_EQ(out.size(), data.size());
        EXPECT_EQ(inflateBytes(z, out, data.size() - 1), 97);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Inflate, ZlibHeaderErrors) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateZlib(nullptr, 0, out), 53);
    EXPECT_EQ(inflateBytes({0x78}, out), 53);
    EXPECT_EQ(inflateBytes({0x78, 0x00, 0x03, 0x00}, out), 24);
    auto withCheck = [](uint8_t cmf, uint8_t flagBits) {
        uint8_t flg = flagBits;
        while ((cmf * 256 + flg) % 31 != 0) {
            ++flg;
        }
        return std::vector<uint8_t>{cmf, flg, 0x03, 0x00};
    };
    EXPECT_EQ(inflateBytes(withCheck(0x77, 0), out), 25); // method 7
    EXPECT_EQ(inflateBytes(withCheck(0x88, 0), out), 25); // window field 8
    EXPECT_EQ(inflateBytes(withCheck(0x78, 0x20), out), 26);
    EXPECT_EQ(inflateBytes(withCheck(0x78, 0), out), 0); // the same stream is fine without
}

TEST(Inflate, BlockHeaderAndStoredBlockErrors) {
    std::vector<uint8_t> out;
    EXPECT_EQ(inflateBytes({0x78, 0x01}, out), 52); // no block at all
    BitWriter notFinal;
    notFinal.bits(0, 1);
    notFinal.bits(1, 2);
    notFinal.fixedSymbol(256);
    EXPECT_EQ(inflateBytes(notFinal.bytes, out), 52); // data ends before the next block

    BitWriter reserved;
    reserved.bits(1, 1);
    reserved.bits(3, 2);
    EXPECT_EQ(inflateBytes(reserved.bytes, out), 20);

    const std::vector<uint8_t> stored = {0x78, 0x01, 0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b', 'c'};
    EXPECT_EQ(inflateBytes(stored, out), 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
    auto badComplement = stored;
    badComplement[5] = 0xfd;
    EXPECT_EQ(inflateBytes(badComplement, out), 21);
    EXPECT_EQ(inflateBytes({stored.begin(), stored.end() - 1}, out), 23);
    EXPECT_EQ(inflateBytes({stored.begin(), stored.begin() + 6}, out), 52);
}

TEST(Inflate, StoredBlockAfterHuffmanBlockStartsAtTheNextByte) {
    BitWriter w;
    w.bits(0, 1);
    w.bits(1, 2);
    w.fixedSymbol('x');
    w.fixedSymbol(256);
    w.bits(1, 1);
    w.bits(0, 2); // stored; the rest of this byte is skipped
    w.used = 8;
    for (int b : {0x02, 0x00, 0xfd, 0xff, int{'y'}, int{'z'}}) {
        w.bytes.push_back(static_cast<uint8_t>(b));
    }
    std::vector<uint8_t> out;
    ASSERT_EQ(inflateBytes(w.bytes, out), 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "xyz");
}

TEST(Inflate, HuffmanDataErrors) {
    std::vector<uint8_t> out;
    {
        BitWriter w; // ends after 5 of the 8 bits of a literal's code
        w.bits(1, 1);
        w.bits(1, 2);
        w.code(0x30 >> 3, 5);
        EXPECT_EQ(inflateBytes(w.bytes, out), 10);
    }
    {
        BitWriter w; // distance symbol 30
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol('a');
        w.fixedSymbol(257);
        w.code(30, 5);
        EXPECT_EQ(inflateBytes(w.bytes, out), 18);
    }
    {
        BitWriter w; // length symbol 286
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol(286);
        EXPECT_EQ(inflateBytes(w.bytes, out), 95);
    }
    {
        BitWriter w; // a match before any output
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol(257);
        w.code(0, 5);
        w.fixedSymbol(256);
        EXPECT_EQ(inflateBytes(w.bytes, out), 94);
    }
    {
        BitWriter w; // 3 + 9 + 8 bits leave 4 bits in the byte for 5 extra bits
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol(144);
        w.fixedSymbol(284);
        EXPECT_EQ(inflateBytes(w.bytes, out), 51);
    }
    {
        BitWriter w; // a match of 258 at distance 1 rebuilds a run exactly
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol('q');
        w.fixedSymbol(285);
        w.code(0, 5);
        w.fixedSymbol(256);
        ASSERT_EQ(inflateBytes(w.bytes, out), 0);
        EXPECT_EQ(out, std::vector<uint8_t>(259, 'q'));
    }
}

// A dynamic block: literals 'a' (length 1) and end of block (length 1); one distance code.
std::vector<uint8_t> smallLiteralLengths() {
    std::vector<uint8_t> lengths(257, 0);
    lengths['a'] = 1;
    lengths[256] = 1;
    return lengths;
}

TEST(Inflate, DynamicBlockWithHandMadeCodes) {
    BitWriter w;
    auto literal = smallLiteralLengths();
    literal.push_back(2); // 257: length 3
    literal.push_back(2); // 258: length 4
    literal['a'] = 2;
    literal[256] = 2;
    const std::vector<uint8_t> distance = {1}; // incomplete: one distance code
    w.dynamicHeader(true, literal, distance);
    const auto codes = test::canonicalCodes(literal);
    w.code(codes['a'], 2);
    w.code(codes[258], 2);
    w.code(0, 1); // distance 1
    w.code(codes[256], 2);
    std::vector<uint8_t> out;
    ASSERT_EQ(inflateBytes(w.bytes, out), 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "aaaaa");
}

TEST(Inflate, DynamicHeaderErrors) {
    std::vector<uint8_t> out;
    {
        BitWriter w; // ends inside the code-length code lengths
        w.bits(1, 1);
        w.bits(2, 2);
        w.bits(0, 14);
        w.bits(0, 3 * 2);
        w.bytes.pop_back();
        EXPECT_EQ(inflateBytes(w.bytes, out), 49);
    }
    {
        BitWriter w; // repeat count cut off: one bit is left after the 16
        w.beginDynamic(true, 257, 1);
        for (int i = 0; i < 7; ++i) {
            w.code(0, 5);
        }
        w.code(3, 5);
        w.code(16, 5);
        ASSERT_EQ(w.used, 7u);
        EXPECT_EQ(inflateBytes(w.bytes, out), 50);
    }
    auto repeatPastEnd = [&](unsigned symbol, unsigned extraBits) {
        BitWriter w;
        w.beginDynamic(true, 257, 1);
        for (int i = 0; i < 257; ++i) {
            w.code(1, 5);
        }
        w.code(symbol, 5);
        w.bits(0, extraBits); // the smallest repeat (3 or 11) still runs past 258 lengths
        return inflateBytes(w.bytes, out);
    };
    EXPECT_EQ(repeatPastEnd(16, 2), 13);
    EXPECT_EQ(repeatPastEnd(17, 3), 14);
    EXPECT_EQ(repeatPastEnd(18, 7), 15);
    {
        BitWriter w;
        w.beginDynamic(true, 257, 1);
        w.code(16, 5);
        w.bits(0, 2);
        EXPECT_EQ(inflateBytes(w.bytes, out), 96);
    }
    {
        BitWriter w; // three codes of length 1
        auto literal = smallLiteralLengths();
        literal['b'] = 1;
        w.dynamicHeader(true, literal, {1});
        w.bits(0, 8);
        EXPECT_EQ(inflateBytes(w.bytes, out), 55);
    }
    {
        BitWriter w; // over-subscribed code-length code
        w.bits(1, 1);
        w.bits(2, 2);
        w.bits(0, 5);
        w.bits(0, 5);
        w.bits(15, 4);
        for (int i = 0; i < 19; ++i) {
            w.bits(1, 3);
        }
        w.bits(0, 8);
        EXPECT_EQ(inflateBytes(w.bytes, out), 55);
    }
    {
        BitWriter w; // end of block without a code
        auto literal = smallLiteralLengths();
        literal[256] = 0;
        literal['b'] = 1;
        w.dynamicHeader(true, literal, {1});
        w.bits(0, 8);
        EXPECT_EQ(inflateBytes(w.bytes, out), 64);
    }
}

TEST(Inflate, IncompleteCodesTellBadCodesFromTruncation) {
    std::vector<uint8_t> out;
    // Literal code: 'a' = 0, end of block = 10, and 11 leads nowhere.
    std::vector<uint8_t> literal(257, 0);
    literal['a'] = 1;
    literal[256] = 2;
    {
        BitWriter w;
        w.dynamicHeader(true, literal, {0});
        w.code(0, 1);
        w.code(3, 2);
        w.code(2, 2);
        EXPECT_EQ(inflateBytes(w.bytes, out), 11);
    }
    {
        BitWriter w; // no distance codes at all: a match can only be a bad code
        auto withLength = literal;
        withLength.push_back(2);
        withLength[256] = 3;
        withLength.push_back(3);
        w.dynamicHeader(true, withLength, {0});
        const auto codes = test::canonicalCodes(withLength);
        w.code(codes['a'], 1);
        w.code(codes[257], 2);
        w.bits(0, 8);
        EXPECT_EQ(inflateBytes(w.bytes, out), 11);
    }
    {
        BitWriter w; // "1" then the data ends: could still have been end of block
        w.dynamicHeader(true, literal, {0});
        while (w.used != 7) {
            w.code(0, 1);
        }
        w.code(1, 1);
        EXPECT_EQ(inflateBytes(w.bytes, out), 10);
    }
}

TEST(Inflate, TruncatedStreamsFailAndNeverSucceedShort) {
    const auto data = repetitiveBytes(20000, 3);
    for (int level : {0, 1, 9}) {
        const auto z = test::zlibCompress(data, level);
        // Drop the Adler-32 and the final block's last bytes one at a time.
        for (size_t cut = 5; cut < 40; ++cut) {
            std::vector<uint8_t> out;
            const std::vector<uint8_t> shorter(z.begin(), z.end() - cut);
            const int32_t error = inflateBytes(shorter, out);
            EXPECT_NE(error, 0) << "level " << level << " cut " << cut;
        }
        std::vector<uint8_t> out; // the checksum itself is not needed
        EXPECT_EQ(inflateBytes({z.begin(), z.end() - 4}, out), 0);
        EXPECT_TRUE(out == data);
    }
}

} // namespace
} // namespace lumo
