#pragma once
// Test helpers for the PNG decoder and the inflater: PNG files written by libpng from sample
// values we choose (so the expected RGBA is computed independently), chunk-level editing with
// fresh CRCs for crafting broken files, and a bit writer for hand-made DEFLATE streams.

#include "assets/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumo::test {

// What to write. samples holds width * height * channels values at the image's bit depth
// (palette indices for colour type 3), row by row.
struct PngSpec {
    uint32_t width = 1, height = 1;
    int colorType = PNG_COLOR_TYPE_RGBA;
    int depth = 8;
    bool interlaced = false;
    int filters = PNG_ALL_FILTERS;
    int level = 6;          // zlib level
    size_t idatSize = 8192; // bytes per IDAT chunk
    std::vector<uint16_t> samples{};
    std::vector<uint8_t> palette{}; // r, g, b triples
    std::vector<uint8_t> paletteAlpha{};
    bool hasKey = false;
    uint16_t key[3] = {0, 0, 0}; // grey in key[0], or r, g, b
};

inline int channelsOf(int colorType) {
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    return channels[colorType];
}

inline std::vector<uint8_t> writePng(const PngSpec& spec) {
    const size_t perRow = size_t{spec.width} * channelsOf(spec.colorType);
    const size_t rowBytes = (perRow * spec.depth + 7) / 8;
    std::vector<uint8_t> pixels(rowBytes * spec.height), file;
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < spec.height; ++y) {
        uint8_t* row = &pixels[y * rowBytes];
        rows.push_back(row);
        for (size_t i = 0; i < perRow; ++i) {
            // Samples are packed from the most significant bit; 16-bit ones big-endian.
            const uint16_t v = spec.samples[y * perRow + i];
            const size_t end = (i + 1) * spec.depth;
            if (spec.depth == 16) {
                row[end / 8 - 2] = static_cast<uint8_t>(v >> 8);
            }
            row[(end - 1) / 8] |= static_cast<uint8_t>(v << (8 - end % 8) % 8);
        }
    }
    // Warnings (such as palette indices beyond the palette, written on purpose) stay quiet.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                              [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng failed to write the test image");
    }
    png_set_benign_errors(png, 1);
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.depth, spec.colorType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, spec.filters);
    png_set_compression_level(png, spec.level);
    png_set_compression_buffer_size(png, spec.idatSize);
    if (spec.colorType == PNG_COLOR_TYPE_PALETTE) {
        static_assert(sizeof(png_color) == 3);
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(spec.palette.data()),
                     static_cast<int>(spec.palette.size() / 3));
    }
    png_color_16 color{0, spec.key[0], spec.key[1], spec.key[2], spec.key[0]};
    if (!spec.paletteAlpha.empty() || spec.hasKey) {
        png_set_tRNS(png, info, spec.paletteAlpha.data(),
                     static_cast<int>(spec.paletteAlpha.size()), &color);
    }
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

// The RGBA bytes the decoder must produce for spec, computed from the samples.
inline std::vector<uint8_t> expectedRgba(const PngSpec& spec) {
    const int channels = channelsOf(spec.colorType);
    const size_t count = size_t{spec.width} * spec.height;
    std::vector<uint8_t> rgba(count * 4);
    auto to8 = [&](uint16_t v) {
        return static_cast<uint8_t>(spec.depth == 16 ? v >> 8 : v * 255 / ((1 << spec.depth) - 1));
    };
    for (size_t p = 0; p < count; ++p) {
        const uint16_t* s = &spec.samples[p * channels];
        uint8_t* d = &rgba[p * 4];
        if (spec.colorType == PNG_COLOR_TYPE_PALETTE) {
            for (int c = 0; c < 3; ++c) {
                d[c] = spec.palette[s[0] * 3 + c];
            }
            d[3] = s[0] < spec.paletteAlpha.size() ? spec.paletteAlpha[s[0]] : 255;
            continue;
        }
        const bool grey = channels < 3;
        for (int c = 0; c < 3; ++c) {
            d[c] = to8(s[grey ? 0 : c]);
        }
        if (channels == 2 || channels == 4) {
            d[3] = to8(s[channels - 1]);
        } else {
            bool keyed = spec.hasKey;
            for (int c = 0; c < channels; ++c) {
                keyed = keyed && s[c] == spec.key[c];
            }
            d[3] = keyed ? 0 : 255;
        }
    }
    return rgba;
}

// A random image; with transparency, a palette alpha table or a key that about half the
// pixels match.
inline PngSpec randomPng(int colorType, int depth, uint32_t width, uint32_t height, bool interlaced,
                         std::mt19937& rng, bool transparency = false) {
    PngSpec spec;
    spec.width = width;
    spec.height = height;
    spec.colorType = colorType;
    spec.depth = depth;
    spec.interlaced = interlaced;
    const int channels = channelsOf(colorType);
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    const uint32_t range = palette ? 1 + rng() % (1u << depth) : 1u << depth;
    spec.palette.resize(palette ? range * 3 : 0);
    spec.paletteAlpha.resize(palette && transparency ? 1 + rng() % range : 0);
    spec.samples.resize(size_t{width} * height * channels);
    for (auto* values : {&spec.palette, &spec.paletteAlpha}) {
        for (auto& v : *values) {
            v = static_cast<uint8_t>(rng());
        }
    }
    for (auto& s : spec.samples) {
        s = static_cast<uint16_t>(rng() % range);
    }
    spec.hasKey = transparency && !palette;
    if (spec.hasKey) { // pixel 0 gives the key
        std::copy(spec.samples.begin(), spec.samples.begin() + channels, spec.key);
        for (size_t p = 1; p < size_t{width} * height; p += 1 + rng() % 2) {
            std::copy(spec.key, spec.key + channels, &spec.samples[p * channels]);
        }
    }
    return spec;
}

// A PNG file as a list of chunks, for editing.
struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

inline uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

inline std::vector<Chunk> splitChunks(const std::vector<uint8_t>& file) {
    std::vector<Chunk> chunks;
    for (size_t pos = 8; pos + 12 <= file.size(); pos += 12 + be32(&file[pos])) {
        const auto* start = &file[pos + 8];
        chunks.push_back({std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4),
                          std::vector<uint8_t>(start, start + be32(&file[pos]))});
    }
    return chunks;
}

inline std::vector<uint8_t> joinChunks(const std::vector<Chunk>& chunks) {
    std::vector<uint8_t> file = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Chunk& c : chunks) {
        putBe32(file, static_cast<uint32_t>(c.data.size()));
        const size_t start = file.size();
        file.insert(file.end(), c.type.begin(), c.type.end());
        file.insert(file.end(), c.data.begin(), c.data.end());
        putBe32(file, static_cast<uint32_t>(
                          crc32(0, &file[start], static_cast<uInt>(4 + c.data.size()))));
    }
    return file;
}

inline std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& data, int level,
                                         int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, 15, memLevel, strategy) != Z_OK) {
        throw std::runtime_error("zlib deflateInit2 failed");
    }
    std::vector<uint8_t> out(deflateBound(&s, static_cast<uLong>(data.size())));
    s.next_in = const_cast<Bytef*>(data.data());
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("zlib deflate failed");
    }
    return out;
}

// Writes DEFLATE bit streams by hand: values least significant bit first, Huffman codes most
// significant bit first, as the format packs them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 8; // bits used in the last byte

    BitWriter() { bytes.assign(2, 0x78), bytes[1] = 0x01; } // a valid zlib header

    void bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << used++);
        }
    }
    void code(uint32_t value, unsigned length) {
        for (unsigned i = length; i-- > 0;) {
            bits((value >> i) & 1u, 1);
        }
    }
    // A block header: final flag and type (0 stored, 1 fixed, 2 dynamic).
    void block(bool final, unsigned type) {
        bits(final ? 1 : 0, 1);
        bits(type, 2);
    }
    // Fixed-code literal/length symbols.
    void fixed(std::initializer_list<unsigned> symbols) {
        for (unsigned s : symbols) {
            s < 144   ? code(0x30 + s, 8)
            : s < 256 ? code(0x190 + s - 144, 9)
            : s < 280 ? code(s - 256, 7)
                      : code(0xc0 + s - 280, 8);
        }
    }
    // A dynamic block header, then the given code-length symbols, sent through a code-length
    // code in which all 19 symbols have 5-bit codes (symbol s is code s).
    void dynamic(bool final, unsigned literalCount, unsigned distanceCount,
                 const std::vector<uint8_t>& symbols) {
        block(final, 2);
        bits(literalCount - 257, 5);
        bits(distanceCount - 1, 5);
        bits(15, 4);
        for (int i = 0; i < 19; ++i) {
            bits(5, 3);
        }
        for (uint8_t s : symbols) {
            code(s, 5);
        }
    }
};

} // namespace lumo::test

namespace lumo {

// A failed comparison shows the number the texture loader would print.
inline void PrintTo(PngError error, std::ostream* out) {
    *out << int(error);
}

} // namespace lumo
