#include "app/debug_keys.h"

#include <cstdio>

namespace lumo {

namespace {

void preset(DebugCamera& c, const vec4& angles, const vec4& position) {
    c.angles = angles;
    c.position = position;
}

void stepGtn(float& gtn, double step) {
    // Widened, stepped and narrowed back: the printed value is the double.
    gtn = float(double(gtn) + step);
    std::printf("gtn is now %11.4f\n", double(gtn));
}

} // namespace

void debugKeyStroke(DebugCamera c, int key) {
    switch (key) {
    case 'W':
        c.position.z += 4.0f;
        break;
    case 'S':
        c.position.z -= 4.0f;
        break;
    case 'A':
        c.position.x += 4.0f;
        break;
    case 'D':
        c.position.x -= 4.0f;
        break;
    case 'Q':
        c.position.y += 4.0f;
        break;
    case 'Z':
        c.position.y -= 4.0f;
        break;
    case 'U':
        c.angles.x += 0.1f;
        break;
    case 'J':
        c.angles.x -= 0.1f;
        break;
    case 'K':
        c.angles.y += 0.1f;
        break;
    case 'H':
        c.angles.y -= 0.1f;
        break;
    case 'I':
        c.angles.z += 0.1f;
        break;
    case 'Y':
        c.angles.z -= 0.1f;
        break;
    case '1':
        preset(c, {0.7f, 0, 0.3f, 0}, {-28, -64, -76, 0});
        break;
    case '2':
        preset(c, {0, -0.7f, 0, 0}, {-144, -60, -372, 0});
        break;
    case '3':
        preset(c, {1.2f, 0, 0, 0}, {0, -136, 16, 0});
        break;
    case '4':
        preset(c, {0, 0, 0, 0}, {0, 0, 0, 0});
        break;
    case '5':
        preset(c, {1.3f, -2.1f, 0, 0}, {-272, 24, -4, 0});
        break;
    case '6':
        preset(c, {0.7f, 0.1f, 0, 0}, {-176, 120, -180, 0});
        break;
    case '7':
        c.duid += 1;
        std::printf("duid is now %d\n", c.duid);
        break;
    case '8':
        stepGtn(c.gtn, -0.01);
        break;
    case '9':
        stepGtn(c.gtn, 0.01);
        break;
    case '=':
        c.freeCamera = !c.freeCamera;
        break;
    default:
        break;
    }
    std::printf("addcam(%f,%f,%f,%f,%f,%f);\n", c.position.x, c.position.y, c.position.z,
                c.angles.x, c.angles.y, c.angles.z);
}

} // namespace lumo
