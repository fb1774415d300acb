#include "assets/inflate.h"
#include "assets/deflate_tables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// Design notes.
//
// Bits are read through a 64-bit buffer refilled eight bytes at a time, so one refill covers a
// whole length/distance pair (at most 15 + 5 + 15 + 13 = 48 bits) and the hot loop makes no
// per-bit calls. Past the end of the input the buffer is topped up with zero bytes whose count
// is kept in `padBits`; every consumption checks that it did not eat into them, which is how
// "the data ends inside ..." errors are told apart from corrupt codes.
//
// Huffman codes are decoded with a two-level table: the next `primaryBits` bits index the
// primary table; codes longer than that go through a subtable named by the primary entry. An
// entry holds the symbol and the code length, so a lookup consumes exactly the code's bits.
// Incomplete codes leave entries that lead to no symbol; those entries record how many bits it
// takes to see that, so a stream that ends before then reports the end of data
// (EndInsideCode), and one that does not reports the bad code (InvalidCode).

namespace lumo {
namespace {

using namespace deflate_tables;

// Internal to the block decoder: the block goes on. Never returned by inflateZlib.
constexpr PngError kMore = static_cast<PngError>(-1);

constexpr unsigned kMaxCodeBits = 15;
// Primary table widths: most literal/length codes of real data fit in the first lookup.
constexpr unsigned kLiteralPrimaryBits = 10;
constexpr unsigned kDistancePrimaryBits = 8;
constexpr unsigned kMaxPrimaryBits = 11;

// Table entry layout: bits 0-15 symbol (or subtable offset), bits 16-23 bit count (code length,
// subtable index width, or for invalid entries the bits needed to see the code is invalid).
constexpr uint32_t kSubtable = 1u << 24;
constexpr uint32_t kInvalid = 1u << 25;

// The lowest `count` bits of code in reverse order (count <= 16).
unsigned reverseBits(unsigned code, unsigned count) {
    unsigned x = code & 0xffff;
    x = ((x & 0x5555) << 1) | ((x >> 1) & 0x5555);
    x = ((x & 0x3333) << 2) | ((x >> 2) & 0x3333);
    x = ((x & 0x0f0f) << 4) | ((x >> 4) & 0x0f0f);
    x = ((x & 0x00ff) << 8) | ((x >> 8) & 0x00ff);
    return x >> (16 - count);
}

class HuffmanTable {
public:
    // Builds the decoding table from per-symbol code lengths (0 = unused). Returns None or
    // Oversubscribed.
    PngError build(const uint8_t* lengths, unsigned symbolCount, unsigned primaryBits);

    uint32_t lookup(uint64_t bits) const { return view().lookup(bits); }

    // The table as plain values, for hot loops: output stores through uint8_t pointers may
    // alias anything, so members would be reloaded after every byte written.
    struct View {
        const uint32_t* entries;
        unsigned primaryBits;
        uint32_t primaryMask;
        uint32_t lookup(uint64_t bits) const {
            uint32_t entry = entries[bits & primaryMask];
            if (entry & kSubtable) [[unlikely]] {
                const unsigned subBits = (entry >> 16) & 0xff;
                entry = entries[(entry & 0xffff) + ((bits >> primaryBits) & ((1u << subBits) - 1))];
            }
            return entry;
        }
    };
    View view() const { return {entries_.data(), primaryBits_, primaryMask_}; }

private:
    std::vector<uint32_t> entries_;
    unsigned primaryBits_ = 0;
    uint32_t primaryMask_ = 0;
};

PngError HuffmanTable::build(const uint8_t* lengths, unsigned symbolCount, unsigned primaryBits) {
    primaryBits_ = primaryBits;
    primaryMask_ = (1u << primaryBits) - 1;

    std::array<unsigned, kMaxCodeBits + 1> counts{};
    for (unsigned s = 0; s < symbolCount; ++s) {
        ++counts[lengths[s]];
    }
    counts[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = (left << 1) - static_cast<int>(counts[len]);
        if (left < 0) {
            return PngError::Oversubscribed;
        }
    }
    std::array<unsigned, kMaxCodeBits + 1> firstCode{};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + counts[len - 1]) << 1;
        firstCode[len] = code;
    }

    // Subtable widths: for every primary prefix, the longest code behind it decides.
    std::array<uint8_t, 1u << kMaxPrimaryBits> subBits{};
    std::array<uint16_t, 1u << kMaxPrimaryBits> subOffset{};
    std::array<unsigned, kMaxCodeBits + 1> next = firstCode;
    for (unsigned s = 0; s < symbolCount; ++s) {
        const unsigned len = lengths[s];
        if (len > primaryBits) {
            const unsigned prefix = reverseBits(next[len]++, len) & primaryMask_;
            subBits[prefix] =
                std::max<uint8_t>(subBits[prefix], static_cast<uint8_t>(len - primaryBits));
        }
    }
    unsigned size = 1u << primaryBits;
    for (unsigned p = 0; p < (1u << primaryBits); ++p) {
        if (subBits[p] != 0) {
            subOffset[p] = static_cast<uint16_t>(size);
            size += 1u << subBits[p];
        }
    }
    entries_.assign(size, kInvalid);
    for (unsigned p = 0; p < (1u << primaryBits); ++p) {
        if (subBits[p] != 0) {
            entries_[p] = kSubtable | (uint32_t{subBits[p]} << 16) | subOffset[p];
        }
    }

    next = firstCode;
    for (unsigned s = 0; s < symbolCount; ++s) {
        const unsigned len = lengths[s];
        if (len == 0) {
            continue;
        }
        const unsigned reversed = reverseBits(next[len]++, len);
        const uint32_t entry = s | (len << 16);
        if (len <= primaryBits) {
            for (unsigned i = reversed; i < (1u << primaryBits); i += 1u << len) {
                entries_[i] = entry;
            }
        } else {
            const unsigned prefix = reversed & primaryMask_;
            const unsigned width = subBits[prefix];
            for (unsigned j = reversed >> primaryBits; j < (1u << width);
                 j += 1u << (len - primaryBits)) {
                entries_[subOffset[prefix] + j] = entry;
            }
        }
    }

    if (left > 0) {
        // Incomplete code. Canonical codes, left-aligned to 15 bits, fill [0, used) without
        // gaps, so a prefix of length L leads nowhere exactly when it starts at or past `used`.
        uint32_t used = 0;
        for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
            used += counts[len] << (kMaxCodeBits - len);
        }
        auto markInvalid = [&](uint32_t& entry, unsigned index, unsigned width) {
            const unsigned msbFirst = reverseBits(index, width);
            for (unsigned len = 1; len <= width; ++len) {
                if (((msbFirst >> (width - len)) << (kMaxCodeBits - len)) >= used) {
                    entry = kInvalid | (len << 16);
                    return;
                }
            }
        };
        for (unsigned p = 0; p < (1u << primaryBits); ++p) {
            if (entries_[p] == kInvalid) {
                markInvalid(entries_[p], p, primaryBits);
            } else if (subBits[p] != 0) {
                for (unsigned j = 0; j < (1u << subBits[p]); ++j) {
                    if (entries_[subOffset[p] + j] == kInvalid) {
                        markInvalid(entries_[subOffset[p] + j], p | (j << primaryBits),
                                    primaryBits + subBits[p]);
                    }
                }
            }
        }
    }
    return PngError::None;
}

// The fixed-code tables never change, so they are built once for the whole process.
struct FixedTables {
    HuffmanTable literal;
    HuffmanTable distance;
    FixedTables() {
        std::array<uint8_t, 288> lengths{};
        std::fill(lengths.begin(), lengths.begin() + 144, uint8_t{8});
        std::fill(lengths.begin() + 144, lengths.begin() + 256, uint8_t{9});
        std::fill(lengths.begin() + 256, lengths.begin() + 280, uint8_t{7});
        std::fill(lengths.begin() + 280, lengths.end(), uint8_t{8});
        literal.build(lengths.data(), 288, 9);
        // All 32 five-bit codes exist, so 30 and 31 decode and are then refused as distances.
        std::array<uint8_t, 32> distanceLengths;
        distanceLengths.fill(5);
        distance.build(distanceLengths.data(), 32, 5);
    }
};

const FixedTables& fixedTables() {
    static const FixedTables tables;
    return tables;
}

class Inflater {
public:
    Inflater(const uint8_t* data, size_t size, std::vector<uint8_t>& out, size_t maxOutput)
        : data_(data), size_(size), out_(out), maxOutput_(maxOutput) {}

    PngError run();

private:
    // Room past the logical end of the output so that match copies may write 8 bytes at a time.
    static constexpr size_t kSlack = 16;

    void refill() {
        if (size_ - pos_ >= 8) {
            uint64_t word;
            std::memcpy(&word, data_ + pos_, 8);
            if constexpr (std::endian::native == std::endian::big) {
                word = __builtin_bswap64(word);
            }
            bits_ |= word << bitCount_;
            pos_ += (63 - bitCount_) >> 3;
            bitCount_ |= 56;
        } else {
            while (bitCount_ <= 56) {
                if (pos_ < size_) {
                    bits_ |= uint64_t{data_[pos_++]} << bitCount_;
                } else {
                    padBits_ += 8;
                }
                bitCount_ += 8;
            }
        }
    }
    unsigned realBits() const { return bitCount_ - padBits_; }
    void consume(unsigned count) {
        bits_ >>= count;
        bitCount_ -= count;
    }
    // Reads `count` (<= 32) bits after a refill; false when the data ends first.
    bool read(unsigned count, uint32_t& value) {
        refill();
        if (count > realBits()) {
            return false;
        }
        value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1));
        consume(count);
        return true;
    }
    // Decodes one symbol; None or the error.
    PngError decodeSymbol(const HuffmanTable& table, unsigned& symbol) {
        refill();
        const uint32_t entry = table.lookup(bits_);
        const unsigned count = (entry >> 16) & 0xff;
        if (count > realBits()) {
            return PngError::EndInsideCode;
        }
        if (entry & kInvalid) {
            return PngError::InvalidCode;
        }
        consume(count);
        symbol = entry & 0xffff;
        return PngError::None;
    }
    // Makes room for `count` more output bytes; None or DataSize.
    PngError reserve(size_t count) {
        if (count <= capacity_ - outPos_) {
            return PngError::None;
        }
        if (count > maxOutput_ - outPos_) {
            return PngError::DataSize;
        }
        size_t grown = std::max(outPos_ + count, capacity_ + capacity_ / 2 + 4096);
        capacity_ = std::min(grown, maxOutput_);
        out_.resize(capacity_ + kSlack);
        return PngError::None;
    }

    PngError storedBlock();
    PngError dynamicTables();
    PngError huffmanBlock(const HuffmanTable& literal, const HuffmanTable& distance);
    PngError fastSymbols(const HuffmanTable& literal, const HuffmanTable& distance);
    PngError carefulSymbol(const HuffmanTable& literal, const HuffmanTable& distance);

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t bits_ = 0;
    unsigned bitCount_ = 0;
    unsigned padBits_ = 0;

    std::vector<uint8_t>& out_;
    size_t maxOutput_;
    size_t outPos_ = 0;
    size_t capacity_ = 0;

    HuffmanTable literal_;
    HuffmanTable distance_;
    HuffmanTable codeLengths_;
};

PngError Inflater::run() {
    if (size_ < 2) {
        return PngError::ZlibTooShort;
    }
    const unsigned cmf = data_[0];
    const unsigned flg = data_[1];
    if ((cmf * 256 + flg) % 31 != 0) {
        return PngError::ZlibHeaderCheck;
    }
    if ((cmf & 15) != 8 || (cmf >> 4) > 7) {
        return PngError::ZlibMethod;
    }
    if (flg & 32) {
        return PngError::ZlibDictionary;
    }
    pos_ = 2;

    // DEFLATE expands at most about 1032:1, so a limit far above that is never reached and need
    // not be allocated up front.
    const size_t bound = size_ > (std::numeric_limits<size_t>::max() - 4096) / 1040
                             ? std::numeric_limits<size_t>::max()
                             : size_ * 1040 + 4096;
    capacity_ = std::min({maxOutput_, bound, size_t{1} << 26});
    if (maxOutput_ > bound) {
        capacity_ = std::min<size_t>(capacity_, std::max<size_t>(size_ * 4, 4096));
    }
    out_.clear();
    out_.resize(capacity_ + kSlack);

    PngError error = PngError::None;
    bool final = false;
    while (!final && error == PngError::None) {
        uint32_t header;
        if (!read(3, header)) {
            return PngError::EndBeforeBlock;
        }
        final = (header & 1) != 0;
        switch (header >> 1) {
        case 0:
            error = storedBlock();
            break;
        case 1:
            error = huffmanBlock(fixedTables().literal, fixedTables().distance);
            break;
        case 2:
            error = dynamicTables();
            if (error == PngError::None) {
                error = huffmanBlock(literal_, distance_);
            }
            break;
        default:
            return PngError::ReservedBlockType;
        }
    }
    out_.resize(outPos_);
    return error;
}

PngError Inflater::storedBlock() {
    consume(bitCount_ & 7); // the rest of the current byte
    uint32_t length;
    uint32_t complement;
    if (!read(16, length) || !read(16, complement)) {
        return PngError::EndBeforeBlock;
    }
    if (length != (~complement & 0xffff)) {
        return PngError::StoredLengthComplement;
    }
    // Hand the bytes already pulled into the bit buffer back to the input.
    pos_ -= realBits() / 8;
    bits_ = 0;
    bitCount_ = 0;
    padBits_ = 0;
    if (length > size_ - pos_) {
        return PngError::StoredPastEnd;
    }
    if (PngError error = reserve(length); error != PngError::None) {
        return error;
    }
    std::memcpy(out_.data() + outPos_, data_ + pos_, length);
    outPos_ += length;
    pos_ += length;
    return PngError::None;
}

PngError Inflater::dynamicTables() {
    uint32_t literalCount;
    uint32_t distanceCount;
    uint32_t codeLengthCount;
    if (!read(5, literalCount) || !read(5, distanceCount) || !read(4, codeLengthCount)) {
        return PngError::EndBeforeDynamicHeader;
    }
    literalCount += 257;
    distanceCount += 1;
    codeLengthCount += 4;

    std::array<uint8_t, 19> codeLengthLengths{};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        uint32_t length;
        if (!read(3, length)) {
            return PngError::EndBeforeDynamicHeader;
        }
        codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    if (PngError error = codeLengths_.build(codeLengthLengths.data(), 19, 7);
        error != PngError::None) {
        return error;
    }

    // Literal/length and distance code lengths form one sequence; repeats may cross between them.
    std::array<uint8_t, 288 + 32> lengths{};
    const unsigned total = literalCount + distanceCount;
    unsigned i = 0;
    while (i < total) {
        unsigned symbol;
        if (PngError error = decodeSymbol(codeLengths_, symbol); error != PngError::None) {
            return error;
        }
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        PngError pastEnd;
        if (symbol == 16) {
            if (i == 0) {
                return PngError::RepeatWithoutPrevious;
            }
            if (!read(2, repeat)) {
                return PngError::EndInRepeatCount;
            }
            repeat += 3;
            value = lengths[i - 1];
            pastEnd = PngError::Repeat16PastEnd;
        } else if (symbol == 17) {
            if (!read(3, repeat)) {
                return PngError::EndInRepeatCount;
            }
            repeat += 3;
            pastEnd = PngError::Repeat17PastEnd;
        } else if (symbol == 18) {
            if (!read(7, repeat)) {
                return PngError::EndInRepeatCount;
            }
            repeat += 11;
            pastEnd = PngError::Repeat18PastEnd;
        } else {
            return PngError::CodeLengthSymbol; // the 19-symbol alphabet cannot produce this
        }
        if (repeat > total - i) {
            return pastEnd;
        }
        std::fill_n(lengths.begin() + i, repeat, value);
        i += repeat;
    }

    if (lengths[256] == 0) {
        return PngError::NoEndOfBlockCode;
    }
    if (PngError error = literal_.build(lengths.data(), literalCount, kLiteralPrimaryBits);
        error != PngError::None) {
        return error;
    }
    return distance_.build(lengths.data() + literalCount, distanceCount, kDistancePrimaryBits);
}

// Copies a match; `to` has room for length + 15 bytes (the slack covers the overshoot).
inline void copyMatch(uint8_t* to, size_t back, size_t length) {
    const uint8_t* from = to - back;
    if (back >= 16) {
        // Each 16-byte source chunk lies wholly before its destination; the last chunk may
        // spill into bytes that later output overwrites.
        for (size_t i = 0; i < length; i += 16) {
            std::memcpy(to + i, from + i, 16);
        }
    } else if (back >= 8) {
        for (size_t i = 0; i < length; i += 8) {
            std::memcpy(to + i, from + i, 8);
        }
    } else if (back == 1) {
        std::memset(to, *from, length);
    } else {
        for (size_t i = 0; i < length; ++i) {
            to[i] = from[i];
        }
    }
}

PngError Inflater::huffmanBlock(const HuffmanTable& literal, const HuffmanTable& distance) {
    for (;;) {
        PngError result = fastSymbols(literal, distance);
        if (result == kMore) {
            result = carefulSymbol(literal, distance);
        }
        if (result != kMore) {
            return result;
        }
    }
}

// The hot loop. It runs while at least 16 input bytes and 260 output bytes remain, so every
// refill is a whole 8-byte load (no padding: no end-of-data checks) and no output check is
// needed for up to two literals or one literal and a match per iteration.
PngError Inflater::fastSymbols(const HuffmanTable& literalTable,
                               const HuffmanTable& distanceTable) {
    const HuffmanTable::View literal = literalTable.view();
    const HuffmanTable::View distance = distanceTable.view();
    const uint8_t* const data = data_;
    const size_t size = size_;
    const size_t capacity = capacity_;
    uint64_t bits = bits_;
    unsigned bitCount = bitCount_;
    size_t pos = pos_;
    uint8_t* const out = out_.data();
    size_t outPos = outPos_;
    PngError result = kMore;
    auto refill = [&] {
        uint64_t word;
        std::memcpy(&word, data + pos, 8);
        if constexpr (std::endian::native == std::endian::big) {
            word = __builtin_bswap64(word);
        }
        bits |= word << bitCount;
        pos += (63 - bitCount) >> 3;
        bitCount |= 56;
    };
    auto consume = [&](unsigned count) {
        bits >>= count;
        bitCount -= count;
    };
    while (size - pos >= 16 && capacity - outPos >= 260) {
        refill();
        uint32_t entry = literal.lookup(bits);
        if (entry & kInvalid) {
            result = PngError::InvalidCode;
            break;
        }
        consume((entry >> 16) & 0xff);
        unsigned symbol = entry & 0xffff;
        if (symbol < 256) {
            out[outPos++] = static_cast<uint8_t>(symbol);
            // At least 41 bits are left, enough for a second code.
            entry = literal.lookup(bits);
            if (entry & kInvalid) {
                result = PngError::InvalidCode;
                break;
            }
            consume((entry >> 16) & 0xff);
            symbol = entry & 0xffff;
            if (symbol < 256) {
                out[outPos++] = static_cast<uint8_t>(symbol);
                continue;
            }
            refill(); // a length and distance need up to 33 more bits
        }
        if (symbol == 256) {
            result = PngError::None;
            break;
        }
        if (symbol > 285) {
            result = PngError::LengthSymbol;
            break;
        }
        unsigned extra = kLengthExtra[symbol - 257];
        const size_t length = kLengthBase[symbol - 257] + (bits & ((1u << extra) - 1));
        consume(extra);
        entry = distance.lookup(bits);
        if (entry & kInvalid) {
            result = PngError::InvalidCode;
            break;
        }
        consume((entry >> 16) & 0xff);
        const unsigned distanceSymbol = entry & 0xffff;
        if (distanceSymbol > 29) {
            result = PngError::DistanceSymbol;
            break;
        }
        extra = kDistanceExtra[distanceSymbol];
        const size_t back = kDistanceBase[distanceSymbol] + (bits & ((1u << extra) - 1));
        consume(extra);
        if (back > outPos) {
            result = PngError::DistanceTooFar;
            break;
        }
        copyMatch(out + outPos, back, length);
        outPos += length;
    }
    bits_ = bits;
    bitCount_ = bitCount;
    pos_ = pos;
    outPos_ = outPos;
    return result;
}

// One literal or match with every end-of-data and output check, for the tails of the input and
// the output that the hot loop leaves.
PngError Inflater::carefulSymbol(const HuffmanTable& literal, const HuffmanTable& distance) {
    refill();
    uint32_t entry = literal.lookup(bits_);
    unsigned count = (entry >> 16) & 0xff;
    if (count > realBits()) {
        return PngError::EndInsideCode;
    }
    if (entry & kInvalid) {
        return PngError::InvalidCode;
    }
    consume(count);
    const unsigned symbol = entry & 0xffff;
    if (symbol < 256) {
        if (PngError error = reserve(1); error != PngError::None) {
            return error;
        }
        out_[outPos_++] = static_cast<uint8_t>(symbol);
        return kMore;
    }
    if (symbol == 256) {
        return PngError::None;
    }
    if (symbol > 285) {
        return PngError::LengthSymbol;
    }
    unsigned extra = kLengthExtra[symbol - 257];
    if (extra > realBits()) {
        return PngError::EndInExtraBits;
    }
    const size_t length = kLengthBase[symbol - 257] + (bits_ & ((1u << extra) - 1));
    consume(extra);

    // The refill above left at least 56 bits; 15 + 5 have gone, 15 + 13 more are enough.
    entry = distance.lookup(bits_);
    count = (entry >> 16) & 0xff;
    if (count > realBits()) {
        return PngError::EndInsideCode;
    }
    if (entry & kInvalid) {
        return PngError::InvalidCode;
    }
    consume(count);
    const unsigned distanceSymbol = entry & 0xffff;
    if (distanceSymbol > 29) {
        return PngError::DistanceSymbol;
    }
    extra = kDistanceExtra[distanceSymbol];
    if (extra > realBits()) {
        return PngError::EndInExtraBits;
    }
    const size_t back = kDistanceBase[distanceSymbol] + (bits_ & ((1u << extra) - 1));
    consume(extra);
    if (back > outPos_) {
        return PngError::DistanceTooFar;
    }
    if (PngError error = reserve(length); error != PngError::None) {
        return error;
    }
    copyMatch(out_.data() + outPos_, back, length);
    outPos_ += length;
    return kMore;
}

} // namespace

PngError inflateZlib(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                     size_t maxOutput) {
    Inflater inflater(data, size, out, maxOutput);
    const PngError error = inflater.run();
    if (error != PngError::None) {
        out.clear();
    }
    return error;
}

} // namespace lumo
