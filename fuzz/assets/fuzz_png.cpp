// libFuzzer target for the PNG decoder (and through it the inflater): any input must give either
// a well-formed image or an error code, without reading outside the input.

#include "assets/png.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::PngImage image;
    const int32_t error = lumo::decodePng(data, size, image);
    const size_t expected = error == 0 ? size_t{image.width} * image.height * 4 : 0;
    if (image.pixels.size() != expected || (error == 0 && expected == 0)) {
        std::abort();
    }
    return 0;
}
