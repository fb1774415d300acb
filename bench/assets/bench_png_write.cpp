// PNG encoding speed and size: our encoder against libpng (with zlib) at the same levels, on
// the same pictures, such as demo frames from `lumo --frame T --out f.png` or the generated
// textures. A picture is encoded as RGB when it is opaque, else as RGBA. libpng is set up as
// our frame writer used it: "up" on every row at the fast levels, its own filter choice above.
// MB/s are of pixel bytes in; `ratio` is the files' bytes over the pixel bytes.
//
//   bench_png_write [benchmark options] FRAME.png...

#include "assets/png.h"
#include "assets/png_write.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Picture {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;
    std::vector<uint8_t> pixels; // 3 or 4 bytes a pixel
};

std::vector<Picture> gPictures;

bool loadPicture(const char* path, Picture& picture) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(file);
    lumo::PngImage image;
    if (lumo::decodePng(bytes.data(), bytes.size(), image) != lumo::PngError::None) {
        return false;
    }
    picture.name = path;
    picture.name = picture.name.substr(picture.name.find_last_of('/') + 1);
    picture.width = image.width;
    picture.height = image.height;
    const size_t count = size_t{image.width} * image.height;
    for (size_t p = 0; p < count; ++p) {
        picture.alpha = picture.alpha || image.pixels[p * 4 + 3] != 255;
    }
    if (picture.alpha) {
        picture.pixels = std::move(image.pixels);
        return true;
    }
    picture.pixels.resize(count * 3);
    for (size_t p = 0; p < count; ++p) {
        std::copy_n(&image.pixels[p * 4], 3, &picture.pixels[p * 3]);
    }
    return true;
}

std::vector<uint8_t> encodeWithLibpng(const Picture& picture, int level) {
    std::vector<uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("libpng failed to write");
    }
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + length);
        },
        nullptr);
    png_set_compression_level(png, level);
    if (level <= 3) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, picture.width, picture.height, 8,
                 picture.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t rowBytes = picture.pixels.size() / picture.height;
    for (uint32_t y = 0; y < picture.height; ++y) {
        png_write_row(png, &picture.pixels[y * rowBytes]);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

std::vector<uint8_t> encodeWithOurs(const Picture& picture, int level) {
    std::vector<uint8_t> file;
    std::string error;
    const auto color = picture.alpha ? lumo::PngColor::Rgba : lumo::PngColor::Rgb;
    if (!lumo::encodePng(
            lumo::packedRows(picture.pixels.data(), picture.width, picture.height, color), level,
            file, error)) {
        throw std::runtime_error(error);
    }
    return file;
}

// All pictures in turn per iteration; the counters are per iteration.
template <bool Ours>
void encodeAll(benchmark::State& state) {
    const int level = int(state.range(0));
    size_t inBytes = 0, outBytes = 0;
    for (auto _ : state) {
        inBytes = outBytes = 0;
        for (const Picture& picture : gPictures) {
            const auto file =
                Ours ? encodeWithOurs(picture, level) : encodeWithLibpng(picture, level);
            benchmark::DoNotOptimize(file.data());
            inBytes += picture.pixels.size();
            outBytes += file.size();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * inBytes));
    state.counters["file_KB"] = double(outBytes) / 1e3 / double(gPictures.size());
    state.counters["ratio"] = double(outBytes) / double(inBytes);
}

BENCHMARK_TEMPLATE(encodeAll, true)->Name("ours")->DenseRange(0, 9)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(encodeAll, false)
    ->Name("libpng")
    ->Arg(1)
    ->Arg(6)
    ->Arg(9)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        Picture picture;
        if (!loadPicture(argv[i], picture)) {
            std::fprintf(stderr, "bench_png_write: cannot read %s as a PNG\n", argv[i]);
            return 1;
        }
        // Both encoders must give the same pixels back.
        for (int level : {1, 9}) {
            for (bool ours : {true, false}) {
                const auto file =
                    ours ? encodeWithOurs(picture, level) : encodeWithLibpng(picture, level);
                lumo::PngImage back;
                if (lumo::decodePng(file.data(), file.size(), back) != lumo::PngError::None) {
                    std::fprintf(stderr, "bench_png_write: %s at level %d does not decode\n",
                                 ours ? "ours" : "libpng", level);
                    return 1;
                }
                const size_t channels = picture.alpha ? 4 : 3;
                for (size_t p = 0; p < size_t{picture.width} * picture.height; ++p) {
                    if (!std::equal(&back.pixels[p * 4], &back.pixels[p * 4 + channels],
                                    &picture.pixels[p * channels])) {
                        std::fprintf(stderr, "bench_png_write: %s at level %d changed %s\n",
                                     ours ? "ours" : "libpng", level, picture.name.c_str());
                        return 1;
                    }
                }
            }
        }
        gPictures.push_back(std::move(picture));
    }
    if (gPictures.empty()) {
        std::fprintf(stderr, "usage: bench_png_write [benchmark options] FRAME.png...\n");
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
