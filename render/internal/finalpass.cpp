#include "render/internal/finalpass.h"

#include "assets/texture.h"
#include "render/internal/finalpass_lanes.h"
#include "render/simd.h"

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

namespace {

Extent cut(const ColorBuffer& color, Extent picture) {
    return {std::clamp(picture.width, 0, color.width), std::clamp(picture.height, 0, color.height)};
}

} // namespace

void markBands(ColorBuffer& color, Extent picture, int rowBegin, int rowEnd, int workerIndex,
               int thickness) {
    picture = cut(color, picture);
    rowBegin = std::clamp(rowBegin, 0, picture.height);
    rowEnd = std::clamp(rowEnd, rowBegin, picture.height);
    if (rowEnd == rowBegin) {
        return;
    }
    const vec4 magenta(1.0f, 0.0f, 1.0f, 0.0f);
    auto mark = [&](int first, int end) {
        for (int row = first; row < end; ++row) {
            std::fill(color.pixels + size_t(row) * color.width,
                      color.pixels + size_t(row) * color.width + picture.width / 2, magenta);
        }
    };
    thickness = std::max(thickness, 1);
    mark(std::max(rowBegin, rowEnd - thickness), rowEnd);
    if (workerIndex == 0 && rowBegin == 0) {
        mark(0, std::min(rowEnd, thickness));
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

namespace finalpass {

uint32_t resolvePixelScalar(const vec4& c, float bias) {
    auto channel = [bias](float value) -> uint32_t {
        const float v = (value + bias) * 256.0f;
        if (!(v < 255.0f)) {
            return 255; // NaN too
        }
        const float rounded = std::nearbyint(v); // to nearest, ties to even
        return rounded > 0.0f ? uint32_t(rounded) : 0;
    };
    return channel(c.w) << 24 | channel(c.x) << 16 | channel(c.y) << 8 | channel(c.z);
}

void resolveScalar(const vec4* src, uint32_t* dst, size_t count, float bias) {
    for (size_t i = 0; i < count; ++i) {
        dst[i] = resolvePixelScalar(src[i], bias);
    }
}

void resolveSse(const vec4* src, uint32_t* dst, size_t count, float bias) {
    // Four pixels a step, each register one pixel turned to blue, green, red,
    // alpha; the two packs then lay the sixteen bytes out as four XRGB words.
    const __m128 b = _mm_set1_ps(bias), scale = _mm_set1_ps(256.0f), cap = _mm_set1_ps(255.0f);
    auto channels = [&](const vec4& c) {
        __m128 v = _mm_load_ps(&c.x);
        v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
        v = _mm_mul_ps(_mm_add_ps(v, b), scale);
        return _mm_cvtps_epi32(_mm_min_ps(v, cap));
    };
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p01 = _mm_packs_epi32(channels(src[i]), channels(src[i + 1]));
        const __m128i p23 = _mm_packs_epi32(channels(src[i + 2]), channels(src[i + 3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(p01, p23));
    }
    for (; i < count; ++i) {
        dst[i] = resolvePixel(src[i], bias);
    }
}

} // namespace finalpass

namespace {

int64_t colourBytes(Extent picture) {
    return int64_t(picture.width) * picture.height * int64_t(sizeof(vec4));
}

// Results go past the cache only where the picture would not stay in it: at
// 640 x 360 (3.7 MB of colour) the blur's streaming costs a sixth more, at
// 1280 x 720 it saves a third. The canvas of such a picture is streamed too:
// at 1920 x 1080 that takes a tenth off a resolve of the whole picture.
bool streamed(Extent picture) {
    constexpr int64_t kCachedBytes = 8 << 20;
    return colourBytes(picture) > kCachedBytes;
}

// The blur's results are what the output pass reads next. Up to 1280 x 720
// (15 MB of colour) they stay in the shared cache when written through it, and
// that pays: the blur took a third less there and the output pass half. From
// 1920 x 1080 on they do not all stay, and written through the cache each
// line is first read from memory: streamed, a blurred frame at 1920 x 1080 took
// as long on a quiet machine and a sixth less while other programs used the
// memory, and one at 2560 x 1440 about as long.
bool blurredStreamed(Extent picture) {
    constexpr int64_t kReadSoonBytes = 16 << 20;
    return colourBytes(picture) > kReadSoonBytes;
}

} // namespace

void resolveRows(const ColorBuffer& color, Extent picture, Canvas& canvas, int left, int top,
                 int rowBegin, int rowEnd, float bias) {
    if (!canvas.pixels) {
        return;
    }
    picture = cut(color, picture);
    // The picture's columns [columnBegin, columnEnd) land inside the canvas.
    const int columnBegin = std::max(0, -left);
    const int columnEnd = std::min(picture.width, canvas.width - left);
    const int width = columnEnd - columnBegin;
    rowBegin = std::max({rowBegin, 0, -top});
    rowEnd = std::min({rowEnd, picture.height, canvas.height - top});
    if (width <= 0 || rowEnd <= rowBegin) {
        return;
    }
    auto* resolve = activeSimdPath() != SimdPath::Avx2 ? finalpass::resolveSse
                    : streamed(picture)                ? finalpass::resolveAvx2Streamed
                                                       : finalpass::resolveAvx2;
    const vec4* src = color.pixels + size_t(rowBegin) * color.width + columnBegin;
    uint32_t* dst = canvas.pixels + size_t(rowBegin + top) * canvas.width + (left + columnBegin);
    if (width == color.width && width == canvas.width) {
        // Both rows run on without a gap: the band is one span, with one tail.
        resolve(src, dst, size_t(rowEnd - rowBegin) * size_t(width), bias);
        return;
    }
    for (int y = rowBegin; y < rowEnd; ++y) {
        resolve(src, dst, size_t(width), bias);
        src += color.width;
        dst += canvas.width;
    }
}

namespace finalpass {

namespace {

// The tent filter's sums, in double so that a constant line stays exactly
// constant.
struct Accum {
    double x = 0, y = 0, z = 0, w = 0;
    void add(const RingSample& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        w += v.w;
    }
    void subtract(const RingSample& v) {
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

} // namespace

// The window lives in a ring of 2r + 1 entries; the weighted sum moves on by
// subtracting the entries left of and at the centre and adding those right of
// it. The ring slots step on by comparison, not by a remainder: a division per
// sample would cost more than the sums.
void tentLineScalar(const vec4* in, vec4* out, int count, size_t stride, int r, RingSample* ring) {
    const int ringSize = 2 * r + 1;
    auto sample = [&](int i) {
        const vec4& s = in[size_t(std::clamp(i, 0, count - 1)) * stride];
        return RingSample{s.x, s.y, s.z, s.w};
    };
    Accum weighted, left, right;
    for (int i = -r; i <= r; ++i) {
        const RingSample s = sample(i);
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
    int oldest = 0;     // ring slot of sample x - r
    int centre = r + 1; // ring slot of sample x + 1
    for (int x = 0; x < count; ++x) {
        out[size_t(x) * stride] = vec4(float(weighted.x / norm), float(weighted.y / norm),
                                       float(weighted.z / norm), float(weighted.w / norm));
        // Move the window from x to x + 1.
        const RingSample entering = sample(x + r + 1);
        const RingSample leaving = ring[oldest];
        const RingSample centreNext = ring[centre];
        weighted.add(left, -1.0);
        weighted.add(right, 1.0);
        weighted.add(entering);
        left.subtract(leaving);
        left.add(centreNext);
        right.subtract(centreNext);
        right.add(entering);
        ring[oldest] = entering;
        oldest = oldest + 1 == ringSize ? 0 : oldest + 1;
        centre = centre + 1 == ringSize ? 0 : centre + 1;
    }
}

} // namespace finalpass

bool blurPrepare(const ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch,
                 int parts) {
    picture = cut(color, picture);
    if (radius < 1 || picture.width <= 0 || picture.height <= 0 || parts < 1) {
        return false;
    }
    // Row-major rows for the scalar twin, column blocks for the AVX2 path.
    const size_t count = std::max(size_t(color.width), size_t(picture.width + 3) & ~size_t(3)) *
                         size_t(picture.height);
    const size_t ringSize = (2 * size_t(radius) + 1) * finalpass::kTentLinesInStep * size_t(parts);
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
    return true;
}

namespace {

finalpass::RingSample* ringOf(BlurScratch& scratch, int radius, int part) {
    return scratch.ring.data() + (2 * size_t(radius) + 1) * finalpass::kTentLinesInStep * part;
}

} // namespace

// The scratch rows keep the colour buffer's stride, so both passes step
// through either buffer alike; only the picture's own pixels are read and
// written, and its borders clamp the filter.
void blurRows(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch, int part,
              int begin, int end) {
    picture = cut(color, picture);
    const int stride = color.width, width = picture.width;
    begin = std::clamp(begin, 0, picture.height);
    end = std::clamp(end, begin, picture.height);
    finalpass::RingSample* ring = ringOf(scratch, radius, part);
    const vec4* in = color.pixels + size_t(begin) * stride;
    vec4* out = scratch.temp.data() + size_t(begin) * stride;
    if (activeSimdPath() == SimdPath::Avx2) {
        finalpass::tentRowsAvx2(in, size_t(stride), end - begin, width,
                                scratch.temp.data() + 4 * size_t(begin), 4 * size_t(picture.height),
                                radius, ring, streamed(picture));
        return;
    }
    for (int y = begin; y < end; ++y, in += stride, out += stride) {
        finalpass::tentLineScalar(in, out, width, 1, radius, ring);
    }
}

void blurColumns(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch, int part,
                 int begin, int end) {
    picture = cut(color, picture);
    const int stride = color.width, height = picture.height;
    begin = std::clamp(begin, 0, picture.width);
    end = std::clamp(end, begin, picture.width);
    finalpass::RingSample* ring = ringOf(scratch, radius, part);
    if (activeSimdPath() == SimdPath::Avx2) {
        finalpass::tentColumnsAvx2(scratch.temp.data(), 4 * size_t(height), begin, end, height,
                                   color.pixels, size_t(stride), radius, ring,
                                   blurredStreamed(picture));
        return;
    }
    const vec4* in = scratch.temp.data() + begin;
    vec4* out = color.pixels + begin;
    for (int x = begin; x < end; ++x, ++in, ++out) {
        finalpass::tentLineScalar(in, out, height, size_t(stride), radius, ring);
    }
}

bool blurColorBuffer(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch) {
    picture = cut(color, picture);
    if (radius < 1 || picture.width <= 0 || picture.height <= 0) {
        return radius < 1;
    }
    if (!blurPrepare(color, picture, radius, scratch, 1)) {
        return false;
    }
    blurRows(color, picture, radius, scratch, 0, 0, picture.height);
    blurColumns(color, picture, radius, scratch, 0, 0, picture.width);
    return true;
}

bool blurColorBuffer(ColorBuffer& color, int radius) {
    BlurScratch scratch;
    return blurColorBuffer(color, wholeBuffer(color), radius, scratch);
}

namespace {

// The image's columns or rows that land inside the picture; in 64 bits, so
// that a position far off the picture cannot wrap around into it.
RowSpan inside(int64_t origin, int size, int limit) {
    const int begin = int(std::clamp<int64_t>(-origin, 0, size));
    return {begin, int(std::clamp<int64_t>(int64_t(limit) - origin, begin, size))};
}

bool drawable(const TextureImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.texels.size() >= size_t(image.width) * size_t(image.height);
}

} // namespace

RowSpan overlayRows(Extent picture, const TextureImage& image, int y0) {
    if (!drawable(image)) {
        return {};
    }
    const RowSpan rows = inside(y0, image.height, picture.height);
    return {y0 + rows.begin, y0 + rows.end};
}

void compositeOverlay(ColorBuffer& color, Extent picture, const TextureImage& image, int x0, int y0,
                      float a) {
    compositeOverlayRows(color, picture, image, x0, y0, a, 0, picture.height);
}

// A pixel at a time in four lanes, each lane the scalar expression of its
// channel; the alpha lane keeps the destination's.
void compositeOverlayRows(ColorBuffer& color, Extent picture, const TextureImage& image, int x0,
                          int y0, float a, int rowBegin, int rowEnd) {
    if (double(a) < 0.00001 || !drawable(image)) {
        return;
    }
    picture = cut(color, picture);
    const int w = image.width;
    const RowSpan columns = inside(x0, w, picture.width);
    RowSpan rows = inside(y0, image.height, picture.height);
    rows.begin = int(std::clamp<int64_t>(int64_t(rowBegin) - y0, rows.begin, rows.end));
    rows.end = int(std::clamp<int64_t>(int64_t(rowEnd) - y0, rows.begin, rows.end));
    const __m128 keep = _mm_set1_ps(1.0f - a), fade = _mm_set1_ps(a), one = _mm_set1_ps(1.0f);
    const __m128 rgb = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    for (int j = rows.begin; j < rows.end; ++j) {
        const vec4* src = image.texels.data() + size_t(j) * w;
        vec4* dst = color.pixels + size_t(y0 + j) * color.width;
        for (int i = columns.begin; i < columns.end; ++i) {
            const __m128 s = _mm_loadu_ps(&src[i].x);
            float* out = &dst[x0 + i].x;
            const __m128 d = _mm_loadu_ps(out);
            const __m128 sa = _mm_sub_ps(one, _mm_shuffle_ps(s, s, _MM_SHUFFLE(3, 3, 3, 3)));
            const __m128 blended =
                _mm_add_ps(_mm_mul_ps(d, keep), _mm_mul_ps(_mm_add_ps(_mm_mul_ps(d, sa), s), fade));
            _mm_storeu_ps(out, _mm_or_ps(_mm_and_ps(rgb, blended), _mm_andnot_ps(rgb, d)));
        }
    }
}

} // namespace lumo
