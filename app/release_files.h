#pragma once
// What an install carries besides the program and its data, made from the
// program itself so that it cannot drift from it: icons drawn from a frame of
// the demo, and the manual page made from the --help text.

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// width x height XRGB pixels (rows `stride` pixels apart) scaled down to
// outWidth x outHeight: each pixel the mean of the source pixels under it,
// partly covered ones by the part covered.
std::vector<uint32_t> scaleDown(const uint32_t* pixels, int width, int height, int stride,
                                int outWidth, int outHeight);

// The centred square of a width x height XRGB picture (rows `stride` pixels
// apart) scaled down to size x size: each pixel the mean of the source pixels
// under it, partly covered ones by the part covered. size must not exceed the
// square's side.
std::vector<uint32_t> squareIcon(const uint32_t* pixels, int width, int height, int stride,
                                 int size);

// The manual page (roff, section 6) for `usage`, the --help text: its
// paragraphs as the description and notes, each option with what it does.
std::string manualPage(const std::string& usage, const std::string& version);

} // namespace lumo
