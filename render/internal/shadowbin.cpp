#include "render/internal/shadowbin.h"

#include <algorithm>

namespace lumo {

void rasterizeShadowBin(const vec4* bin, int vertexCount, int rowBegin, int rowEnd,
                        StencilBuffer& stencil, DepthBuffer& depth, RasterStats* stats) {
    RasterTarget target;
    target.depth = &depth;
    target.stencil = &stencil;
    target.rowBegin = rowBegin;
    target.rowEnd = rowEnd;
    target.stats = stats;
    RasterInputs in;
    const float fRowBegin = float(rowBegin);
    const float fRowEnd = float(rowEnd);
    for (int i = 0; i + 2 < vertexCount; i += 3) {
        const vec4& a = bin[i];
        const vec4& b = bin[i + 1];
        const vec4& c = bin[i + 2];
        if (std::min({a.y, b.y, c.y}) > fRowEnd || std::max({a.y, b.y, c.y}) < fRowBegin) {
            continue;
        }
        float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (area > 0.0f) {
            in.screen[0] = c;
            in.screen[1] = b;
            in.screen[2] = a;
            rasterize(Member::StencilIncrement, target, in);
        } else {
            in.screen[0] = a;
            in.screen[1] = b;
            in.screen[2] = c;
            rasterize(Member::StencilDecrement, target, in);
        }
    }
}

} // namespace lumo
