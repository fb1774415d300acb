// The lane operations compiled for AVX2, as raster_avx2.cpp compiles the
// rasterizer: every shared header first, then the target region.
#include "assets/texture.h"
#include "math/vec.h"
#include "render/fixed.h"
#include "render/internal/lanes.h"
#include "render/internal/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <iterator>

#include "render/internal/lanes_avx2.h"

#pragma GCC push_options
#pragma GCC target("avx2")

#include "lanes_ops.h"

namespace lumo::test {

LaneResults applyLaneOpsAvx2(const LaneInputs& in) {
    return applyLaneOps<lanes::Avx2>(in);
}

} // namespace lumo::test

#pragma GCC pop_options
