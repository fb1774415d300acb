#pragma once
// Test helpers for the PNG decoder and encoder, the inflater and the deflater: PNG files written
// by libpng from sample values we choose (so the expected RGBA is computed independently),
// libpng's reading of a file, chunk-level editing with fresh CRCs for crafting broken files, and
// zlib's compressor.

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
struct PngPlan {
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

inline std::vector<uint8_t> writePng(const PngPlan& plan) {
    // One sample a byte (libpng packs the small depths), 16-bit ones big-endian.
    const size_t bytes = plan.depth == 16 ? 2 : 1;
    std::vector<uint8_t> pixels(plan.samples.size() * bytes), file;
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] =
            static_cast<uint8_t>(plan.samples[i / bytes] >> (i % bytes == bytes - 1 ? 0 : 8));
    }
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < plan.height; ++y) {
        rows.push_back(&pixels[y * (pixels.size() / plan.height)]);
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
    png_set_IHDR(png, info, plan.width, plan.height, plan.depth, plan.colorType,
                 plan.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, plan.filters);
    png_set_compression_level(png, plan.level);
    png_set_compression_buffer_size(png, plan.idatSize);
    if (plan.colorType == PNG_COLOR_TYPE_PALETTE) {
        static_assert(sizeof(png_color) == 3);
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(plan.palette.data()),
                     static_cast<int>(plan.palette.size() / 3));
    }
    png_color_16 color{0, plan.key[0], plan.key[1], plan.key[2], plan.key[0]};
    if (!plan.paletteAlpha.empty() || plan.hasKey) {
        png_set_tRNS(png, info, plan.paletteAlpha.data(),
                     static_cast<int>(plan.paletteAlpha.size()), &color);
    }
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_PACKING, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

// libpng's 8-bit RGBA of a file (opaque alpha added to RGB), or nothing when libpng refuses it,
// as it does a file with a wrong CRC or a zlib stream with a wrong checksum.
inline std::vector<uint8_t> readPngRgba(const std::vector<uint8_t>& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        return {};
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    return pixels;
}

// The RGBA bytes the decoder must produce for plan, computed from the samples.
inline std::vector<uint8_t> expectedRgba(const PngPlan& plan) {
    const int channels = channelsOf(plan.colorType);
    std::vector<uint8_t> rgba;
    auto to8 = [&](uint16_t v) {
        return static_cast<uint8_t>(plan.depth == 16 ? v >> 8 : v * 255 / ((1 << plan.depth) - 1));
    };
    for (size_t p = 0; p < plan.samples.size(); p += channels) {
        const uint16_t* s = &plan.samples[p];
        if (plan.colorType == PNG_COLOR_TYPE_PALETTE) {
            rgba.insert(rgba.end(), &plan.palette[s[0] * 3], &plan.palette[s[0] * 3 + 3]);
            rgba.push_back(s[0] < plan.paletteAlpha.size() ? plan.paletteAlpha[s[0]] : 255);
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            rgba.push_back(to8(s[channels < 3 ? 0 : c])); // grey fills all three
        }
        const bool alpha = channels == 2 || channels == 4;
        const bool keyed = !alpha && plan.hasKey && std::equal(s, s + channels, plan.key);
        rgba.push_back(alpha ? to8(s[channels - 1]) : keyed ? 0 : 255);
    }
    return rgba;
}

// A random image; with transparency, a palette alpha table or a key that about half the
// pixels match.
inline PngPlan randomPng(int colorType, int depth, uint32_t width, uint32_t height, bool interlaced,
                         std::mt19937& rng, bool transparency = false) {
    PngPlan plan{.width = width,
                 .height = height,
                 .colorType = colorType,
                 .depth = depth,
                 .interlaced = interlaced};
    const int channels = channelsOf(colorType);
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    const uint32_t range = palette ? 1 + rng() % (1u << depth) : 1u << depth;
    plan.palette.resize(palette ? range * 3 : 0);
    plan.paletteAlpha.resize(palette && transparency ? 1 + rng() % range : 0);
    plan.samples.resize(size_t{width} * height * channels);
    for (auto* values : {&plan.palette, &plan.paletteAlpha}) {
        std::generate(values->begin(), values->end(), [&] { return static_cast<uint8_t>(rng()); });
    }
    std::generate(plan.samples.begin(), plan.samples.end(),
                  [&] { return static_cast<uint16_t>(rng() % range); });
    plan.hasKey = transparency && !palette;
    if (plan.hasKey) { // pixel 0 gives the key
        std::copy(plan.samples.begin(), plan.samples.begin() + channels, plan.key);
        for (size_t p = 1; p < size_t{width} * height; p += 1 + rng() % 2) {
            std::copy(plan.key, plan.key + channels, &plan.samples[p * channels]);
        }
    }
    return plan;
}

// A PNG file as a list of chunks, for editing.
struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

inline std::vector<Chunk> splitChunks(const std::vector<uint8_t>& file) {
    std::vector<Chunk> chunks;
    for (size_t pos = 8, length; pos + 12 <= file.size(); pos += 12 + length) {
        length = size_t{file[pos]} << 24 | file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
        const uint8_t* start = &file[pos + 8];
        chunks.push_back({std::string(start - 4, start), {start, start + length}});
    }
    return chunks;
}

// The chunks as a file, with fresh CRCs or, when told, every CRC wrong.
inline std::vector<uint8_t> joinChunks(const std::vector<Chunk>& chunks, bool badCrcs = false) {
    std::vector<uint8_t> file = {137, 80, 78, 71, 13, 10, 26, 10};
    auto putBe32 = [&](uint32_t v) {
        const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        file.insert(file.end(), bytes, bytes + 4);
    };
    for (const Chunk& c : chunks) {
        putBe32(static_cast<uint32_t>(c.data.size()));
        const size_t start = file.size();
        file.insert(file.end(), c.type.begin(), c.type.end());
        file.insert(file.end(), c.data.begin(), c.data.end());
        putBe32(crc32(0, &file[start], static_cast<uInt>(4 + c.data.size())) ^
                (badCrcs ? 0x5a : 0));
    }
    return file;
}

inline std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& data, int level,
                                         int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
    std::vector<uint8_t> out(data.size() + data.size() / 8 + 64); // room for stored blocks
    z_stream s{};
    s.next_in = const_cast<Bytef*>(data.data());
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (deflateInit2(&s, level, Z_DEFLATED, 15, memLevel, strategy) != Z_OK ||
        deflate(&s, Z_FINISH) != Z_STREAM_END || deflateEnd(&s) != Z_OK) {
        throw std::runtime_error("zlib failed to compress the test data");
    }
    out.resize(s.total_out);
    return out;
}

} // namespace lumo::test

namespace lumo {

// A failed comparison shows the number the texture loader would print.
inline void PrintTo(PngError error, std::ostream* out) {
    *out << int(error);
}

} // namespace lumo
