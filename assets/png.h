#pragma once
// Our own PNG decoder: file bytes in, 8-bit RGBA out (rows top to bottom, no
// padding) or an error. The zlib/DEFLATE inflater is our own too (assets/inflate.h).
// No state is kept between calls.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumo {

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // width * height * 4: r, g, b, a
};

// Images above this many pixels are refused (TooLarge), so that no buffer size can overflow:
// 16-bit RGBA data of the largest image, filter bytes included, stays below 2^32 bytes.
constexpr uint64_t kPngMaxPixels = uint64_t{1} << 28;

// Why a file did not decode, for the decoder and the inflater alike. The texture loader prints
// the number ("error(48) decoding png"), so every value is fixed and none may be renumbered.
enum class PngError : int32_t {
    None = 0,
    // The compressed data (zlib header, DEFLATE blocks and codes).
    EndInsideCode = 10, // the data ends inside a Huffman code
    InvalidCode = 11,   // bits that start no code of an incomplete Huffman code
    // A code-length repeat (symbol 16, 17 or 18) runs past the last length.
    Repeat16PastEnd = 13,
    Repeat17PastEnd = 14,
    Repeat18PastEnd = 15,
    CodeLengthSymbol = 16,       // a code-length symbol above 18
    DistanceSymbol = 18,         // distance symbol 30 or 31
    ReservedBlockType = 20,      // block type 3
    StoredLengthComplement = 21, // a stored block's length and its complement disagree
    StoredPastEnd = 23,          // a stored block longer than the data left
    ZlibHeaderCheck = 24,        // the zlib header's check bits are wrong
    ZlibMethod = 25,             // not DEFLATE, or a window above 32 KiB
    ZlibDictionary = 26,         // a preset dictionary is asked for
    EndBeforeDynamicHeader = 49, // the data ends inside a dynamic block's header
    EndInRepeatCount = 50,       // the data ends inside a code-length repeat count
    EndInExtraBits = 51,         // the data ends inside a length's or distance's extra bits
    EndBeforeBlock = 52,         // the data ends before a block header or a stored length
    ZlibTooShort = 53,           // fewer than the two zlib header bytes
    Oversubscribed = 55,         // more codes of some length than the code space holds
    NoEndOfBlockCode = 64,       // a dynamic block whose code has no end-of-block symbol
    // The file and its chunks.
    FileTooShort = 27,          // fewer than 29 bytes: no room for a header chunk
    Signature = 28,             // not the PNG signature
    FirstChunkNotHeader = 29,   // the first chunk is not IHDR
    ChunkHeaderPastEnd = 30,    // no IEND: the file ends before a chunk's length and type
    ColorType = 31,             // colour type other than 0, 2, 3, 4 and 6
    CompressionMethod = 32,     // compression method other than 0
    FilterMethod = 33,          // filter method other than 0
    InterlaceMethod = 34,       // interlace method other than 0 and 1 (Adam7)
    ChunkPastEnd = 35,          // a chunk's data and CRC run past the end of the file
    FilterType = 36,            // a scanline's filter type above 4
    BitDepth = 37,              // a bit depth the colour type does not allow
    PaletteTooLong = 38,        // more than 256 palette entries
    TransparencyTooLong = 39,   // more palette alpha values than palette entries
    GreyKeyLength = 40,         // a grey transparency key that is not 2 bytes
    ColorKeyLength = 41,        // an RGB transparency key that is not 6 bytes
    TransparencyWithAlpha = 42, // tRNS in an image that has an alpha channel
    PaletteIndexByte = 46,      // an 8-bit palette index beyond the palette
    PaletteIndexPacked = 47,    // a 1, 2 or 4-bit palette index beyond the palette
    EmptyFile = 48,             // no bytes at all (a missing file reads as empty)
    ChunkTooLong = 63,          // a chunk length above 2^31 - 1
    UnknownCriticalChunk = 69,  // a critical chunk (upper-case first letter) we do not know
    // Conditions refused so that no read or size goes out of bounds.
    TooLarge = 90,              // width x height above kPngMaxPixels
    ZeroSize = 91,              // width or height is 0
    HeaderLength = 92,          // the IHDR chunk's length is not 13
    PaletteLength = 93,         // a PLTE chunk whose length is not a multiple of 3
    DistanceTooFar = 94,        // a back-reference reaching before the start of the output
    LengthSymbol = 95,          // literal/length symbol 286 or 287
    RepeatWithoutPrevious = 96, // a code-length repeat (16) with no previous length to repeat
    DataSize = 97,              // the decompressed data is not exactly the size the image needs
};

// On success PngError::None; otherwise the error, and image holds no pixels.
PngError decodePng(const uint8_t* bytes, size_t byteCount, PngImage& image);

} // namespace lumo
