#pragma once
// Textures as float texels (r, g, b, a), rows top to bottom, no row padding.
// PNG texels carry premultiplied alpha. Index 0 of the store is the 2 x 2
// placeholder "dummydummydummy", which also answers a lookup of an unknown name.

#include "assets/mesh.h"

#include <memory>
#include <string>
#include <vector>

namespace lumo {

struct TextureImage {
    AlignedVector<vec4> texels; // width * height
    int32_t width = 0;
    int32_t height = 0;
    int32_t one = 1;
};

struct Texture {
    std::unique_ptr<TextureImage> image;
    std::string name;
};

class TextureStore {
public:
    TextureStore();
    int find(const std::string& name) const;
    int findOrLoad(const std::string& directory, const std::string& name);
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

// Runs after a PNG could not be decoded and its error line is printed. The default
// waits for one byte of standard input (end of input continues at once) and ends
// the program with status 1. Tests and fuzz targets install their own; when it
// returns, loadTexture gives an empty (0 x 0) texture. Returns the previous handler.
using DecodeFailureHandler = void (*)();
DecodeFailureHandler setDecodeFailureHandler(DecodeFailureHandler handler);

} // namespace lumo
