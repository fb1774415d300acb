#include "display/converters.h"

#include <cstdint>
#include <cstring>

namespace lumo::Framebuffer {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;

// Three colour channels reduced to the destination's widths.
struct Rgb {
    u32 r, g, b;
};

// Channel widths of the destination formats.
template <int Destination>
constexpr int redBits = Destination == FormatRGB565 || Destination == FormatBGR565       ? 5
                        : Destination == FormatXRGB1555 || Destination == FormatXBGR1555 ? 5
                                                                                         : 8;
template <int Destination>
constexpr int greenBits = Destination == FormatRGB565 || Destination == FormatBGR565       ? 6
                          : Destination == FormatXRGB1555 || Destination == FormatXBGR1555 ? 5
                                                                                           : 8;
template <int Destination>
constexpr int blueBits = redBits<Destination>;

u32 loadWord(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}
void storeWord(u8* p, u32 v) {
    std::memcpy(p, &v, 4);
}
void storeHalf(u8* p, u16 v) {
    std::memcpy(p, &v, 2);
}

float loadFloat(const u8* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

u32 bitsOf(float f) {
    u32 b;
    std::memcpy(&b, &f, 4);
    return b;
}

float floatOf(u32 b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// A float channel reduced to n bits: negative (sign bit) gives 0, from the
// largest float below 1.0 upwards (infinity and positive NaN too) all ones,
// otherwise the top n mantissa bits of 1.0f + value.
template <int N>
u32 floatChannel(float value) {
    u32 bits = bitsOf(value);
    if (bits & 0x80000000u) {
        return 0;
    }
    if (bits >= 0x3F7FFFFFu) {
        return (1u << N) - 1;
    }
    return (bitsOf(1.0f + value) >> (23 - N)) & ((1u << N) - 1);
}

// byte / 256, exactly: 32768 + byte / 256 is representable with the byte as
// the low mantissa bits.
float byteToFloat(u32 byte) {
    return floatOf(0x47000000u | byte) - 32768.0f;
}

template <int Destination>
void storePixel(u8* d, Rgb c) {
    if constexpr (Destination == FormatXRGB8888) {
        storeWord(d, (c.r << 16) | (c.g << 8) | c.b);
    } else if constexpr (Destination == FormatXBGR8888) {
        storeWord(d, (c.b << 16) | (c.g << 8) | c.r);
    } else if constexpr (Destination == FormatRGB888) {
        d[0] = u8(c.r);
        d[1] = u8(c.g);
        d[2] = u8(c.b);
    } else if constexpr (Destination == FormatBGR888) {
        d[0] = u8(c.b);
        d[1] = u8(c.g);
        d[2] = u8(c.r);
    } else if constexpr (Destination == FormatRGB565) {
        storeHalf(d, u16((c.r << 11) | (c.g << 5) | c.b));
    } else if constexpr (Destination == FormatBGR565) {
        storeHalf(d, u16((c.b << 11) | (c.g << 5) | c.r));
    } else if constexpr (Destination == FormatXRGB1555) {
        storeHalf(d, u16((c.r << 10) | (c.g << 5) | c.b));
    } else if constexpr (Destination == FormatXBGR1555) {
        storeHalf(d, u16((c.b << 10) | (c.g << 5) | c.r));
    }
}

// One pixel from an XRGB8888 word.
template <int Destination>
void fromWord(const u8* s, u8* d) {
    u32 p = loadWord(s);
    if constexpr (Destination == FormatXRGB8888) {
        storeWord(d, p);
    } else if constexpr (Destination == FormatXBGRFFFF) {
        // The fourth float is not touched.
        float rgb[3] = {byteToFloat((p >> 16) & 0xFF), byteToFloat((p >> 8) & 0xFF),
                        byteToFloat(p & 0xFF)};
        std::memcpy(d, rgb, sizeof rgb);
    } else {
        constexpr int rb = redBits<Destination>, gb = greenBits<Destination>,
                      bb = blueBits<Destination>;
        storePixel<Destination>(d, Rgb{((p >> 16) & 0xFF) >> (8 - rb),
                                       ((p >> 8) & 0xFF) >> (8 - gb), (p & 0xFF) >> (8 - bb)});
    }
}

// One pixel from four floats (red, green, blue, ignored fourth).
template <int Destination>
void fromFloats(const u8* s, u8* d) {
    if constexpr (Destination == FormatXBGRFFFF) {
        std::memcpy(d, s, 16);
    } else {
        storePixel<Destination>(d, Rgb{floatChannel<redBits<Destination>>(loadFloat(s)),
                                       floatChannel<greenBits<Destination>>(loadFloat(s + 4)),
                                       floatChannel<blueBits<Destination>>(loadFloat(s + 8))});
    }
}

template <int Source, int Destination>
void convertOne(const u8* s, u8* d) {
    if constexpr (Source == FormatXRGB8888) {
        fromWord<Destination>(s, d);
    } else {
        fromFloats<Destination>(s, d);
    }
}

constexpr int kPixelSizes[10] = {0, 4, 4, 3, 3, 2, 2, 2, 2, 16};

} // namespace

int pixelSize(int format) {
    return format >= 0 && format <= 9 ? kPixelSizes[format] : 0;
}

template <int Source, int Destination>
void FormatConverter<Source, Destination>::convert(const void* source, void* destination,
                                                   int count) const {
    constexpr int sourceSize = kPixelSizes[Source];
    constexpr int destinationSize = kPixelSizes[Destination];
    const u8* s = static_cast<const u8*>(source);
    u8* d = static_cast<u8*>(destination);
    // Four pixels per step, then the rest one by one.
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        convertOne<Source, Destination>(s, d);
        convertOne<Source, Destination>(s + sourceSize, d + destinationSize);
        convertOne<Source, Destination>(s + 2 * sourceSize, d + 2 * destinationSize);
        convertOne<Source, Destination>(s + 3 * sourceSize, d + 3 * destinationSize);
        s += 4 * sourceSize;
        d += 4 * destinationSize;
    }
    for (; i < count; ++i) {
        convertOne<Source, Destination>(s, d);
        s += sourceSize;
        d += destinationSize;
    }
}

// Defined here only: other files reach the members through these.
template class FormatConverter<1, 1>;
template class FormatConverter<1, 2>;
template class FormatConverter<1, 3>;
template class FormatConverter<1, 4>;
template class FormatConverter<1, 5>;
template class FormatConverter<1, 6>;
template class FormatConverter<1, 7>;
template class FormatConverter<1, 8>;
template class FormatConverter<1, 9>;
template class FormatConverter<9, 1>;
template class FormatConverter<9, 2>;
template class FormatConverter<9, 3>;
template class FormatConverter<9, 4>;
template class FormatConverter<9, 5>;
template class FormatConverter<9, 6>;
template class FormatConverter<9, 7>;
template class FormatConverter<9, 8>;
template class FormatConverter<9, 9>;

namespace {

// The static converter objects, indexed [source is float][destination - 1].
Converter_XRGB8888_to_XRGB8888 c_1_1;
Converter_XRGB8888_to_XBGR8888 c_1_2;
Converter_XRGB8888_to_RGB888 c_1_3;
Converter_XRGB8888_to_BGR888 c_1_4;
Converter_XRGB8888_to_RGB565 c_1_5;
Converter_XRGB8888_to_BGR565 c_1_6;
Converter_XRGB8888_to_XRGB1555 c_1_7;
Converter_XRGB8888_to_XBGR1555 c_1_8;
Converter_XRGB8888_to_XBGRFFFF c_1_9;
Converter_XBGRFFFF_to_XRGB8888 c_9_1;
Converter_XBGRFFFF_to_XBGR8888 c_9_2;
Converter_XBGRFFFF_to_RGB888 c_9_3;
Converter_XBGRFFFF_to_BGR888 c_9_4;
Converter_XBGRFFFF_to_RGB565 c_9_5;
Converter_XBGRFFFF_to_BGR565 c_9_6;
Converter_XBGRFFFF_to_XRGB1555 c_9_7;
Converter_XBGRFFFF_to_XBGR1555 c_9_8;
Converter_XBGRFFFF_to_XBGRFFFF c_9_9;

Converter* const kConverters[2][9] = {
    {&c_1_1, &c_1_2, &c_1_3, &c_1_4, &c_1_5, &c_1_6, &c_1_7, &c_1_8, &c_1_9},
    {&c_9_1, &c_9_2, &c_9_3, &c_9_4, &c_9_5, &c_9_6, &c_9_7, &c_9_8, &c_9_9},
};
static_assert(sizeof kConverters / sizeof kConverters[0][0] == 18);

} // namespace

Converter* requestConverter(int sourceFormat, int destinationFormat) {
    if (destinationFormat < 1 || destinationFormat > 9) {
        return nullptr;
    }
    if (sourceFormat == FormatXRGB8888) {
        return kConverters[0][destinationFormat - 1];
    }
    if (sourceFormat == FormatXBGRFFFF) {
        return kConverters[1][destinationFormat - 1];
    }
    return nullptr;
}

} // namespace lumo::Framebuffer
