// The rasterizer's members with one tile row per AVX2 register. Every header the
// kernels use is included before the target pragma, so that no inline function
// shared with the rest of the program is compiled for AVX2 here.
#include "assets/texture.h"
#include "math/vec.h"
#include "render/fixed.h"
#include "render/internal/lanes.h"
#include "render/internal/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <emmintrin.h>
#include <iterator>

#include "render/internal/lanes_avx2.h"

#pragma GCC push_options
#pragma GCC target("avx2")

#include "render/internal/raster_kernels.h"

namespace lumo {

const RasterFunction* rasterMembersAvx2() {
    return kMemberTable<lanes::Avx2>;
}

} // namespace lumo

#pragma GCC pop_options
