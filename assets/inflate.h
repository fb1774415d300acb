#pragma once
// Our own zlib (RFC 1950) / DEFLATE (RFC 1951) inflater, used by the PNG decoder.
//
// Errors are reported with the PNG decoder's numbering (see assets/png.h), so a failure deep in
// the compressed data reaches the texture loader's error line unchanged. The Adler-32 checksum
// at the end of the stream is not checked, and bytes after the final block are ignored.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace lumo {

// Decompresses the zlib stream data[0, size) into out (replacing its contents). Returns 0 on
// success, otherwise an error code and out is empty. Producing more than maxOutput bytes is an
// error (97), so a caller that knows the size it needs cannot be made to allocate more than
// that, whatever the stream claims.
int32_t inflateZlib(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                    size_t maxOutput = std::numeric_limits<size_t>::max());

} // namespace lumo
