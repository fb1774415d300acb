#pragma once
// Our own zlib (RFC 1950) / DEFLATE (RFC 1951) inflater, used by the PNG decoder.
//
// Errors are the PNG decoder's (PngError, assets/png.h), so a failure deep in the compressed
// data reaches the texture loader's error line unchanged. The Adler-32 checksum at the end of
// the stream is not checked, and bytes after the final block are ignored.

#include "assets/png.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace lumo {

// Decompresses the zlib stream data[0, size) into out (replacing its contents). Returns
// PngError::None on success, otherwise the error and out is empty. Producing more than maxOutput
// bytes is an error (DataSize), so a caller that knows the size it needs cannot be made to
// allocate more than that, whatever the stream claims.
PngError inflateZlib(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                     size_t maxOutput = std::numeric_limits<size_t>::max());

} // namespace lumo
