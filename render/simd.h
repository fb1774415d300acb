#pragma once
// The renderer's vector paths. Every path computes exactly what the 4-lane SSE
// path computes, lane by lane, in the same order and with the same rounding (no
// fused multiply-add anywhere), so a picture never depends on the path that drew
// it. One build runs on any x86-64 processor: the widest path the processor
// offers is chosen once at start, unless LUMO_SIMD names another.

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

enum class SimdPath {
    Sse,  // 4 lanes: the x86-64 baseline, on every processor
    Avx2, // 8 lanes: one tile row per register
};

inline constexpr SimdPath kSimdPaths[] = {SimdPath::Sse, SimdPath::Avx2};

const char* simdPathName(SimdPath path); // "sse", "avx2"
std::optional<SimdPath> simdPathFromName(std::string_view name);

// Whether this processor (and its operating system) can run the path.
bool simdPathSupported(SimdPath path);
SimdPath widestSimdPath();

// The path every renderer draws with. Change it only while no renderer draws.
SimdPath activeSimdPath();
void setSimdPath(SimdPath path); // an unsupported path is ignored

// Chooses the path from LUMO_SIMD's value: null or empty picks the widest. An
// unknown name or a path this processor lacks leaves the path unchanged and
// returns false with a one-line message in error.
bool chooseSimdPath(const char* request, std::string& error);

} // namespace lumo
