#pragma once
// The authors' keyboard: a free-flying camera that prints itself as a ready-made
// camera key ("addcam(...)" lines paste straight into the key table), and two
// debug counters. Key codes are the display's: upper-case ASCII for letters and
// digits, 61 for "=".

#include "math/vec.h"

#include <cstdint>

namespace lumo {

struct DebugCamera {
    vec4& position;
    vec4& angles;
    bool& freeCamera;
    int32_t& duid;
    float& gtn;
};

// Applies one key stroke (auto-repeats included) and prints the "addcam" line,
// whatever the key.
void debugKeyStroke(DebugCamera camera, int key);

} // namespace lumo
