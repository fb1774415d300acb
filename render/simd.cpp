#include "render/simd.h"

#include <atomic>

namespace lumo {

namespace {

// -1 until first asked: the processor is only queried once something draws.
std::atomic<int> gActive{-1};

} // namespace

const char* simdPathName(SimdPath path) {
    switch (path) {
    case SimdPath::Sse:
        return "sse";
    case SimdPath::Avx2:
        return "avx2";
    }
    return "?";
}

std::optional<SimdPath> simdPathFromName(std::string_view name) {
    for (SimdPath path : kSimdPaths) {
        if (name == simdPathName(path)) {
            return path;
        }
    }
    return std::nullopt;
}

bool simdPathSupported(SimdPath path) {
    switch (path) {
    case SimdPath::Sse:
        return true;
    case SimdPath::Avx2:
        // The compiler's check also asks the operating system whether it saves
        // the wide registers, not only whether the processor has them.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    }
    return false;
}

SimdPath widestSimdPath() {
    SimdPath widest = SimdPath::Sse;
    for (SimdPath path : kSimdPaths) {
        if (simdPathSupported(path)) {
            widest = path;
        }
    }
    return widest;
}

SimdPath activeSimdPath() {
    int active = gActive.load(std::memory_order_relaxed);
    if (active < 0) {
        active = int(widestSimdPath());
        gActive.store(active, std::memory_order_relaxed);
    }
    return SimdPath(active);
}

void setSimdPath(SimdPath path) {
    if (simdPathSupported(path)) {
        gActive.store(int(path), std::memory_order_relaxed);
    }
}

bool chooseSimdPath(const char* request, std::string& error) {
    if (request == nullptr || *request == '\0') {
        setSimdPath(widestSimdPath());
        return true;
    }
    const std::optional<SimdPath> path = simdPathFromName(request);
    if (!path) {
        error = std::string("LUMO_SIMD=") + request + ": unknown vector path (sse or avx2)";
        return false;
    }
    if (!simdPathSupported(*path)) {
        error = std::string("LUMO_SIMD=") + request + ": this processor cannot run the " + request +
                " path";
        return false;
    }
    setSimdPath(*path);
    return true;
}

} // namespace lumo
