#pragma once
// Shared helpers of the renderer tests: captured or silenced stdout for code that
// prints set-up lines, and meshes made of separate triangles.

#include "assets/mesh.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lumo::test {

// Captures what the code under test prints to stdout, with GoogleTest's own
// capturer: one at a time, and text() at most once.
struct CaptureStdout {
    CaptureStdout() { testing::internal::CaptureStdout(); }
    ~CaptureStdout() {
        if (!taken) {
            testing::internal::GetCapturedStdout();
        }
    }
    std::string text() {
        taken = true;
        return testing::internal::GetCapturedStdout();
    }
    bool taken = false;
};

struct Tri {
    vec4 a, b, c;
    vec4 normal;
};

// Corner k gets the texture coordinate (k / 4, 1 / 2), or `uv` when given; the
// faces use `material` and carry spare 7.
std::unique_ptr<Mesh> meshOf(const std::vector<Tri>& tris, const Material* material,
                             const vec4* uv = nullptr);

} // namespace lumo::test
