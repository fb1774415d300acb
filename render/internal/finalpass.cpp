#include "render/internal/finalpass.h"

#include "assets/texture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <new>

namespace lumo {

void clearColorRows(ColorBuffer& color, int rowBegin, int rowEnd) {
    rowBegin = std::clamp(rowBegin, 0, color.height);
    rowEnd = std::clamp(rowEnd, rowBegin, color.height);
    std::memset(static_cast<void*>(color.pixels + size_t(rowBegin) * color.width), 0,
                size_t(rowEnd - rowBegin) * color.width * sizeof(vec4));
}

void markBands(ColorBuffer& color, int rowBegin, int rowEnd, int workerIndex) {
    rowBegin = std::clamp(rowBegin, 0, color.height);
    rowEnd = std::clamp(rowEnd, rowBegin, color.height);
    if (rowEnd == rowBegin) {
        return;
    }
    const vec4 magenta(1.0f, 0.0f, 1.0f, 0.0f);
    auto mark = [&](int row) {
        std::fill(color.pixels + size_t(row) * color.width,
                  color.pixels + size_t(row) * color.width + color.width / 2, magenta);
    };
    mark(rowEnd - 1);
    if (workerIndex == 0 && rowBegin == 0) {
        mark(0);
    }
}

uint32_t resolvePixel(const vec4& c, float bias) {
    // Four channels at once, lanes ordered blue, green, red, alpha so that the
    // packed bytes land in XRGB8888 order. MINPS returns its second operand when
    // the first is NaN, so NaN becomes 255; CVTPS2DQ rounds to nearest even
    // (the default rounding mode) and gives INT_MIN for -inf or huge negatives,
    // which the signed and unsigned saturating packs turn into 0.
    __m128 v = _mm_set_ps(c.w, c.x, c.y, c.z);
    v = _mm_mul_ps(_mm_add_ps(v, _mm_set1_ps(bias)), _mm_set1_ps(256.0f));
    v = _mm_min_ps(v, _mm_set1_ps(255.0f));
    __m128i i = _mm_cvtps_epi32(v);
    i = _mm_packs_epi32(i, i);
    i = _mm_packus_epi16(i, i);
    return uint32_t(_mm_cvtsi128_si32(i));
}

void resolveRows(const ColorBuffer& color, Canvas& canvas, int rowBegin, int rowEnd, int rowOffset,
                 float bias) {
    if (!canvas.pixels) {
        return;
    }
    const int width = std::min(color.width, canvas.width);
    rowBegin = std::max({rowBegin, 0, -rowOffset});
    rowEnd = std::min({rowEnd, color.height, canvas.height - rowOffset});
    for (int y = rowBegin; y < rowEnd; ++y) {
        const vec4* src = color.pixels + size_t(y) * color.width;
        uint32_t* dst = canvas.pixels + size_t(y + rowOffset) * canvas.width;
        for (int x = 0; x < width; ++x) {
            dst[x] = resolvePixel(src[x], bias);
        }
    }
}

namespace {

// One pass of the tent filter over `count` samples spaced `stride` apart: the
// window lives in a ring of 2r + 1 entries; the weighted sum moves on by
// subtracting the entries left of and at the centre and adding those right of
// it. Sums are kept in double so that a constant line stays exactly constant.
struct Accum {
    double x = 0, y = 0, z = 0, w = 0;
    void add(const vec4& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        w += v.w;
    }
    void subtract(const vec4& v) {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        w -= v.w;
    }
    void add(const Accum& a, double k) {
        x += a.x * k;
        y += a.y * k;
        z += a.z * k;
        w += a.w * k;
    }
};

void tentLine(const vec4* in, vec4* out, int count, size_t stride, int r, vec4* ring) {
    const int ringSize = 2 * r + 1;
    auto sample = [&](int i) { return in[size_t(std::clamp(i, 0, count - 1)) * stride]; };
    Accum weighted, left, right;
    for (int i = -r; i <= r; ++i) {
        vec4 s = sample(i);
        ring[i + r] = s;
        double w = double(r + 1 - std::abs(i));
        weighted.add(Accum{s.x * w, s.y * w, s.z * w, s.w * w}, 1.0);
        if (i <= 0) {
            left.add(s);
        } else {
            right.add(s);
        }
    }
    const double norm = double(r + 1) * double(r + 1);
    int oldest = 0; // ring slot of sample x - r
    for (int x = 0; x < count; ++x) {
        out[size_t(x) * stride] = vec4(float(weighted.x / norm), float(weighted.y / norm),
                                       float(weighted.z / norm), float(weighted.w / norm));
        // Move the window from x to x + 1.
        vec4 entering = sample(x + r + 1);
        vec4 leaving = ring[oldest];                         // x - r
        vec4 centreNext = ring[(oldest + r + 1) % ringSize]; // x + 1
        weighted.add(left, -1.0);
        weighted.add(right, 1.0);
        weighted.add(entering);
        left.subtract(leaving);
        left.add(centreNext);
        right.subtract(centreNext);
        right.add(entering);
        ring[oldest] = entering;
        oldest = (oldest + 1) % ringSize;
    }
}

} // namespace

bool blurColorBuffer(ColorBuffer& color, int radius, BlurScratch& scratch) {
    if (radius < 1 || color.width <= 0 || color.height <= 0) {
        return radius < 1;
    }
    const size_t count = size_t(color.width) * color.height;
    const size_t ringSize = 2 * size_t(radius) + 1;
    try {
        if (scratch.temp.size() < count) {
            scratch.temp.resize(count);
        }
        if (scratch.ring.size() < ringSize) {
            scratch.ring.resize(ringSize);
        }
    } catch (const std::exception&) { // bad_alloc, or a radius beyond any vector's size
        return false;
    }
    vec4* temp = scratch.temp.data();
    vec4* ring = scratch.ring.data();
    for (int y = 0; y < color.height; ++y) {
        tentLine(color.pixels + size_t(y) * color.width, temp + size_t(y) * color.width,
                 color.width, 1, radius, ring);
    }
    for (int x = 0; x < color.width; ++x) {
        tentLine(temp + x, color.pixels + x, color.height, size_t(color.width), radius, ring);
    }
    return true;
}

bool blurColorBuffer(ColorBuffer& color, int radius) {
    BlurScratch scratch;
    return blurColorBuffer(color, radius, scratch);
}

void compositeOverlay(ColorBuffer& color, const TextureImage& image, int x0, int y0, float a) {
    if (double(a) < 0.00001) {
        return;
    }
    const int w = image.width;
    const int h = image.height;
    if (w <= 0 || h <= 0 || image.texels.size() < size_t(w) * size_t(h)) {
        return;
    }
    const float keep = 1.0f - a;
    const int iBegin = std::max(0, -x0);
    const int iEnd = std::min(w, color.width - x0);
    for (int j = 0; j < h; ++j) {
        int y = y0 + j;
        if (y >= color.height) {
            break;
        }
        if (y < 0) {
            continue;
        }
        const vec4* src = image.texels.data() + size_t(j) * w;
        vec4* dst = color.pixels + size_t(y) * color.width;
        for (int i = iBegin; i < iEnd; ++i) {
            const vec4& s = src[i];
            vec4& d = dst[x0 + i];
            float sa = 1.0f - s.w;
            d.x = d.x * keep + (d.x * sa + s.x) * a;
            d.y = d.y * keep + (d.y * sa + s.y) * a;
            d.z = d.z * keep + (d.z * sa + s.z) * a;
        }
    }
}

} // namespace lumo
