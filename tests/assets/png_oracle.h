#pragma once
// Test helpers for the PNG decoder and the inflater: PNG files written by libpng from sample
// values we choose (so the expected RGBA is computed independently), chunk-level editing with
// fresh CRCs for crafting broken files, and a bit writer for hand-made DEFLATE streams.

#include <png.h>
#include <zlib.h>

#include <cstdint>
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
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette; // r, g, b triples
    std::vector<uint8_t> paletteAlpha;
    bool hasKey = false;
    uint16_t key[3] = {0, 0, 0}; // grey in key[0], or r, g, b
    bool addText = false;        // ancillary chunks the decoder must skip
};

inline int channelsOf(int colorType) {
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    return channels[colorType];
}

inline std::vector<uint8_t> writePng(const PngSpec& spec) {
    // Warnings (such as palette indices beyond the palette, written on purpose) stay quiet.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                              [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> file;
    const size_t perRow = size_t{spec.width} * channelsOf(spec.colorType);
    std::vector<std::vector<uint8_t>> rows(spec.height,
                                           std::vector<uint8_t>((perRow * spec.depth + 7) / 8));
    std::vector<png_bytep> pointers;
    for (uint32_t y = 0; y < spec.height; ++y) {
        uint8_t* row = rows[y].data();
        pointers.push_back(row);
        for (size_t i = 0; i < perRow; ++i) {
            const uint16_t v = spec.samples[y * perRow + i];
            if (spec.depth == 16) {
                row[i * 2] = static_cast<uint8_t>(v >> 8);
                row[i * 2 + 1] = static_cast<uint8_t>(v);
            } else {
                const size_t bit = i * spec.depth;
                row[bit / 8] |= static_cast<uint8_t>(v << (8 - spec.depth - bit % 8));
            }
        }
    }
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
        std::vector<png_color> colors(spec.palette.size() / 3);
        for (size_t i = 0; i < colors.size(); ++i) {
            colors[i] = {spec.palette[i * 3], spec.palette[i * 3 + 1], spec.palette[i * 3 + 2]};
        }
        png_set_PLTE(png, info, colors.data(), static_cast<int>(colors.size()));
        if (!spec.paletteAlpha.empty()) {
            png_set_tRNS(png, info, spec.paletteAlpha.data(),
                         static_cast<int>(spec.paletteAlpha.size()), nullptr);
        }
    } else if (spec.hasKey) {
        png_color_16 color{0, spec.key[0], spec.key[1], spec.key[2], spec.key[0]};
        png_set_tRNS(png, info, nullptr, 0, &color);
    }
    if (spec.addText) {
        png_text text[2] = {};
        const char* entries[2][2] = {{"Title", "a test image"},
                                     {"Comment", "compressed text, skipped as ancillary"}};
        for (int i = 0; i < 2; ++i) {
            text[i].compression = i == 0 ? PNG_TEXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_zTXt;
            text[i].key = const_cast<char*>(entries[i][0]);
            text[i].text = const_cast<char*>(entries[i][1]);
        }
        png_set_text(png, info, text, 2);
        png_set_gAMA(png, info, 0.45455);
    }
    png_set_rows(png, info, pointers.data());
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

// Fills samples (and palette) with random values. With a key, about one pixel in four
// matches it, and others differ from it in a single channel or (16-bit) only the low byte.
inline void randomize(PngSpec& spec, std::mt19937& rng, bool withTransparency) {
    const int channels = channelsOf(spec.colorType);
    const uint32_t maxValue = (1u << spec.depth) - 1;
    const size_t count = size_t{spec.width} * spec.height;
    spec.samples.assign(count * channels, 0);
    auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    if (spec.colorType == PNG_COLOR_TYPE_PALETTE) {
        const uint32_t entries = 1 + below(maxValue + 1);
        spec.palette.resize(entries * 3);
        for (auto& v : spec.palette) {
            v = static_cast<uint8_t>(rng());
        }
        for (auto& s : spec.samples) {
            s = static_cast<uint16_t>(below(entries));
        }
        spec.paletteAlpha.assign(withTransparency ? 1 + below(entries) : 0, 0);
        for (auto& a : spec.paletteAlpha) {
            a = static_cast<uint8_t>(rng());
        }
        return;
    }
    for (auto& s : spec.samples) {
        s = static_cast<uint16_t>(below(maxValue + 1));
    }
    spec.hasKey = withTransparency;
    if (!withTransparency) {
        return;
    }
    for (auto& k : spec.key) {
        k = static_cast<uint16_t>(below(maxValue + 1));
    }
    for (size_t p = 0; p < count; ++p) {
        const uint32_t pick = below(4);
        uint16_t* s = &spec.samples[p * channels];
        if (pick < 2) {
            for (int c = 0; c < channels; ++c) {
                s[c] = spec.key[c];
            }
        }
        if (pick == 1) {
            uint16_t& c = s[below(channels)];
            c = static_cast<uint16_t>(spec.depth == 16 ? c ^ 1 : (c + 1) & maxValue);
        }
    }
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
        for (unsigned symbol : symbols) {
            if (symbol < 144) {
                code(0x30 + symbol, 8);
            } else if (symbol < 256) {
                code(0x190 + symbol - 144, 9);
            } else if (symbol < 280) {
                code(symbol - 256, 7);
            } else {
                code(0xc0 + symbol - 280, 8);
            }
        }
    }
    // Dynamic block header with the given code lengths, sent without repeat codes through a
    // code-length code in which all 19 symbols have 5-bit codes (symbol s is code s).
    void dynamicHeader(bool final, const std::vector<uint8_t>& literal,
                       const std::vector<uint8_t>& distance) {
        beginDynamic(final, static_cast<unsigned>(literal.size()),
                     static_cast<unsigned>(distance.size()));
        for (const auto* lengths : {&literal, &distance}) {
            for (uint8_t l : *lengths) {
                code(l, 5);
            }
        }
    }
    // The header up to the code-length sequence, which the caller writes with code(symbol, 5).
    void beginDynamic(bool final, unsigned literalCount, unsigned distanceCount) {
        block(final, 2);
        bits(literalCount - 257, 5);
        bits(distanceCount - 1, 5);
        bits(15, 4);
        for (int i = 0; i < 19; ++i) {
            bits(5, 3);
        }
    }
};

// Canonical codes for a list of code lengths (the DEFLATE construction).
inline std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t counts[16] = {}, next[16] = {};
    for (uint8_t l : lengths) {
        ++counts[l];
    }
    counts[0] = 0;
    uint32_t code = 0;
    for (int len = 1; len < 16; ++len) {
        next[len] = code = (code + counts[len - 1]) << 1;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s) {
        codes[s] = lengths[s] != 0 ? next[lengths[s]]++ : 0;
    }
    return codes;
}

} // namespace lumo::test
