// PNG decoding speed: our decoder against libpng on the same files, in the same run.
// Prints MB/s of RGBA output (8-bit, 4 bytes per pixel) for both, and the ratio.
//
//   bench_png [repetitions]

#include "assets/png.h"
#include "sys/threads.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

struct Source {
    const char* name;
    uint32_t width;
    uint32_t height;
    int colorType;
    std::vector<uint8_t> file;
};

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Texture-like content: smooth gradients with some noise, so the filters and the compressor
// meet what real textures give them rather than pure noise or flat colour.
std::vector<uint8_t> writeImage(uint32_t width, uint32_t height, int colorType) {
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
    std::mt19937 rng(1234);
    std::vector<uint8_t> pixels(size_t{width} * height * channels);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t{y} * width + x) * channels];
            const double wave = std::sin(x * 0.02) * std::cos(y * 0.03);
            for (int c = 0; c < channels; ++c) {
                const double v = 128 + 100 * wave * (c + 1) / channels + (rng() % 16) + c * 20;
                p[c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
            if (channels == 1) {
                p[0] = static_cast<uint8_t>((p[0] / 8) * 8 + (x / 64 + y / 64) % 8); // 256 indices
            }
        }
    }
    std::vector<uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("libpng failed to write");
    }
    png_set_write_fn(png, &file, appendBytes, nullptr);
    png_set_IHDR(png, info, width, height, 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> palette(256);
        for (int i = 0; i < 256; ++i) {
            palette[i] = {static_cast<png_byte>(i), static_cast<png_byte>(255 - i),
                          static_cast<png_byte>(i * 7)};
        }
        png_set_PLTE(png, info, palette.data(), 256);
        std::vector<png_byte> alpha(256);
        for (int i = 0; i < 256; ++i) {
            alpha[i] = static_cast<png_byte>(255 - i / 4);
        }
        png_set_tRNS(png, info, alpha.data(), 256, nullptr);
    }
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = &pixels[size_t{y} * width * channels];
    }
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

struct Reader {
    const std::vector<uint8_t>* file;
    size_t pos;
};

// libpng's classic API, asked for the same 8-bit RGBA output our decoder gives.
std::vector<uint8_t> decodeWithLibpng(const std::vector<uint8_t>& file) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> pixels;
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("libpng failed to read");
    }
    Reader reader{&file, 0};
    png_set_read_fn(png, &reader, [](png_structp p, png_bytep data, png_size_t length) {
        auto* r = static_cast<Reader*>(png_get_io_ptr(p));
        std::copy_n(r->file->data() + r->pos, length, data);
        r->pos += length;
    });
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    pixels.resize(size_t{width} * height * 4);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = &pixels[size_t{y} * width * 4];
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return pixels;
}

// Thread CPU time rather than wall-clock time: the figures stay comparable on a machine shared
// with builds and other jobs. The best of several runs is the least disturbed one.
template <typename F>
double bestSeconds(int repetitions, F&& run) {
    double best = 1e30;
    for (int i = 0; i < repetitions; ++i) {
        const double start = lumo::sys::threadCpuSeconds();
        run();
        best = std::min(best, lumo::sys::threadCpuSeconds() - start);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<Source> sources = {
        {"1024 x 1024 RGBA", 1024, 1024, PNG_COLOR_TYPE_RGBA, {}},
        {"2048 x 2048 palette", 2048, 2048, PNG_COLOR_TYPE_PALETTE, {}},
    };
    std::printf("best of %d runs in thread CPU time; MB/s of RGBA output (1 MB = 10^6 bytes)\n",
                repetitions);
    for (Source& s : sources) {
        s.file = writeImage(s.width, s.height, s.colorType);
        lumo::PngImage image;
        if (lumo::decodePng(s.file.data(), s.file.size(), image) != lumo::PngError::None ||
            image.pixels != decodeWithLibpng(s.file)) {
            std::printf("%s: decoders disagree\n", s.name);
            return 1;
        }
        const double ours = bestSeconds(repetitions, [&] {
            lumo::PngImage out;
            lumo::decodePng(s.file.data(), s.file.size(), out);
        });
        const double theirs = bestSeconds(repetitions, [&] { decodeWithLibpng(s.file); });
        const double megabytes = double(s.width) * s.height * 4 / 1e6;
        std::printf("%-20s file %7.2f MB  ours %8.1f MB/s  libpng %8.1f MB/s  ours/libpng %.2f\n",
                    s.name, s.file.size() / 1e6, megabytes / ours, megabytes / theirs,
                    theirs / ours);
    }
    return 0;
}
