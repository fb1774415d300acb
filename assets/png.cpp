#include "assets/png.h"

#include "assets/inflate.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

// Decoding runs in three stages: the chunk walk gathers IHDR fields, the palette, the
// transparency key and the IDAT data; the inflater produces the filtered scanlines of every
// pass (exactly as many bytes as the image needs); each pass is unfiltered in place and then
// converted straight into its final pixel positions. Sizes are computed in 64 bits after the
// pixel-count bound, so none can wrap.

namespace lumo {
namespace {

constexpr std::array<uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

uint32_t readBigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool isType(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned depth = 0;
    unsigned colorType = 0;
    bool interlaced = false;
    unsigned channels = 0;
    unsigned bitsPerPixel = 0;
};

struct Transparency {
    std::array<uint8_t, 256 * 4> palette{}; // RGBA entries
    unsigned paletteSize = 0;
    bool hasKey = false;
    std::array<uint16_t, 3> key{}; // grey in key[0], or r, g, b
};

// One Adam7 pass (or the whole image when not interlaced): where its pixels land.
struct Pass {
    uint32_t x0, y0, dx, dy;
    uint32_t width, height;
    size_t rowBytes; // without the filter byte
};

PngError checkHeader(const uint8_t* bytes, Header& h) {
    const uint8_t* data = bytes + 16;
    h.width = readBigEndian32(data);
    h.height = readBigEndian32(data + 4);
    h.depth = data[8];
    h.colorType = data[9];
    const unsigned compression = data[10];
    const unsigned filter = data[11];
    const unsigned interlace = data[12];

    switch (h.colorType) {
    case 0:
        h.channels = 1;
        if (h.depth != 1 && h.depth != 2 && h.depth != 4 && h.depth != 8 && h.depth != 16) {
            return PngError::BitDepth;
        }
        break;
    case 3:
        h.channels = 1;
        if (h.depth != 1 && h.depth != 2 && h.depth != 4 && h.depth != 8) {
            return PngError::BitDepth;
        }
        break;
    case 2:
    case 4:
    case 6:
        h.channels = h.colorType == 2 ? 3 : h.colorType == 4 ? 2 : 4;
        if (h.depth != 8 && h.depth != 16) {
            return PngError::BitDepth;
        }
        break;
    default:
        return PngError::ColorType;
    }
    if (compression != 0) {
        return PngError::CompressionMethod;
    }
    if (filter != 0) {
        return PngError::FilterMethod;
    }
    if (interlace > 1) {
        return PngError::InterlaceMethod;
    }
    if (readBigEndian32(bytes + 8) != 13) {
        return PngError::HeaderLength;
    }
    if (h.width == 0 || h.height == 0) {
        return PngError::ZeroSize;
    }
    if (uint64_t{h.width} * h.height > kPngMaxPixels) {
        return PngError::TooLarge;
    }
    h.interlaced = interlace == 1;
    h.bitsPerPixel = h.channels * h.depth;
    return PngError::None;
}

// Walks the chunks after IHDR. `idat` receives the compressed data; when there is only one
// IDAT chunk it is left empty and `single` points at that chunk's data instead, saving a copy.
PngError walkChunks(const uint8_t* bytes, size_t size, const Header& h, Transparency& t,
                    std::vector<uint8_t>& idat, const uint8_t*& single, size_t& singleSize) {
    size_t pos = 33;
    unsigned idatCount = 0;
    for (;;) {
        if (pos > size || size - pos < 8) { // a file of 29 to 32 bytes ends inside IHDR's CRC
            return PngError::ChunkHeaderPastEnd;
        }
        const uint32_t length = readBigEndian32(bytes + pos);
        const uint8_t* type = bytes + pos + 4;
        if (length > 0x7fffffffu) {
            return PngError::ChunkTooLong;
        }
        if (size - pos - 8 < size_t{length} + 4) {
            return PngError::ChunkPastEnd;
        }
        const uint8_t* data = bytes + pos + 8;
        pos += size_t{length} + 12;

        if (isType(type, "IEND")) {
            break;
        }
        if (isType(type, "IDAT")) {
            if (idatCount == 0) {
                single = data;
                singleSize = length;
            } else {
                if (idatCount == 1) {
                    idat.assign(single, single + singleSize);
                }
                idat.insert(idat.end(), data, data + length);
            }
            ++idatCount;
        } else if (isType(type, "PLTE")) {
            if (length % 3 != 0) {
                return PngError::PaletteLength;
            }
            if (length / 3 > 256) {
                return PngError::PaletteTooLong;
            }
            t.paletteSize = length / 3;
            for (unsigned i = 0; i < t.paletteSize; ++i) {
                t.palette[i * 4 + 0] = data[i * 3 + 0];
                t.palette[i * 4 + 1] = data[i * 3 + 1];
                t.palette[i * 4 + 2] = data[i * 3 + 2];
                t.palette[i * 4 + 3] = 255;
            }
        } else if (isType(type, "tRNS")) {
            if (h.colorType == 3) {
                if (length > t.paletteSize) {
                    return PngError::TransparencyTooLong;
                }
                for (unsigned i = 0; i < length; ++i) {
                    t.palette[i * 4 + 3] = data[i];
                }
            } else if (h.colorType == 0) {
                if (length != 2) {
                    return PngError::GreyKeyLength;
                }
                t.hasKey = true;
                t.key[0] = static_cast<uint16_t>(data[0] << 8 | data[1]);
            } else if (h.colorType == 2) {
                if (length != 6) {
                    return PngError::ColorKeyLength;
                }
                t.hasKey = true;
                for (unsigned c = 0; c < 3; ++c) {
                    t.key[c] = static_cast<uint16_t>(data[c * 2] << 8 | data[c * 2 + 1]);
                }
            } else {
                return PngError::TransparencyWithAlpha;
            }
        } else if ((type[0] & 0x20) == 0) {
            return PngError::UnknownCriticalChunk;
        }
    }
    if (idatCount > 1) {
        single = nullptr;
    }
    return PngError::None;
}

// Origin and step of the seven Adam7 passes; a plain image is the single pass {0, 0, 1, 1}.
constexpr uint32_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr uint32_t kSinglePass[4] = {0, 0, 1, 1};

int makePasses(const Header& h, std::array<Pass, 7>& passes) {
    const int total = h.interlaced ? 7 : 1;
    int count = 0;
    for (int i = 0; i < total; ++i) {
        const uint32_t* layout = h.interlaced ? kAdam7[i] : kSinglePass;
        // Fields are set one by one on purpose: GCC 12.2 at -O2 (its SLP vectorizer) turned a
        // braced assignment chosen by `h.interlaced` here into an all-zero pass, dividing by 0.
        Pass p{};
        p.x0 = layout[0];
        p.y0 = layout[1];
        p.dx = layout[2];
        p.dy = layout[3];
        p.width = h.width > p.x0 ? (h.width - p.x0 + p.dx - 1) / p.dx : 0;
        p.height = h.height > p.y0 ? (h.height - p.y0 + p.dy - 1) / p.dy : 0;
        if (p.width == 0 || p.height == 0) {
            continue; // empty passes have no scanlines at all, not even filter bytes
        }
        p.rowBytes = (uint64_t{p.width} * h.bitsPerPixel + 7) / 8;
        passes[count++] = p;
    }
    return count;
}

inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    // Written as selections rather than branches: the choice is data-dependent noise.
    const int notA = (pb < pa) | (pc < pa);
    const int bOrC = pc < pb ? c : b;
    return static_cast<uint8_t>(notA ? bOrC : a);
}

// Undoes one scanline's filter in place; prev is the unfiltered previous row (zeros for the
// first row of a pass). Bpp is the filter's byte distance (whole bytes per pixel, at least 1),
// a template parameter so the per-pixel byte loops unroll; n is a multiple of it.
template <size_t Bpp>
bool unfilterRow(unsigned filter, uint8_t* row, const uint8_t* prev, size_t n) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = Bpp; i < n; i += Bpp) {
            for (size_t k = 0; k < Bpp; ++k) {
                row[i + k] = static_cast<uint8_t>(row[i + k] + row[i + k - Bpp]);
            }
        }
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i) {
            row[i] = static_cast<uint8_t>(row[i] + prev[i]);
        }
        return true;
    case 3:
        for (size_t k = 0; k < Bpp; ++k) {
            row[k] = static_cast<uint8_t>(row[k] + (prev[k] >> 1));
        }
        for (size_t i = Bpp; i < n; i += Bpp) {
            for (size_t k = 0; k < Bpp; ++k) {
                row[i + k] =
                    static_cast<uint8_t>(row[i + k] + ((row[i + k - Bpp] + prev[i + k]) >> 1));
            }
        }
        return true;
    case 4:
        for (size_t k = 0; k < Bpp; ++k) {
            row[k] = static_cast<uint8_t>(row[k] + prev[k]);
        }
        for (size_t i = Bpp; i < n; i += Bpp) {
            for (size_t k = 0; k < Bpp; ++k) {
                row[i + k] = static_cast<uint8_t>(
                    row[i + k] + paeth(row[i + k - Bpp], prev[i + k], prev[i + k - Bpp]));
            }
        }
        return true;
    default:
        return false;
    }
}

using UnfilterFunction = bool (*)(unsigned, uint8_t*, const uint8_t*, size_t);

UnfilterFunction unfilterFor(size_t bpp) {
    switch (bpp) {
    case 1:
        return unfilterRow<1>;
    case 2:
        return unfilterRow<2>;
    case 3:
        return unfilterRow<3>;
    case 4:
        return unfilterRow<4>;
    case 6:
        return unfilterRow<6>;
    default:
        return unfilterRow<8>;
    }
}

// Converts one unfiltered row of `count` pixels into RGBA, writing pixel x at dst + x * step.
// Returns None or a palette error.
PngError convertRow(const Header& h, const Transparency& t, const uint8_t* src, uint32_t count,
                    uint8_t* dst, size_t step) {
    const unsigned depth = h.depth;
    switch (h.colorType) {
    case 0:
        if (depth < 8) {
            const unsigned mask = (1u << depth) - 1;
            const unsigned scale = 255 / mask;
            for (uint32_t x = 0; x < count; ++x, dst += step) {
                const size_t bit = size_t{x} * depth;
                const unsigned g = (src[bit >> 3] >> (8 - depth - (bit & 7))) & mask;
                dst[0] = dst[1] = dst[2] = static_cast<uint8_t>(g * scale);
                dst[3] = t.hasKey && g == t.key[0] ? 0 : 255;
            }
        } else if (depth == 8) {
            for (uint32_t x = 0; x < count; ++x, dst += step) {
                const unsigned g = src[x];
                dst[0] = dst[1] = dst[2] = static_cast<uint8_t>(g);
                dst[3] = t.hasKey && g == t.key[0] ? 0 : 255;
            }
        } else {
            for (uint32_t x = 0; x < count; ++x, dst += step, src += 2) {
                const unsigned g = unsigned{src[0]} << 8 | src[1];
                dst[0] = dst[1] = dst[2] = src[0];
                dst[3] = t.hasKey && g == t.key[0] ? 0 : 255;
            }
        }
        return PngError::None;
    case 2:
        if (depth == 8) {
            for (uint32_t x = 0; x < count; ++x, dst += step, src += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = t.hasKey && src[0] == t.key[0] && src[1] == t.key[1] && src[2] == t.key[2]
                             ? 0
                             : 255;
            }
        } else {
            for (uint32_t x = 0; x < count; ++x, dst += step, src += 6) {
                dst[0] = src[0];
                dst[1] = src[2];
                dst[2] = src[4];
                const bool keyed = t.hasKey && (src[0] << 8 | src[1]) == t.key[0] &&
                                   (src[2] << 8 | src[3]) == t.key[1] &&
                                   (src[4] << 8 | src[5]) == t.key[2];
                dst[3] = keyed ? 0 : 255;
            }
        }
        return PngError::None;
    case 3:
        if (depth == 8) {
            for (uint32_t x = 0; x < count; ++x, dst += step) {
                if (src[x] >= t.paletteSize) {
                    return PngError::PaletteIndexByte;
                }
                std::memcpy(dst, &t.palette[src[x] * 4], 4);
            }
        } else {
            const unsigned mask = (1u << depth) - 1;
            for (uint32_t x = 0; x < count; ++x, dst += step) {
                const size_t bit = size_t{x} * depth;
                const unsigned index = (src[bit >> 3] >> (8 - depth - (bit & 7))) & mask;
                if (index >= t.paletteSize) {
                    return PngError::PaletteIndexPacked;
                }
                std::memcpy(dst, &t.palette[index * 4], 4);
            }
        }
        return PngError::None;
    case 4: {
        const size_t bytes = depth / 8; // the most significant byte comes first
        for (uint32_t x = 0; x < count; ++x, dst += step, src += 2 * bytes) {
            dst[0] = dst[1] = dst[2] = src[0];
            dst[3] = src[bytes];
        }
        return PngError::None;
    }
    default: // 6
        if (depth == 8) {
            if (step == 4) {
                std::memcpy(dst, src, size_t{count} * 4);
            } else {
                for (uint32_t x = 0; x < count; ++x, dst += step, src += 4) {
                    std::memcpy(dst, src, 4);
                }
            }
        } else {
            for (uint32_t x = 0; x < count; ++x, dst += step, src += 8) {
                dst[0] = src[0];
                dst[1] = src[2];
                dst[2] = src[4];
                dst[3] = src[6];
            }
        }
        return PngError::None;
    }
}

PngError decode(const uint8_t* bytes, size_t size, PngImage& image) {
    if (size == 0) {
        return PngError::EmptyFile;
    }
    if (size < 29) {
        return PngError::FileTooShort;
    }
    if (std::memcmp(bytes, kSignature.data(), 8) != 0) {
        return PngError::Signature;
    }
    if (!isType(bytes + 12, "IHDR")) {
        return PngError::FirstChunkNotHeader;
    }
    Header h;
    if (PngError error = checkHeader(bytes, h); error != PngError::None) {
        return error;
    }

    Transparency t;
    std::vector<uint8_t> idat;
    const uint8_t* single = nullptr;
    size_t singleSize = 0;
    if (PngError error = walkChunks(bytes, size, h, t, idat, single, singleSize);
        error != PngError::None) {
        return error;
    }

    std::array<Pass, 7> passes;
    const int passCount = makePasses(h, passes);
    uint64_t expected = 0;
    for (int i = 0; i < passCount; ++i) {
        expected += (passes[i].rowBytes + 1) * passes[i].height;
    }

    std::vector<uint8_t> raw;
    const uint8_t* zlib = single ? single : idat.data();
    const size_t zlibSize = single ? singleSize : idat.size();
    if (PngError error = inflateZlib(zlib, zlibSize, raw, static_cast<size_t>(expected));
        error != PngError::None) {
        return error;
    }
    if (raw.size() != expected) {
        return PngError::DataSize;
    }
    std::vector<uint8_t>().swap(idat);

    const UnfilterFunction unfilter = unfilterFor(std::max(1u, h.bitsPerPixel / 8));
    // The "previous row" of every pass's first scanline.
    size_t widest = 0;
    for (int i = 0; i < passCount; ++i) {
        widest = std::max(widest, passes[i].rowBytes);
    }
    const std::vector<uint8_t> zeros(widest);
    image.pixels.resize(size_t{h.width} * h.height * 4);
    uint8_t* scan = raw.data();
    for (int i = 0; i < passCount; ++i) {
        const Pass& p = passes[i];
        const uint8_t* prev = zeros.data();
        for (uint32_t y = 0; y < p.height; ++y) {
            uint8_t* row = scan + 1;
            if (!unfilter(scan[0], row, prev, p.rowBytes)) {
                return PngError::FilterType;
            }
            uint8_t* dst =
                image.pixels.data() + ((size_t{p.y0} + size_t{y} * p.dy) * h.width + p.x0) * 4;
            if (PngError error = convertRow(h, t, row, p.width, dst, size_t{p.dx} * 4);
                error != PngError::None) {
                return error;
            }
            prev = row;
            scan += p.rowBytes + 1;
        }
    }
    image.width = h.width;
    image.height = h.height;
    return PngError::None;
}

} // namespace

PngError decodePng(const uint8_t* bytes, size_t byteCount, PngImage& image) {
    image = PngImage{};
    const PngError error = decode(bytes, byteCount, image);
    if (error != PngError::None) {
        image = PngImage{};
    }
    return error;
}

} // namespace lumo
