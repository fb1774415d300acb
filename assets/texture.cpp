#include "assets/texture.h"

#include "assets/files.h"
#include "assets/png.h"
#include "sys/log.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <stb/stb_image.h>

namespace lumo {

namespace {

// A byte c becomes the float nearest c / 255. The product with the double nearest 1/255,
// rounded once to float, is that float for all 256 bytes (a float product with 1.0f / 255
// is not, for about half of them), and a multiply costs less than a divide.
constexpr double kByteScale = 1.0 / 255.0;

// Largest picture stb_image may turn into float texels (16 bytes each): 1 GiB.
constexpr uint64_t kMaxOtherTexels = uint64_t(1) << 26;

void waitForKeyAndExit() {
    // The error line went to standard output through logPrintf: show it before waiting.
    std::fflush(stdout);
    // One byte stands for the key press; at end of input getchar returns at once, so
    // a run without a console does not hang here.
    (void)std::getchar();
    std::exit(1);
}

DecodeFailureHandler decodeFailureHandler = waitForKeyAndExit;

std::unique_ptr<Texture> emptyTexture(const std::string& name) {
    auto texture = std::make_unique<Texture>();
    texture->image = std::make_unique<TextureImage>();
    texture->name = name;
    return texture;
}

std::unique_ptr<Texture> loadPngTexture(const std::string& directory, const std::string& name) {
    std::vector<uint8_t> bytes;
    readWholeFile(directory + name, bytes); // a missing file decodes as empty input
    PngImage png;
    PngError error = decodePng(bytes.data(), bytes.size(), png);
    if (error != PngError::None) {
        logPrintf("error(%d) decoding png from [%s]\n", int(error), name.c_str());
        decodeFailureHandler();
        return emptyTexture(name);
    }
    auto texture = emptyTexture(name);
    TextureImage& image = *texture->image;
    image.width = int32_t(png.width);
    image.height = int32_t(png.height);
    size_t count = size_t(png.width) * size_t(png.height);
    image.texels.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &png.pixels[4 * i];
        float a = byteToFloat(p[3]);
        image.texels[i] =
            vec4(byteToFloat(p[0]) * a, byteToFloat(p[1]) * a, byteToFloat(p[2]) * a, a);
    }
    packTexels(image, png.pixels.data(), 4);
    return texture;
}

// Every other picture format (BMP, JPEG, GIF and the like) goes to stb_image, as
// opaque texels. PNG data is only ever ours to decode, so a PNG file under another
// name gets the same answer as any undecodable file: an empty texture.
std::unique_ptr<Texture> loadOtherTexture(const std::string& directory, const std::string& name) {
    static const uint8_t pngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    auto texture = emptyTexture(name);
    std::vector<uint8_t> bytes;
    if (!readWholeFile(directory + name, bytes) ||
        bytes.size() > size_t(std::numeric_limits<int>::max()) ||
        (bytes.size() >= 8 && std::memcmp(bytes.data(), pngSignature, 8) == 0)) {
        return texture;
    }
    int width = 0, height = 0, channels = 0;
    int length = int(bytes.size());
    if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels) || width <= 0 ||
        height <= 0 || uint64_t(width) * uint64_t(height) > kMaxOtherTexels) {
        return texture;
    }
    stbi_uc* rgb = stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 3);
    if (rgb == nullptr) {
        return texture;
    }
    TextureImage& image = *texture->image;
    if (width > 0 && height > 0 && uint64_t(width) * uint64_t(height) <= kMaxOtherTexels) {
        image.width = width;
        image.height = height;
        size_t count = size_t(width) * size_t(height);
        image.texels.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const stbi_uc* p = &rgb[3 * i];
            image.texels[i] = vec4(byteToFloat(p[0]), byteToFloat(p[1]), byteToFloat(p[2]), 1.0f);
        }
        packTexels(image, rgb, 3);
    }
    stbi_image_free(rgb);
    return texture;
}

} // namespace

bool isScaledCopyName(std::string_view name) {
    // "NAME@<digits>x.png", the x and the extension in any case.
    if (name.size() < 4 || !endsWithIgnoringCase(name, ".png")) {
        return false;
    }
    std::string_view stem = name.substr(0, name.size() - 4);
    if (stem.empty() || (stem.back() != 'x' && stem.back() != 'X')) {
        return false;
    }
    stem.remove_suffix(1);
    size_t digits = 0;
    while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' &&
           stem[stem.size() - 1 - digits] <= '9') {
        ++digits;
    }
    return digits > 0 && digits + 1 < stem.size() && stem[stem.size() - 1 - digits] == '@';
}

float byteToFloat(uint8_t c) {
    return float(double(c) * kByteScale);
}

const float* byteFloatTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int c = 0; c < 256; ++c) {
            t[size_t(c)] = byteToFloat(uint8_t(c));
        }
        return t;
    }();
    return table.data();
}

void packTexels(TextureImage& image, const uint8_t* bytes, int channels) {
    const size_t count = image.texels.size();
    const float* floats = byteFloatTable();
    image.packed.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes + i * size_t(channels);
        const uint32_t alpha = channels == 4 ? p[3] : 255u;
        const uint32_t packed =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | alpha << 24;
        const vec4 unpacked = unpackTexel(packed, floats);
        // Bit for bit, so that a texel the bytes do not give exactly is caught.
        if (std::memcmp(&unpacked, &image.texels[i], sizeof(vec4)) != 0) {
            image.packed.clear();
            return;
        }
        image.packed[i] = packed;
    }
}

DecodeFailureHandler setDecodeFailureHandler(DecodeFailureHandler handler) {
    DecodeFailureHandler previous = decodeFailureHandler;
    decodeFailureHandler = handler != nullptr ? handler : waitForKeyAndExit;
    return previous;
}

std::unique_ptr<Texture> loadTexture(const std::string& directory, const std::string& name) {
    // The last four characters decide, so "X.PNG" is a PNG and a name shorter than
    // four characters is not.
    if (name.size() >= 4 && endsWithIgnoringCase(name, ".png")) {
        return loadPngTexture(directory, name);
    }
    return loadOtherTexture(directory, name);
}

TextureStore::TextureStore() {
    auto placeholder = std::make_unique<Texture>();
    placeholder->name = "dummydummydummy";
    placeholder->image = std::make_unique<TextureImage>();
    TextureImage& image = *placeholder->image;
    image.width = 2;
    image.height = 2;
    const vec4 clear(0.0f, 0.0f, 0.0f, 0.0f);
    const vec4 magenta(1.0f, 0.0f, 1.0f, 0.0f);
    image.texels = {clear, magenta, magenta, clear};
    textures_.push_back(std::move(placeholder));
}

int TextureStore::find(const std::string& name) const {
    for (size_t i = 0; i < textures_.size(); ++i) {
        if (textures_[i]->name == name) {
            return int(i);
        }
    }
    return 0;
}

int TextureStore::add(std::unique_ptr<Texture> texture) {
    textures_.push_back(std::move(texture));
    return int(textures_.size()) - 1;
}

int TextureStore::findOrLoad(const std::string& directory, const std::string& name) {
    int index = find(name);
    if (index != 0) {
        return index;
    }
    return add(loadTexture(directory, name));
}

void TextureStore::loadDirectory(const std::string& directory) {
    for (const std::string& name : listFiles(directory, ".png")) {
        if (isScaledCopyName(name)) {
            continue;
        }
        logPrintf("loading texture [%s]\n", name.c_str());
        if (find(name) == 0) {
            add(loadTexture(directory, name));
        }
    }
}

} // namespace lumo
