// libFuzzer target for the PNG decoder (and through it the inflater): any input must give either
// a well-formed image or an error, without reading outside the input.

#include "assets/png.h"
#include "fuzz/require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::PngImage image;
    const bool decoded = lumo::decodePng(data, size, image) == lumo::PngError::None;
    const size_t expected = decoded ? size_t{image.width} * image.height * 4 : 0;
    lumo::fuzz::require(image.pixels.size() == expected && (!decoded || expected > 0));
    return 0;
}
