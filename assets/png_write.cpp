#include "assets/png_write.h"

#include "assets/deflate.h"
#include "assets/png.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

// The filtered rows are gathered in one buffer and compressed in one call, straight after the
// IDAT chunk's header in the file, so the compressed bytes are never copied. One IDAT chunk
// holds them all: a chunk may hold 2^31 - 1 bytes, and the largest picture we write stays
// below that even stored.

namespace lumo {
namespace {

constexpr std::array<uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

enum class Filter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// Level 0 leaves the rows as they are (the compressor stores them anyway). Levels 1 to 3 take
// "up" for every row: a rendered frame's rows are mostly much like the row above, and it is the
// cheapest filter. From level 4 each row gets the filter chosenFilter picks for it.
constexpr int kFirstChoosingLevel = 4;

// Slicing by eight: table k gives a byte's effect on the CRC k bytes further on, so eight
// input bytes take eight independent lookups.
constexpr std::array<std::array<uint32_t, 256>, 8> kCrcTables = [] {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        }
        t[0][n] = c;
    }
    for (size_t k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xff];
        }
    }
    return t;
}();

void putBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Appends a whole chunk.
void appendChunk(std::vector<uint8_t>& file, const char* type, const uint8_t* data, size_t size) {
    const size_t start = file.size();
    file.resize(start + 12 + size);
    putBigEndian32(&file[start], static_cast<uint32_t>(size));
    std::memcpy(&file[start + 4], type, 4);
    if (size > 0) {
        std::memcpy(&file[start + 8], data, size);
    }
    putBigEndian32(&file[start + 8 + size], updateCrc32(0, &file[start + 4], 4 + size));
}

uint8_t paeth(uint8_t a, uint8_t b, uint8_t c) {
    const int p = int(a) + int(b) - int(c);
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// out[i] = cur[i] - ref[i] in groups of a fixed size, which the compiler turns into vector
// code even where it does not vectorize a loop of unknown length.
void subtractBytes(const uint8_t* __restrict cur, const uint8_t* __restrict ref, size_t n,
                   uint8_t* __restrict out) {
    constexpr size_t kGroup = 16;
    size_t i = 0;
    for (; i + kGroup <= n; i += kGroup) {
        for (size_t k = 0; k < kGroup; ++k) {
            out[i + k] = uint8_t(cur[i + k] - ref[i + k]);
        }
    }
    for (; i < n; ++i) {
        out[i] = uint8_t(cur[i] - ref[i]);
    }
}

// Row `cur` filtered into out[0, n); `prev` is the row above (zeros for the first row).
void filterRow(Filter filter, const uint8_t* __restrict cur, const uint8_t* __restrict prev,
               size_t bpp, size_t n, uint8_t* __restrict out) {
    switch (filter) {
    case Filter::None:
        std::memcpy(out, cur, n);
        break;
    case Filter::Sub:
        std::memcpy(out, cur, bpp);
        subtractBytes(cur + bpp, cur, n - bpp, out + bpp);
        break;
    case Filter::Up:
        subtractBytes(cur, prev, n, out);
        break;
    case Filter::Average:
        for (size_t i = 0; i < bpp; ++i) {
            out[i] = uint8_t(cur[i] - prev[i] / 2);
        }
        for (size_t i = bpp; i < n; ++i) {
            out[i] = uint8_t(cur[i] - (unsigned(cur[i - bpp]) + prev[i]) / 2);
        }
        break;
    case Filter::Paeth:
        for (size_t i = 0; i < bpp; ++i) {
            out[i] = uint8_t(cur[i] - prev[i]);
        }
        for (size_t i = bpp; i < n; ++i) {
            out[i] = uint8_t(cur[i] - paeth(cur[i - bpp], prev[i], prev[i - bpp]));
        }
        break;
    }
}

// The filter whose output has the least sum of magnitudes as signed bytes: small differences
// make the repeated, skewed bytes the compressor does best on. Ties go to the lower type.
Filter chosenFilter(const uint8_t* cur, const uint8_t* prev, size_t bpp, size_t n,
                    std::vector<uint8_t>& trial) {
    Filter best = Filter::None;
    uint64_t bestSum = UINT64_MAX;
    for (uint8_t f = 0; f <= uint8_t(Filter::Paeth); ++f) {
        filterRow(Filter(f), cur, prev, bpp, n, trial.data());
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) {
            sum += uint64_t(std::abs(int(int8_t(trial[i]))));
        }
        if (sum < bestSum) {
            bestSum = sum;
            best = Filter(f);
        }
    }
    return best;
}

} // namespace

uint32_t updateCrc32(uint32_t crc, const uint8_t* data, size_t size) {
    const auto& t = kCrcTables;
    uint32_t c = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t lo = c ^ (uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                                 uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24);
        c = t[7][lo & 0xff] ^ t[6][(lo >> 8) & 0xff] ^ t[5][(lo >> 16) & 0xff] ^ t[4][lo >> 24] ^
            t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; size > 0; --size) {
        c = t[0][(c ^ *data++) & 0xff] ^ (c >> 8);
    }
    return ~c;
}

PngRows packedRows(const uint8_t* pixels, uint32_t width, uint32_t height, PngColor color) {
    const size_t rowBytes = size_t{width} * (color == PngColor::Rgb ? 3 : 4);
    return {width, height, color,
            [pixels, rowBytes](uint32_t y, uint8_t*) { return pixels + y * rowBytes; }};
}

bool encodePng(const PngRows& rows, int level, std::vector<uint8_t>& file, std::string& error) {
    if (rows.width == 0 || rows.height == 0) {
        error = "empty picture";
        return false;
    }
    if (uint64_t{rows.width} * rows.height > kPngMaxPixels) {
        error = "picture of " + std::to_string(rows.width) + " x " + std::to_string(rows.height) +
                " pixels is too large";
        return false;
    }
    level = std::clamp(level, 0, kDeflateMaxLevel);
    const size_t bpp = rows.color == PngColor::Rgb ? 3 : 4;
    const size_t rowBytes = size_t{rows.width} * bpp;

    std::vector<uint8_t> filtered((rowBytes + 1) * rows.height);
    std::vector<uint8_t> scratch[2] = {std::vector<uint8_t>(rowBytes),
                                       std::vector<uint8_t>(rowBytes)};
    const std::vector<uint8_t> zeros(rowBytes, 0);
    std::vector<uint8_t> trial(level >= kFirstChoosingLevel ? rowBytes : 0);
    const uint8_t* prev = zeros.data();
    for (uint32_t y = 0; y < rows.height; ++y) {
        const uint8_t* cur = rows.row(y, scratch[y & 1].data());
        const Filter filter = level >= kFirstChoosingLevel
                                  ? chosenFilter(cur, prev, bpp, rowBytes, trial)
                              : level == 0 ? Filter::None
                                           : Filter::Up;
        uint8_t* out = &filtered[y * (rowBytes + 1)];
        out[0] = uint8_t(filter);
        filterRow(filter, cur, prev, bpp, rowBytes, out + 1);
        prev = cur;
    }

    file.assign(kSignature.begin(), kSignature.end());
    uint8_t header[13];
    putBigEndian32(header, rows.width);
    putBigEndian32(header + 4, rows.height);
    header[8] = 8; // bits per sample
    header[9] = uint8_t(rows.color);
    header[10] = header[11] = header[12] = 0; // deflate, adaptive filters, not interlaced
    appendChunk(file, "IHDR", header, sizeof header);

    const size_t idat = file.size();
    file.resize(idat + 8);
    std::memcpy(&file[idat + 4], "IDAT", 4);
    deflateZlib(filtered.data(), filtered.size(), level, file);
    const size_t length = file.size() - idat - 8;
    putBigEndian32(&file[idat], static_cast<uint32_t>(length));
    const uint32_t crc = updateCrc32(0, &file[idat + 4], 4 + length);
    file.resize(file.size() + 4);
    putBigEndian32(&file[file.size() - 4], crc);
    appendChunk(file, "IEND", nullptr, 0);
    return true;
}

bool savePng(const std::string& path, const PngRows& rows, int level, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!encodePng(rows, level, bytes, error)) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    // The first failure's reason: a later call may set errno again.
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int failure = ok ? 0 : errno;
    if (std::fflush(file) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok) {
        return true;
    }
    error = failure != 0 ? std::strerror(failure) : "the file was cut short";
    // Only a file we made is removed: a path such as /dev/full stays.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored)) {
        std::remove(path.c_str());
    }
    return false;
}

} // namespace lumo
