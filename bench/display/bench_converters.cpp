// Pixel converters over one 640 x 360 picture: pixels per second and MB/s of
// destination written, for every source and destination pair.

#include "display/converters.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

constexpr int kPixels = 640 * 360;

void convertPicture(benchmark::State& state) {
    int source = int(state.range(0)), destination = int(state.range(1));
    std::vector<std::uint8_t> in(std::size_t(kPixels) * pixelSize(source));
    std::vector<std::uint8_t> out(std::size_t(kPixels) * pixelSize(destination));
    if (source == FormatXRGB8888) {
        for (std::size_t i = 0; i < in.size(); ++i) {
            in[i] = std::uint8_t(i * 37);
        }
    } else {
        auto* f = reinterpret_cast<float*>(in.data());
        for (int i = 0; i < kPixels * 4; ++i) {
            f[i] = float(i % 1000) / 900.0f - 0.05f;
        }
    }
    Converter* converter = requestConverter(source, destination);
    for (auto _ : state) {
        converter->convert(in.data(), out.data(), kPixels);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * std::int64_t(out.size()));
}

} // namespace

BENCHMARK(convertPicture)->ArgsProduct({{1, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
