#include "app/picture_layout.h"

#include <algorithm>
#include <cmath>

namespace lumo {

int PictureLayout::scaled(double base) const {
    const double v = std::nearbyint(base * scale);
    if (!(v == v)) {
        return 0; // NaN
    }
    constexpr double kLimit = 1 << 24;
    return int(std::clamp(v, -kLimit, kLimit));
}

PictureLayout layoutPicture(int frameWidth, int frameHeight) {
    PictureLayout p;
    p.frameWidth = std::max(frameWidth, 0);
    p.frameHeight = std::max(frameHeight, 0);
    // Compared in integers: a 16:9 frame is exactly the picture, with no
    // rounding either way.
    const long long w = p.frameWidth, h = p.frameHeight;
    if (w * 9 <= h * 16) {
        p.width = p.frameWidth;
        p.height = int(std::min<long long>((w * 9 * 2 + 16) / 32, h));
    } else {
        p.height = p.frameHeight;
        p.width = int(std::min<long long>((h * 16 * 2 + 9) / 18, w));
    }
    p.left = (p.frameWidth - p.width) / 2;
    p.top = (p.frameHeight - p.height) / 2;
    p.scale = double(p.height) / PictureLayout::kBaseHeight;
    return p;
}

} // namespace lumo
