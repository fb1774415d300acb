#pragma once
// Our own zlib (RFC 1950) / DEFLATE (RFC 1951) compressor, used by the PNG writer.
//
// What each level buys: 0 stores the data uncompressed; 1 looks up one earlier position per
// byte (a hash of the next four bytes) and takes its match at once; 2 and 3 follow hash chains
// 4 and 16 deep; 4 to 9 also defer a match by one byte when the next one is longer (lazy
// matching), on chains 16, 32, 64, 128, 512 and 4096 deep. Every level above 0 chooses per block
// between dynamic Huffman codes, the fixed codes and stored bytes, whichever is smallest.
// The output depends on the input and the level only.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumo {

constexpr int kDeflateMaxLevel = 9;

// Appends the zlib stream of data[0, size) at `level` (clamped to 0..9) to out.
void deflateZlib(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out);

// The running Adler-32 checksum of zlib streams (start with 1).
uint32_t updateAdler32(uint32_t adler, const uint8_t* data, size_t size);

} // namespace lumo
