#include "assets/deflate.h"
#include "assets/deflate_tables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// Design notes.
//
// The whole input is in memory, so the matchers index it directly: a hash of the next four
// bytes names the latest earlier position with that hash (and, from level 2, a chain through
// older ones). Table entries are never cleared inside a segment; a stale or colliding entry
// costs one comparison, because every candidate is checked byte by byte before it is used.
//
// Matches and literals are collected as 32-bit symbols, with their frequencies, until a block
// is full. The block is then written with whichever of dynamic codes, the fixed codes or stored
// bytes is smallest; all three costs are known exactly from the frequencies before a bit is
// written. Dynamic code lengths come from a Huffman tree, shortened to the format's limits by
// moving leaves up the tree in a way that keeps the code complete.
//
// Bits go out least significant first through a 64-bit accumulator that is stored eight bytes
// at a time and advanced by the whole bytes it held; a match (at most 48 bits) fits between two
// such stores, so the hot loop has no per-bit work.

namespace lumo {
namespace {

using namespace deflate_tables;

constexpr uint32_t kWindow = 32768;
constexpr unsigned kMinMatch = 4; // what the hash covers
constexpr unsigned kMaxMatch = 258;
constexpr size_t kMaxStored = 65535;
constexpr unsigned kHashBits = 15;
constexpr unsigned kLiteralSymbols = 286; // bytes, end of block, 29 length codes
constexpr unsigned kDistanceSymbols = 30;
constexpr unsigned kCodeLengthSymbols = 19;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxCodeLengthBits = 7;
// Symbols per block: enough that a dynamic header (some 60 to 100 bytes) is a small share,
// few enough that the codes follow the picture as it changes.
constexpr size_t kBlockSymbols = size_t{1} << 15;
// Level 1 hashes only the last few positions a match covers: enough that a following repeat is
// still found, while most of the bytes a match covers cost nothing.
constexpr unsigned kInsertTail = 4;
// Positions are 32-bit offsets into a segment; matches never reach into an earlier segment.
constexpr size_t kSegmentBytes = size_t{1} << 30;

// A symbol: bits 0-8 pick the literal/length entry (a byte value, or 256 + length - 3), bits
// 9-24 hold the distance and bits 25-29 its code. A literal has distance 0 and the code
// kNoDistance, whose code and extra bits are empty, so both kinds are written the same way,
// without a branch that the mix of literals and matches would make hard to predict.
constexpr unsigned kNoDistance = kDistanceSymbols;
constexpr unsigned kDistanceShift = 9;
constexpr unsigned kDistanceCodeShift = 25;

struct LevelParams {
    unsigned chain; // hash chain entries tried per position
    bool lazy;      // defer a match by a byte when the next position matches longer
    unsigned nice;  // a match this long ends the search
};
constexpr std::array<LevelParams, 10> kLevels = {{{0, false, 0},
                                                  {1, false, kMaxMatch},
                                                  {4, false, 32},
                                                  {16, false, 128},
                                                  {16, true, 64},
                                                  {32, true, 128},
                                                  {64, true, 128},
                                                  {128, true, kMaxMatch},
                                                  {512, true, kMaxMatch},
                                                  {4096, true, kMaxMatch}}};

// The length code (0 for symbol 257 ... 28 for 285) of every match length minus 3. 258 has a
// code of its own although code 284 with all extra bits set would spell it too.
constexpr std::array<uint8_t, 256> kLengthCode = [] {
    std::array<uint8_t, 256> codes{};
    for (unsigned c = 0; c < 29; ++c) {
        for (unsigned l = kLengthBase[c]; l < kLengthBase[c] + (1u << kLengthExtra[c]); ++l) {
            if (l <= kMaxMatch) {
                codes[l - 3] = static_cast<uint8_t>(c);
            }
        }
    }
    return codes;
}();

// Distance codes pair up by bit width: above 4, the top bit's position and the bit below it.
unsigned distanceCode(uint32_t distance) {
    const uint32_t x = distance - 1;
    if (x < 4) {
        return x;
    }
    const unsigned top = static_cast<unsigned>(std::bit_width(x)) - 1;
    return 2 * top + ((x >> (top - 1)) & 1);
}

unsigned reverseBits(unsigned code, unsigned count) {
    unsigned x = code;
    x = ((x & 0x5555) << 1) | ((x >> 1) & 0x5555);
    x = ((x & 0x3333) << 2) | ((x >> 2) & 0x3333);
    x = ((x & 0x0f0f) << 4) | ((x >> 4) & 0x0f0f);
    x = ((x & 0x00ff) << 8) | ((x >> 8) & 0x00ff);
    return x >> (16 - count);
}

// Little-endian loads on any host: matchLength counts the equal bytes from the low end, and the
// hash, so the output, stays the same everywhere.
uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap64(v);
    }
    return v;
}

uint32_t hash4(uint32_t v) {
    return (v * 2654435761u) >> (32 - kHashBits);
}

// How many of the first `limit` bytes of a and b agree.
unsigned matchLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
    unsigned n = 0;
    while (n + 8 <= limit) {
        const uint64_t diff = load64(a + n) ^ load64(b + n);
        if (diff != 0) {
            return n + static_cast<unsigned>(std::countr_zero(diff)) / 8;
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) {
        ++n;
    }
    return n;
}

// Code lengths of at most maxBits for the symbols with a nonzero frequency. The code is always
// complete: when fewer than two symbols occur, two get a one-bit code, which every inflater
// takes (a code of one symbol is not complete, and some refuse it).
void buildLengths(const uint32_t* freq, unsigned count, unsigned maxBits, uint8_t* lengths) {
    std::array<uint16_t, kLiteralSymbols> order;
    unsigned used = 0;
    for (unsigned s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (freq[s] != 0) {
            order[used++] = static_cast<uint16_t>(s);
        }
    }
    if (used < 2) {
        const unsigned first = used == 1 ? order[0] : 0;
        lengths[first] = 1;
        lengths[first == 0 ? 1 : 0] = 1;
        return;
    }
    // Rarest first; equal frequencies in symbol order, so the result is the same everywhere.
    std::stable_sort(order.begin(), order.begin() + used,
                     [freq](uint16_t a, uint16_t b) { return freq[a] < freq[b]; });

    // Huffman's tree from two queues: the sorted leaves, and the inner nodes in the order they
    // are made (which is also by weight). Nodes 0 .. used-1 are leaves, the rest inner nodes.
    std::array<uint64_t, 2 * kLiteralSymbols> weight;
    std::array<uint16_t, 2 * kLiteralSymbols> parent;
    for (unsigned i = 0; i < used; ++i) {
        weight[i] = freq[order[i]];
    }
    unsigned nextLeaf = 0, nextInner = used, innerEnd = used;
    auto lightest = [&] {
        if (nextLeaf < used && (nextInner == innerEnd || weight[nextLeaf] <= weight[nextInner])) {
            return nextLeaf++;
        }
        return nextInner++;
    };
    while (innerEnd < 2 * used - 1) {
        const unsigned a = lightest();
        const unsigned b = lightest();
        weight[innerEnd] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint16_t>(innerEnd);
        ++innerEnd;
    }
    // Depths from the root down (a parent is always made after its children); weight[] is
    // reused for them.
    std::array<unsigned, 2 * kLiteralSymbols> leavesAt{};
    const unsigned root = innerEnd - 1;
    weight[root] = 0;
    unsigned deepest = 0;
    for (unsigned n = root; n-- > 0;) {
        weight[n] = weight[parent[n]] + 1;
        if (n < used) {
            ++leavesAt[weight[n]];
            deepest = std::max(deepest, static_cast<unsigned>(weight[n]));
        }
    }
    // Too deep: take two sibling leaves from the bottom; their parent becomes a leaf, and the
    // other leaf hangs, with a leaf from at least two levels up, below that leaf's old place.
    // The leaf count and the Kraft sum stay the same, so the code stays complete.
    for (unsigned depth = deepest; depth > maxBits; --depth) {
        while (leavesAt[depth] > 0) {
            unsigned upper = depth - 2;
            while (leavesAt[upper] == 0) {
                --upper;
            }
            leavesAt[depth] -= 2;
            leavesAt[depth - 1] += 1;
            leavesAt[upper + 1] += 2;
            leavesAt[upper] -= 1;
        }
    }
    // The longest codes to the rarest symbols.
    unsigned next = 0;
    for (unsigned depth = std::min(deepest, maxBits); depth >= 1; --depth) {
        for (unsigned k = 0; k < leavesAt[depth]; ++k) {
            lengths[order[next++]] = static_cast<uint8_t>(depth);
        }
    }
}

// Canonical codes for the lengths, bit-reversed because Huffman codes are sent first bit first
// while everything else goes least significant bit first.
void buildCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
    std::array<unsigned, kMaxCodeBits + 2> perLength{};
    for (unsigned s = 0; s < count; ++s) {
        ++perLength[lengths[s]];
    }
    perLength[0] = 0;
    std::array<unsigned, kMaxCodeBits + 2> next{};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < count; ++s) {
        codes[s] =
            lengths[s] ? static_cast<uint16_t>(reverseBits(next[lengths[s]]++, lengths[s])) : 0;
    }
}

struct FixedCodes {
    std::array<uint8_t, 288> literalLengths{};
    std::array<uint16_t, 288> literalCodes{};
    std::array<uint8_t, kDistanceSymbols> distanceLengths{};
    std::array<uint16_t, kDistanceSymbols> distanceCodes{};
    FixedCodes() {
        for (unsigned s = 0; s < 288; ++s) {
            literalLengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        }
        distanceLengths.fill(5);
        buildCodes(literalLengths.data(), 288, literalCodes.data());
        buildCodes(distanceLengths.data(), kDistanceSymbols, distanceCodes.data());
    }
};
const FixedCodes kFixed;

// Whole bytes at data[used], the bits still pending (fewer than eight after a flush) in `bits`.
// A plain value, so that a hot loop can work on a copy held in registers: as far as the compiler
// knows, a store through the byte pointer could change any member of an object it can reach.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out)
        : out_(&out), data_(out.data()), used_(out.size()) {}

    // Room for `bytes` more bytes, plus the eight that every store writes.
    void reserve(size_t bytes) {
        const size_t need = used_ + bytes + 16;
        if (out_->size() < need) {
            out_->resize(std::max(need, out_->size() + out_->size() / 2));
            data_ = out_->data();
        }
    }
    // At most 56 bits between two flushes.
    void put(uint64_t value, unsigned count) {
        bits_ |= value << count_;
        count_ += count;
    }
    void flush() {
        uint64_t word = bits_;
        if constexpr (std::endian::native == std::endian::big) {
            word = __builtin_bswap64(word);
        }
        std::memcpy(data_ + used_, &word, 8);
        used_ += count_ >> 3;
        bits_ >>= count_ & ~7u; // below 64: put() adds at most 56 bits to fewer than 8
        count_ &= 7;
    }
    void alignToByte() {
        count_ = (count_ + 7) & ~7u;
        flush();
    }
    // Whole bytes, after alignToByte. `data` may be null when size is 0 (empty input).
    void bytes(const uint8_t* data, size_t size) {
        if (size > 0) {
            std::memcpy(data_ + used_, data, size);
            used_ += size;
        }
    }
    void finish() { out_->resize(used_); }

private:
    std::vector<uint8_t>* out_;
    uint8_t* data_;
    size_t used_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
};

class Deflater {
public:
    Deflater(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out)
        : data_(data), size_(size), level_(level), params_(kLevels[level]), bits_(out) {}

    void run();

private:
    void literal(uint8_t byte) {
        symbols_[symbolCount_++] = byte | kNoDistance << kDistanceCodeShift;
        ++literalFreq_[byte];
        ++covered_;
        if (symbolCount_ == kBlockSymbols) [[unlikely]] {
            writeBlock(false);
        }
    }
    void match(unsigned length, uint32_t distance) {
        const unsigned code = distanceCode(distance);
        symbols_[symbolCount_++] =
            (256 + length - 3) | distance << kDistanceShift | code << kDistanceCodeShift;
        ++literalFreq_[257 + kLengthCode[length - 3]];
        ++distanceFreq_[code];
        covered_ += length;
        if (symbolCount_ == kBlockSymbols) [[unlikely]] {
            writeBlock(false);
        }
    }

    void greedyOneProbe(const uint8_t* base, uint32_t size);
    template <bool Lazy>
    void chained(const uint8_t* base, uint32_t size);

    void writeBlock(bool final);
    void writeStored(size_t from, size_t to, bool final);
    void writeSymbols(const uint8_t* literalLengths, const uint16_t* literalCodes,
                      const uint8_t* distanceLengths, const uint16_t* distanceCodes);

    const uint8_t* data_;
    size_t size_;
    int level_;
    LevelParams params_;
    BitWriter bits_;

    std::vector<uint32_t> symbols_ = std::vector<uint32_t>(kBlockSymbols);
    size_t symbolCount_ = 0;
    std::array<uint32_t, kLiteralSymbols> literalFreq_{};
    std::array<uint32_t, kDistanceSymbols> distanceFreq_{};
    size_t blockStart_ = 0; // the input the collected symbols cover
    size_t covered_ = 0;

    std::vector<uint32_t> head_;
    std::vector<uint32_t> previous_;
};

void Deflater::run() {
    // CMF: DEFLATE with a 32 KiB window; FLG: the level class, and check bits that make the
    // pair a multiple of 31.
    const unsigned cmf = 0x78;
    const unsigned levelClass = level_ <= 1 ? 0 : level_ <= 5 ? 1 : level_ == 6 ? 2 : 3;
    unsigned flg = levelClass << 6;
    flg += (31 - (cmf * 256 + flg) % 31) % 31;
    bits_.reserve(2);
    bits_.put(cmf, 8);
    bits_.put(flg, 8);
    bits_.flush();

    if (level_ == 0) {
        writeStored(0, size_, true);
    } else {
        for (size_t start = 0; start < size_; start += kSegmentBytes) {
            const auto length = static_cast<uint32_t>(std::min(size_ - start, kSegmentBytes));
            if (level_ == 1) {
                greedyOneProbe(data_ + start, length);
            } else if (params_.lazy) {
                chained<true>(data_ + start, length);
            } else {
                chained<false>(data_ + start, length);
            }
        }
        writeBlock(true);
    }

    bits_.alignToByte();
    const uint32_t adler = updateAdler32(1, data_, size_);
    const uint8_t trailer[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8),
                                uint8_t(adler)};
    bits_.reserve(4);
    bits_.bytes(trailer, 4);
    bits_.finish();
}

void Deflater::greedyOneProbe(const uint8_t* base, uint32_t size) {
    head_.assign(size_t{1} << kHashBits, 0);
    uint32_t* table = head_.data();
    uint32_t pos = 0;
    if (size >= kMinMatch) {
        const uint32_t last = size - kMinMatch;
        while (pos <= last) {
            const uint32_t here = load32(base + pos);
            const uint32_t h = hash4(here);
            const uint32_t candidate = table[h];
            table[h] = pos;
            if (pos - candidate - 1 < kWindow && load32(base + candidate) == here) {
                const unsigned limit = std::min<uint32_t>(kMaxMatch, size - pos);
                const unsigned length =
                    kMinMatch + matchLength(base + candidate + kMinMatch, base + pos + kMinMatch,
                                            limit - kMinMatch);
                match(length, pos - candidate);
                const uint32_t end = pos + length;
                if (end + kMinMatch <= size) {
                    // The last four positions from one load of their eight bytes (after a match
                    // of four, the first is pos itself, stored again).
                    static_assert(kInsertTail + kMinMatch <= 8);
                    const uint64_t bytes = load64(base + end - kInsertTail);
                    for (uint32_t k = 0; k < kInsertTail; ++k) {
                        table[hash4(uint32_t(bytes >> (8 * k)))] = end - kInsertTail + k;
                    }
                } else {
                    const uint32_t from = std::max(pos + 1, end - kInsertTail);
                    for (uint32_t p = from; p < end && p <= last; ++p) {
                        table[hash4(load32(base + p))] = p;
                    }
                }
                pos = end;
            } else {
                literal(base[pos]);
                ++pos;
            }
        }
    }
    for (; pos < size; ++pos) {
        literal(base[pos]);
    }
}

template <bool Lazy>
void Deflater::chained(const uint8_t* base, uint32_t size) {
    head_.assign(size_t{1} << kHashBits, 0);
    previous_.assign(kWindow, 0);
    uint32_t* head = head_.data();
    uint32_t* previous = previous_.data();
    const unsigned nice = params_.nice;

    auto insert = [&](uint32_t p) {
        const uint32_t h = hash4(load32(base + p));
        previous[p & (kWindow - 1)] = head[h];
        head[h] = p;
    };
    // The longest match at pos that is longer than `better`, or 0. Chains only go back in
    // position; an entry that does not is left over from an older position with that slot.
    auto longest = [&](uint32_t pos, unsigned better, uint32_t& distance) -> unsigned {
        const unsigned limit = std::min<uint32_t>(kMaxMatch, size - pos);
        unsigned best = std::max(better, kMinMatch - 1);
        if (best >= limit) {
            return 0;
        }
        const unsigned found = best;
        const uint32_t here = load32(base + pos);
        uint32_t candidate = head[hash4(here)];
        for (unsigned chain = params_.chain; chain > 0 && pos - candidate - 1 < kWindow; --chain) {
            if (base[candidate + best] == base[pos + best] && load32(base + candidate) == here) {
                const unsigned length =
                    kMinMatch + matchLength(base + candidate + kMinMatch, base + pos + kMinMatch,
                                            limit - kMinMatch);
                if (length > best) {
                    best = length;
                    distance = pos - candidate;
                    if (length >= nice || length == limit) {
                        break;
                    }
                }
            }
            const uint32_t older = previous[candidate & (kWindow - 1)];
            if (older >= candidate) {
                break;
            }
            candidate = older;
        }
        return best > found ? best : 0;
    };
    // Every position a match covers goes into the chains, while four bytes are left to hash.
    auto insertCovered = [&](uint32_t from, uint32_t to) {
        for (uint32_t p = from; p < to && p <= size - kMinMatch; ++p) {
            insert(p);
        }
    };

    uint32_t pos = 0;
    if (size >= kMinMatch) {
        const uint32_t last = size - kMinMatch;
        if constexpr (!Lazy) {
            while (pos <= last) {
                uint32_t distance = 0;
                const unsigned length = longest(pos, 0, distance);
                insert(pos);
                if (length != 0) {
                    match(length, distance);
                    insertCovered(pos + 1, pos + length);
                    pos += length;
                } else {
                    literal(base[pos]);
                    ++pos;
                }
            }
        } else {
            // `pending`: the byte before pos is not written yet; it starts a match of
            // pendingLength when that is not 0, else it is a literal.
            bool pending = false;
            unsigned pendingLength = 0;
            uint32_t pendingDistance = 0;
            while (pos <= last) {
                uint32_t distance = 0;
                const unsigned length =
                    pendingLength < nice ? longest(pos, pendingLength, distance) : 0;
                insert(pos);
                if (pendingLength != 0 && length == 0) {
                    match(pendingLength, pendingDistance);
                    const uint32_t end = pos - 1 + pendingLength;
                    insertCovered(pos + 1, end);
                    pos = end;
                    pending = false;
                    pendingLength = 0;
                    continue;
                }
                if (pending) {
                    literal(base[pos - 1]);
                }
                pending = true;
                pendingLength = length;
                pendingDistance = distance;
                ++pos;
            }
            if (pending) {
                if (pendingLength != 0) {
                    match(pendingLength, pendingDistance);
                    pos = pos - 1 + pendingLength;
                } else {
                    literal(base[pos - 1]);
                }
            }
        }
    }
    for (; pos < size; ++pos) {
        literal(base[pos]);
    }
}

void Deflater::writeStored(size_t from, size_t to, bool final) {
    do {
        const size_t length = std::min(to - from, kMaxStored);
        const bool last = final && from + length == to;
        bits_.reserve(length + 8);
        bits_.put(last ? 1 : 0, 1);
        bits_.put(0, 2);
        bits_.alignToByte();
        bits_.put(static_cast<uint32_t>(length), 16);
        bits_.put(static_cast<uint32_t>(~length & 0xffff), 16);
        bits_.flush();
        bits_.bytes(data_ + from, length);
        from += length;
    } while (from < to);
}

void Deflater::writeSymbols(const uint8_t* literalLengths, const uint16_t* literalCodes,
                            const uint8_t* distanceLengths, const uint16_t* distanceCodes) {
    // For this block's codes: each literal/length entry's code and extra bits as one value, and
    // each distance code's code, the place of its extra bits and its whole width.
    std::array<uint32_t, 512> headBits;
    std::array<uint8_t, 512> headWidth;
    for (unsigned b = 0; b < 256; ++b) {
        headBits[b] = literalCodes[b];
        headWidth[b] = literalLengths[b];
    }
    for (unsigned l = 0; l < 256; ++l) {
        const unsigned code = kLengthCode[l];
        const unsigned symbol = 257 + code;
        headBits[256 + l] = literalCodes[symbol] | (l + 3 - kLengthBase[code])
                                                       << literalLengths[symbol];
        headWidth[256 + l] = static_cast<uint8_t>(literalLengths[symbol] + kLengthExtra[code]);
    }
    std::array<uint16_t, kDistanceSymbols + 1> tailCode{}, tailBase{};
    std::array<uint8_t, kDistanceSymbols + 1> tailShift{}, tailWidth{};
    for (unsigned c = 0; c < kDistanceSymbols; ++c) {
        tailCode[c] = distanceCodes[c];
        tailBase[c] = kDistanceBase[c];
        tailShift[c] = distanceLengths[c];
        tailWidth[c] = static_cast<uint8_t>(distanceLengths[c] + kDistanceExtra[c]);
    }

    BitWriter bits = bits_; // a local copy stays in registers
    for (size_t i = 0; i < symbolCount_; ++i) {
        const uint32_t s = symbols_[i];
        const unsigned head = s & 0x1ff;
        const unsigned code = s >> kDistanceCodeShift;
        const uint32_t distance = (s >> kDistanceShift) & 0xffff;
        const uint64_t tail = tailCode[code] | (distance - tailBase[code]) << tailShift[code];
        bits.put(headBits[head] | tail << headWidth[head], headWidth[head] + tailWidth[code]);
        bits.flush();
    }
    bits.put(literalCodes[kEndOfBlock], literalLengths[kEndOfBlock]);
    bits.flush();
    bits_ = bits;
}

void Deflater::writeBlock(bool final) {
    literalFreq_[kEndOfBlock] = 1;
    std::array<uint8_t, kLiteralSymbols> literalLengths;
    std::array<uint8_t, kDistanceSymbols> distanceLengths;
    buildLengths(literalFreq_.data(), kLiteralSymbols, kMaxCodeBits, literalLengths.data());
    buildLengths(distanceFreq_.data(), kDistanceSymbols, kMaxCodeBits, distanceLengths.data());

    unsigned literalCount = kLiteralSymbols;
    while (literalCount > 257 && literalLengths[literalCount - 1] == 0) {
        --literalCount;
    }
    unsigned distanceCount = kDistanceSymbols;
    while (distanceCount > 1 && distanceLengths[distanceCount - 1] == 0) {
        --distanceCount;
    }

    // The code lengths of both codes as one sequence, runs shortened with symbols 16 (repeat
    // the previous length 3-6 times), 17 (3-10 zeros) and 18 (11-138 zeros).
    std::array<uint8_t, kLiteralSymbols + kDistanceSymbols> all;
    std::copy_n(literalLengths.begin(), literalCount, all.begin());
    std::copy_n(distanceLengths.begin(), distanceCount, all.begin() + literalCount);
    const unsigned total = literalCount + distanceCount;
    std::array<uint8_t, kLiteralSymbols + kDistanceSymbols> runSymbols, runExtra;
    unsigned runCount = 0;
    std::array<uint32_t, kCodeLengthSymbols> runFreq{};
    auto emitRun = [&](unsigned symbol, unsigned extra) {
        runSymbols[runCount] = static_cast<uint8_t>(symbol);
        runExtra[runCount++] = static_cast<uint8_t>(extra);
        ++runFreq[symbol];
    };
    for (unsigned i = 0; i < total;) {
        const uint8_t value = all[i];
        unsigned run = 1;
        while (i + run < total && all[i + run] == value) {
            ++run;
        }
        i += run;
        if (value == 0) {
            while (run >= 11) {
                const unsigned n = std::min(run, 138u);
                emitRun(18, n - 11);
                run -= n;
            }
            if (run >= 3) {
                emitRun(17, run - 3);
                run = 0;
            }
        } else {
            emitRun(value, 0);
            --run;
            while (run >= 3) {
                const unsigned n = std::min(run, 6u);
                emitRun(16, n - 3);
                run -= n;
            }
        }
        for (; run > 0; --run) {
            emitRun(value, 0);
        }
    }
    std::array<uint8_t, kCodeLengthSymbols> runLengths;
    buildLengths(runFreq.data(), kCodeLengthSymbols, kMaxCodeLengthBits, runLengths.data());
    unsigned runCodeCount = kCodeLengthSymbols;
    while (runCodeCount > 4 && runLengths[kCodeLengthOrder[runCodeCount - 1]] == 0) {
        --runCodeCount;
    }

    // Exact sizes in bits of the three ways to write the block.
    uint64_t extraBits = 0, dynamicBits = 0, fixedBits = 0;
    for (unsigned s = 0; s < kLiteralSymbols; ++s) {
        dynamicBits += uint64_t{literalFreq_[s]} * literalLengths[s];
        fixedBits += uint64_t{literalFreq_[s]} * kFixed.literalLengths[s];
        if (s > kEndOfBlock) {
            extraBits += uint64_t{literalFreq_[s]} * kLengthExtra[s - 257];
        }
    }
    for (unsigned s = 0; s < kDistanceSymbols; ++s) {
        dynamicBits += uint64_t{distanceFreq_[s]} * distanceLengths[s];
        fixedBits += uint64_t{distanceFreq_[s]} * kFixed.distanceLengths[s];
        extraBits += uint64_t{distanceFreq_[s]} * kDistanceExtra[s];
    }
    dynamicBits += 3 + 5 + 5 + 4 + 3 * runCodeCount;
    for (unsigned i = 0; i < runCount; ++i) {
        dynamicBits += runLengths[runSymbols[i]];
    }
    dynamicBits += runFreq[16] * 2 + runFreq[17] * 3 + runFreq[18] * 7;
    dynamicBits += extraBits;
    fixedBits += 3 + extraBits;
    const size_t rawBytes = covered_ - blockStart_;
    const size_t storedPieces = std::max<size_t>(1, (rawBytes + kMaxStored - 1) / kMaxStored);
    const uint64_t storedBits = uint64_t{rawBytes} * 8 + storedPieces * (3 + 7 + 32);

    if (storedBits < std::min(dynamicBits, fixedBits)) {
        writeStored(blockStart_, covered_, final);
    } else if (fixedBits <= dynamicBits) {
        bits_.reserve(fixedBits / 8 + 8);
        bits_.put(final ? 1 : 0, 1);
        bits_.put(1, 2);
        writeSymbols(kFixed.literalLengths.data(), kFixed.literalCodes.data(),
                     kFixed.distanceLengths.data(), kFixed.distanceCodes.data());
    } else {
        bits_.reserve(dynamicBits / 8 + 8);
        bits_.put(final ? 1 : 0, 1);
        bits_.put(2, 2);
        bits_.put(literalCount - 257, 5);
        bits_.put(distanceCount - 1, 5);
        bits_.put(runCodeCount - 4, 4);
        bits_.flush();
        for (unsigned i = 0; i < runCodeCount; ++i) {
            bits_.put(runLengths[kCodeLengthOrder[i]], 3);
            bits_.flush();
        }
        std::array<uint16_t, kCodeLengthSymbols> runCodes;
        buildCodes(runLengths.data(), kCodeLengthSymbols, runCodes.data());
        const uint8_t extraOf[3] = {2, 3, 7};
        for (unsigned i = 0; i < runCount; ++i) {
            const unsigned s = runSymbols[i];
            bits_.put(runCodes[s], runLengths[s]);
            if (s >= 16) {
                bits_.put(runExtra[i], extraOf[s - 16]);
            }
            bits_.flush();
        }
        std::array<uint16_t, kLiteralSymbols> literalCodes;
        std::array<uint16_t, kDistanceSymbols> distanceCodes;
        buildCodes(literalLengths.data(), kLiteralSymbols, literalCodes.data());
        buildCodes(distanceLengths.data(), kDistanceSymbols, distanceCodes.data());
        writeSymbols(literalLengths.data(), literalCodes.data(), distanceLengths.data(),
                     distanceCodes.data());
    }

    symbolCount_ = 0;
    literalFreq_.fill(0);
    distanceFreq_.fill(0);
    blockStart_ = covered_;
}

} // namespace

void deflateZlib(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out) {
    Deflater(data, size, std::clamp(level, 0, kDeflateMaxLevel), out).run();
}

uint32_t updateAdler32(uint32_t adler, const uint8_t* data, size_t size) {
    constexpr uint32_t kBase = 65521;
    // The bytes go in columns of 16 with a running sum per column, which the compiler turns
    // into vector code. For K rows, byte i of row k adds 16 (K - 1 - k) + 16 - i to b: the
    // first part is what `earlier` gathers (each row adds the column sums of the rows before
    // it), the second is weighed in at the end. 4096 rows keep `earlier` below 2^32.
    constexpr size_t kColumns = 16;
    constexpr size_t kMaxRows = 4096;
    uint64_t a = adler & 0xffff, b = adler >> 16;
    while (size >= kColumns) {
        const size_t rows = std::min(size / kColumns, kMaxRows);
        uint32_t column[kColumns] = {}, earlier[kColumns] = {};
        for (size_t k = 0; k < rows; ++k, data += kColumns) {
            for (size_t i = 0; i < kColumns; ++i) {
                earlier[i] += column[i];
                column[i] += data[i];
            }
        }
        b += a * rows * kColumns;
        for (size_t i = 0; i < kColumns; ++i) {
            a += column[i];
            b += uint64_t{earlier[i]} * kColumns + uint64_t{column[i]} * (kColumns - i);
        }
        a %= kBase;
        b %= kBase;
        size -= rows * kColumns;
    }
    for (; size > 0; --size) {
        a += *data++;
        b += a;
    }
    return uint32_t(b % kBase) << 16 | uint32_t(a % kBase);
}

} // namespace lumo
