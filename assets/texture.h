#pragma once
// Textures as float texels (r, g, b, a), rows top to bottom, no row padding.
// PNG texels carry premultiplied alpha. Index 0 of the store is the 2 x 2
// placeholder "dummydummydummy", which also answers a lookup of an unknown name.

#include "assets/mesh.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct TextureImage {
    AlignedVector<vec4> texels; // width * height
    int32_t width = 0;
    int32_t height = 0;
    int32_t one = 1;
    // The same texels as four bytes each (red in the low byte), a quarter of
    // the memory for sampling: present only when every texel is exactly what
    // unpackTexel makes of its bytes, so either store gives the same floats.
    AlignedVector<uint32_t> packed{};
};

// The float of a colour byte: the one nearest c / 255.
float byteToFloat(uint8_t c);

// Premultiplied (r a, g a, b a, a) in floats, from the bytes r, g, b, a of a
// packed texel: what the loader makes of an image's bytes.
inline vec4 unpackTexel(uint32_t p, const float* byteFloats) {
    const float a = byteFloats[p >> 24];
    return {byteFloats[p & 0xFFu] * a, byteFloats[(p >> 8) & 0xFFu] * a,
            byteFloats[(p >> 16) & 0xFFu] * a, a};
}
// The 256 values of byteToFloat, for unpackTexel.
const float* byteFloatTable();

// Fills image.packed from the image's bytes (4 per texel, r, g, b, a; channels 3
// means r, g, b with a = 255), or leaves it empty when some texel is not exactly
// its unpacked bytes.
void packTexels(TextureImage& image, const uint8_t* bytes, int channels);

struct Texture {
    std::unique_ptr<TextureImage> image;
    std::string name;
};

class TextureStore {
public:
    TextureStore();
    int find(const std::string& name) const;
    int findOrLoad(const std::string& directory, const std::string& name);
    // Every PNG of the directory not loaded yet, in byte order, except the larger
    // copies (isScaledCopyName): those are for large pictures only and are read on
    // demand, so smaller runs do not hold their texels.
    void loadDirectory(const std::string& directory);
    Texture& operator[](int index) { return *textures_[index]; }
    const Texture& operator[](int index) const { return *textures_[index]; }
    int size() const { return int(textures_.size()); }
    int add(std::unique_ptr<Texture> texture);

private:
    std::vector<std::unique_ptr<Texture>> textures_;
};

// Reads directory + name: ".png" (any case) by our own decoder, anything else by
// stb_image. A file that does not decode gives an empty (0 x 0) texture; a PNG
// once the decode failure handler below has returned.
std::unique_ptr<Texture> loadTexture(const std::string& directory, const std::string& name);

// True for the name of an image's larger copy: "NAME@<digits>x.png" with a
// non-empty NAME, the "x" and ".png" in any case ("t1@3x.png").
bool isScaledCopyName(std::string_view name);

// Runs after a PNG could not be decoded and its error line is printed. The default
// waits for one byte of standard input (end of input continues at once) and ends
// the program with status 1. Tests and fuzz targets install their own; when it
// returns, loadTexture gives an empty (0 x 0) texture. Returns the previous handler.
using DecodeFailureHandler = void (*)();
DecodeFailureHandler setDecodeFailureHandler(DecodeFailureHandler handler);

} // namespace lumo
