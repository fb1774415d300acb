#pragma once
// Pixel format conversion: stateless converters that copy a run of pixels from
// XRGB8888 or XBGRFFFF into any of the nine formats below.
//
// Integer sources keep the top bits of each channel. Float sources clamp each
// channel: a set sign bit gives 0, anything from 0.99999994 up (infinity and
// positive NaN included) gives all ones, the rest floor(value * 2^n) taken from
// the mantissa of 1.0f + value. Bits that carry no colour are written 0, except
// that XRGB8888 -> XRGB8888 copies whole words and XRGB8888 -> XBGRFFFF leaves
// the fourth float of the destination alone.

namespace lumo::Framebuffer {

// Pixel format codes. Plain numbers, not an enum: FrameDescriptor::format
// carries them as int and the converters are templates over them.
constexpr int FormatNone = 0;
constexpr int FormatXRGB8888 = 1; // word: red 16-23, green 8-15, blue 0-7
constexpr int FormatXBGR8888 = 2; // word: red 0-7, green 8-15, blue 16-23
constexpr int FormatRGB888 = 3;   // bytes red, green, blue
constexpr int FormatBGR888 = 4;   // bytes blue, green, red
constexpr int FormatRGB565 = 5;   // 16-bit: red 11-15, green 5-10, blue 0-4
constexpr int FormatBGR565 = 6;   // 16-bit: blue 11-15, green 5-10, red 0-4
constexpr int FormatXRGB1555 = 7; // 16-bit: red 10-14, green 5-9, blue 0-4
constexpr int FormatXBGR1555 = 8; // 16-bit: blue 10-14, green 5-9, red 0-4
constexpr int FormatXBGRFFFF = 9; // floats red, green, blue, fourth

// Bytes per pixel of a format, 0 for an unknown code.
int pixelSize(int format);

class Converter {
public:
    virtual ~Converter() = default;
    // Called before a run of conversions; nothing to prepare in any converter.
    virtual void begin() {}
    // Converts count pixels; count <= 0 touches nothing. Source and destination
    // must not overlap unless they are the same buffer and format.
    virtual void convert(const void* source, void* destination, int count) const = 0;
};

// The converter for a pair of format codes, or null unless the source is 1 or 9
// and the destination 1 to 9. The objects are static and stateless.
Converter* requestConverter(int sourceFormat, int destinationFormat);

// One skeleton for all eighteen; the members are instantiated in converters.cpp.
template <int Source, int Destination>
class FormatConverter final : public Converter {
public:
    void convert(const void* source, void* destination, int count) const override;
};

using Converter_XRGB8888_to_XRGB8888 = FormatConverter<1, 1>;
using Converter_XRGB8888_to_XBGR8888 = FormatConverter<1, 2>;
using Converter_XRGB8888_to_RGB888 = FormatConverter<1, 3>;
using Converter_XRGB8888_to_BGR888 = FormatConverter<1, 4>;
using Converter_XRGB8888_to_RGB565 = FormatConverter<1, 5>;
using Converter_XRGB8888_to_BGR565 = FormatConverter<1, 6>;
using Converter_XRGB8888_to_XRGB1555 = FormatConverter<1, 7>;
using Converter_XRGB8888_to_XBGR1555 = FormatConverter<1, 8>;
using Converter_XRGB8888_to_XBGRFFFF = FormatConverter<1, 9>;
using Converter_XBGRFFFF_to_XRGB8888 = FormatConverter<9, 1>;
using Converter_XBGRFFFF_to_XBGR8888 = FormatConverter<9, 2>;
using Converter_XBGRFFFF_to_RGB888 = FormatConverter<9, 3>;
using Converter_XBGRFFFF_to_BGR888 = FormatConverter<9, 4>;
using Converter_XBGRFFFF_to_RGB565 = FormatConverter<9, 5>;
using Converter_XBGRFFFF_to_BGR565 = FormatConverter<9, 6>;
using Converter_XBGRFFFF_to_XRGB1555 = FormatConverter<9, 7>;
using Converter_XBGRFFFF_to_XBGR1555 = FormatConverter<9, 8>;
using Converter_XBGRFFFF_to_XBGRFFFF = FormatConverter<9, 9>;

} // namespace lumo::Framebuffer
