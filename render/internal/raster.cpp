#include "render/internal/raster.h"

#include "render/internal/raster_kernels.h"
#include "render/simd.h"

#include <atomic>

namespace lumo {

namespace {

std::atomic<bool> gFastPaths{true};

} // namespace

void rasterize(Member member, const RasterTarget& target, const RasterInputs& inputs) {
    const int index = int(member);
    if (index < 0 || index >= int(Member::Count)) {
        return;
    }
    const RasterFunction* members =
        activeSimdPath() == SimdPath::Avx2 ? rasterMembersAvx2() : kMemberTable<lanes::Sse>;
    members[index](target, inputs);
}

void setRasterFastPaths(bool enabled) {
    gFastPaths.store(enabled, std::memory_order_relaxed);
}

bool rasterFastPaths() {
    return gFastPaths.load(std::memory_order_relaxed);
}

LightResult lightVertexAll(Light* const* lights, int lightCount, const vec4& p, const vec4& n,
                           float shininess) {
    return sumLights(lights, lightCount, p, n, shininess);
}

int wrapTexel(float c, int n) {
    return wrapTexelIndex(c, n);
}

} // namespace lumo
