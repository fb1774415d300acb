#pragma once
// A fuzz target's promise: when it does not hold the run stops, and libFuzzer keeps the input.

#include <cstdlib>

namespace lumo::fuzz {

inline void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

} // namespace lumo::fuzz
