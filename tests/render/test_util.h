#pragma once
// Shared helpers of the renderer tests: PNG output for a person to look at, and
// a silenced stdout for code that prints set-up lines.

#include "render/buffers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::test {

// Writes XRGB8888 pixels as an RGB PNG; returns false on failure.
bool writePng(const std::string& path, const uint32_t* pixels, int width, int height);

// Captures what the code under test prints to stdout.
class CaptureStdout {
public:
    CaptureStdout();
    ~CaptureStdout();
    std::string text(); // stops capturing on the first call
private:
    int saved_ = -1;
    std::string path_;
    bool done_ = false;
    std::string text_;
};

} // namespace lumo::test
