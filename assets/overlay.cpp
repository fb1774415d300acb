#include "assets/overlay.h"

#include "assets/files.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

namespace lumo {

namespace {

struct Tap {
    int index; // source texel along the axis
    double weight;
};

// The taps of every output texel along one axis: output x reads
// taps[begin[x]] .. taps[begin[x + 1] - 1]; their weights add up to 1.
struct AxisFilter {
    std::vector<size_t> begin;
    std::vector<Tap> taps;
};

AxisFilter axisFilter(int source, int size) {
    AxisFilter filter;
    filter.begin.reserve(size_t(size) + 1);
    filter.begin.push_back(0);
    for (int x = 0; x < size; ++x) {
        if (source > size) {
            // The span [low, high) of source texels that output texel x covers: high is
            // exactly `source` for the last one, so the span never leaves the image.
            const double low = double(x) * source / size;
            const double high = double(x + 1) * source / size;
            const int last = std::min(source, int(std::ceil(high))) - 1;
            for (int i = int(low); i <= last; ++i) {
                const double covered = std::min(high, double(i + 1)) - std::max(low, double(i));
                if (covered > 0.0) {
                    filter.taps.push_back({i, covered / (high - low)});
                }
            }
        } else {
            const double centre = (double(x) + 0.5) * source / size - 0.5;
            const double below = std::floor(centre);
            const double t = centre - below;
            const int i = int(below);
            filter.taps.push_back({std::clamp(i, 0, source - 1), 1.0 - t});
            if (t > 0.0) {
                filter.taps.push_back({std::clamp(i + 1, 0, source - 1), t});
            }
        }
        filter.begin.push_back(filter.taps.size());
    }
    return filter;
}

bool usable(const TextureImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.texels.size() == size_t(image.width) * size_t(image.height);
}

// The 3x copy of overlay `name` from its file, or nullptr when there is none. A
// missing file is expected (older data, or a name without one): only a file that
// is there goes to the loader, which reports one that does not decode.
std::unique_ptr<TextureImage> loadLargerCopy(const std::string& directory,
                                             const std::string& name) {
    if (name.size() <= 4 || !endsWithIgnoringCase(name, ".png")) {
        return nullptr;
    }
    const std::string file = name.substr(0, name.size() - 4) + "@3x" + name.substr(name.size() - 4);
    std::error_code error;
    if (!std::filesystem::is_regular_file(directory + file, error)) {
        return nullptr;
    }
    std::unique_ptr<Texture> texture = loadTexture(directory, file);
    if (texture->image == nullptr || !usable(*texture->image)) {
        return nullptr;
    }
    return std::move(texture->image);
}

} // namespace

TextureImage resampleImage(const TextureImage& source, int width, int height) {
    TextureImage out;
    if (!usable(source) || width < 1 || height < 1 ||
        uint64_t(width) * uint64_t(height) > kMaxResampleTexels) {
        return out;
    }
    const AxisFilter across = axisFilter(source.width, width);
    const AxisFilter down = axisFilter(source.height, height);
    out.width = width;
    out.height = height;
    out.texels.resize(size_t(width) * size_t(height));
    // One output row at a time: its source rows summed into `row`, then the row's
    // texels summed across, all in double; only the result is rounded to float.
    std::vector<std::array<double, 4>> row(size_t(source.width));
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), std::array<double, 4>{});
        for (size_t k = down.begin[size_t(y)]; k < down.begin[size_t(y) + 1]; ++k) {
            const Tap tap = down.taps[k];
            const vec4* line = &source.texels[size_t(tap.index) * size_t(source.width)];
            for (size_t x = 0; x < row.size(); ++x) {
                row[x][0] += tap.weight * line[x].x;
                row[x][1] += tap.weight * line[x].y;
                row[x][2] += tap.weight * line[x].z;
                row[x][3] += tap.weight * line[x].w;
            }
        }
        vec4* target = &out.texels[size_t(y) * size_t(width)];
        for (int x = 0; x < width; ++x) {
            std::array<double, 4> sum{};
            for (size_t k = across.begin[size_t(x)]; k < across.begin[size_t(x) + 1]; ++k) {
                const Tap tap = across.taps[k];
                for (int c = 0; c < 4; ++c) {
                    sum[size_t(c)] += tap.weight * row[size_t(tap.index)][size_t(c)];
                }
            }
            target[x] = vec4(float(sum[0]), float(sum[1]), float(sum[2]), float(sum[3]));
        }
    }
    return out;
}

std::unique_ptr<TextureImage> overlayForScale(const TextureStore& store,
                                              const std::string& directory, const std::string& name,
                                              double scale) {
    if (!(scale > 0.0) || !std::isfinite(scale)) {
        return nullptr;
    }
    // Index 0 is the placeholder, the store's answer for a name it does not have.
    const int index = store.find(name);
    const TextureImage* one =
        index != 0 && store[index].image != nullptr && usable(*store[index].image)
            ? store[index].image.get()
            : nullptr;
    // From 2 up the 3x image is the nearer one; below, its file is read only when
    // there is no 1x image.
    std::unique_ptr<TextureImage> three;
    if (one == nullptr || scale >= 2.0) {
        three = loadLargerCopy(directory, name);
    }
    if (one == nullptr && three == nullptr) {
        return nullptr;
    }
    const double baseWidth = one != nullptr ? one->width : three->width / 3.0;
    const double baseHeight = one != nullptr ? one->height : three->height / 3.0;
    const double width = std::max(1.0, std::round(baseWidth * scale));
    const double height = std::max(1.0, std::round(baseHeight * scale));
    if (width * height > double(kMaxResampleTexels)) {
        return nullptr;
    }
    const TextureImage& chosen = three != nullptr ? *three : *one;
    if (chosen.width == int(width) && chosen.height == int(height)) {
        return three != nullptr ? std::move(three) : std::make_unique<TextureImage>(*one);
    }
    return std::make_unique<TextureImage>(resampleImage(chosen, int(width), int(height)));
}

} // namespace lumo
