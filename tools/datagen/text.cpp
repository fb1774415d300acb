#include "tools/datagen/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumo::datagen {

std::string fontPath(const std::string& file) {
    return "/usr/share/fonts/truetype/dejavu/" + file;
}

namespace {

struct Library {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    bool open(const std::string& font) {
        if (FT_Init_FreeType(&lib) != 0) {
            std::fprintf(stderr, "datagen: FreeType cannot start\n");
            return false;
        }
        if (FT_New_Face(lib, font.c_str(), 0, &face) != 0) {
            std::fprintf(stderr, "datagen: cannot load font %s\n", font.c_str());
            return false;
        }
        return true;
    }
    ~Library() {
        if (face) {
            FT_Done_Face(face);
        }
        if (lib) {
            FT_Done_FreeType(lib);
        }
    }
};

} // namespace

bool renderText(const std::string& font, const std::vector<TextLine>& lines, int baseWidth,
                int baseHeight, int scale, Image& out) {
    Library ft;
    if (!ft.open(font)) {
        return false;
    }
    const int width = baseWidth * scale, height = baseHeight * scale;
    std::vector<float> cover(size_t(width) * height, 0.0f);
    std::vector<float> red(cover.size()), green(cover.size()), blue(cover.size());
    int totalHeight = 0;
    for (const TextLine& l : lines) {
        totalHeight += l.pixelHeight * 5 / 4;
    }
    // The block's place and the line spacing come from the 1x layout, scaled, so that
    // every size of a strip puts its lines at the same fraction of its height; within a
    // line the glyphs and their advances are FreeType's own at the larger size.
    int penY = (baseHeight - totalHeight) / 2 * scale;
    for (const TextLine& line : lines) {
        FT_Set_Pixel_Sizes(ft.face, 0, FT_UInt(line.pixelHeight * scale));
        int advance = 0;
        for (char ch : line.text) {
            if (FT_Load_Char(ft.face, FT_ULong(static_cast<unsigned char>(ch)), FT_LOAD_DEFAULT) ==
                0) {
                advance += int(ft.face->glyph->advance.x >> 6);
            }
        }
        int baseline = penY + int(ft.face->size->metrics.ascender >> 6);
        int penX = (width - advance) / 2;
        for (char ch : line.text) {
            if (FT_Load_Char(ft.face, FT_ULong(static_cast<unsigned char>(ch)), FT_LOAD_RENDER) !=
                0) {
                continue;
            }
            FT_GlyphSlot g = ft.face->glyph;
            const FT_Bitmap& bm = g->bitmap;
            for (unsigned y = 0; y < bm.rows; ++y) {
                for (unsigned x = 0; x < bm.width; ++x) {
                    int px = penX + g->bitmap_left + int(x);
                    int py = baseline - g->bitmap_top + int(y);
                    if (px < 0 || py < 0 || px >= width || py >= height) {
                        continue;
                    }
                    float c = bm.buffer[y * bm.pitch + x] / 255.0f;
                    size_t i = size_t(py) * width + px;
                    if (c > cover[i]) {
                        cover[i] = c;
                        red[i] = line.r;
                        green[i] = line.g;
                        blue[i] = line.b;
                    }
                }
            }
            penX += int(g->advance.x >> 6);
        }
        penY += line.pixelHeight * 5 / 4 * scale;
    }
    // A soft dark halo: the coverage spread by a small box blur, as wide in the
    // strip's terms at every scale.
    const int r = 3 * scale;
    std::vector<float> tmp(cover.size(), 0.0f), halo(cover.size(), 0.0f);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float s = 0;
            for (int i = -r; i <= r; ++i) {
                int xx = std::clamp(x + i, 0, width - 1);
                s += cover[size_t(y) * width + xx];
            }
            tmp[size_t(y) * width + x] = s / (2 * r + 1);
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float s = 0;
            for (int i = -r; i <= r; ++i) {
                int yy = std::clamp(y + i, 0, height - 1);
                s += tmp[size_t(yy) * width + x];
            }
            halo[size_t(y) * width + x] = std::min(1.0f, s / (2 * r + 1) * 2.0f) * 0.7f;
        }
    }
    out = Image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            size_t i = size_t(y) * width + x;
            float c = cover[i];
            float a = c + (1.0f - c) * halo[i];
            uint8_t* p = out.at(x, y);
            if (a <= 0.0f) {
                continue;
            }
            // Text over a black halo, stored with straight alpha.
            p[0] = uint8_t(std::lround(std::min(255.0f, red[i] * c / a)));
            p[1] = uint8_t(std::lround(std::min(255.0f, green[i] * c / a)));
            p[2] = uint8_t(std::lround(std::min(255.0f, blue[i] * c / a)));
            p[3] = uint8_t(std::lround(a * 255.0f));
        }
    }
    return true;
}

namespace {

struct OutlineSink {
    std::vector<Contour> contours;
    double scale = 1.0;
    double offsetX = 0.0;
    int steps = 2;
    std::array<double, 2> last{};

    std::array<double, 2> map(const FT_Vector* v) const {
        return {double(v->x) * scale + offsetX, double(v->y) * scale};
    }
};

int moveTo(const FT_Vector* to, void* user) {
    auto* s = static_cast<OutlineSink*>(user);
    s->contours.emplace_back();
    s->last = s->map(to);
    s->contours.back().push_back(s->last);
    return 0;
}

int lineTo(const FT_Vector* to, void* user) {
    auto* s = static_cast<OutlineSink*>(user);
    s->last = s->map(to);
    s->contours.back().push_back(s->last);
    return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto* s = static_cast<OutlineSink*>(user);
    auto p0 = s->last, c = s->map(control), p1 = s->map(to);
    for (int k = 1; k <= s->steps; ++k) {
        double t = double(k) / s->steps, u = 1.0 - t;
        s->contours.back().push_back({u * u * p0[0] + 2 * u * t * c[0] + t * t * p1[0],
                                      u * u * p0[1] + 2 * u * t * c[1] + t * t * p1[1]});
    }
    s->last = p1;
    return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* s = static_cast<OutlineSink*>(user);
    auto p0 = s->last, a = s->map(c1), b = s->map(c2), p1 = s->map(to);
    for (int k = 1; k <= s->steps + 1; ++k) {
        double t = double(k) / (s->steps + 1), u = 1.0 - t;
        s->contours.back().push_back(
            {u * u * u * p0[0] + 3 * u * u * t * a[0] + 3 * u * t * t * b[0] + t * t * t * p1[0],
             u * u * u * p0[1] + 3 * u * u * t * a[1] + 3 * u * t * t * b[1] + t * t * t * p1[1]});
    }
    s->last = p1;
    return 0;
}

// Drops repeated points, corners that bend by less than about 7 degrees and
// corners very close to a neighbour.
Contour simplify(const Contour& in) {
    Contour c;
    for (const auto& p : in) {
        if (c.empty() || std::hypot(p[0] - c.back()[0], p[1] - c.back()[1]) > 1e-6) {
            c.push_back(p);
        }
    }
    while (c.size() > 1 &&
           std::hypot(c.front()[0] - c.back()[0], c.front()[1] - c.back()[1]) <= 1e-6) {
        c.pop_back();
    }
    bool changed = true;
    while (changed && c.size() > 3) {
        changed = false;
        for (size_t i = 0; i < c.size() && c.size() > 3; ++i) {
            const auto& a = c[(i + c.size() - 1) % c.size()];
            const auto& b = c[i];
            const auto& d = c[(i + 1) % c.size()];
            double ux = b[0] - a[0], uy = b[1] - a[1], vx = d[0] - b[0], vy = d[1] - b[1];
            double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
            double sinAngle = (ux * vy - uy * vx) / (lu * lv);
            double cosAngle = (ux * vx + uy * vy) / (lu * lv);
            // Corners closer than 3 % of the em to a neighbour add triangles
            // without shape.
            bool tiny = std::min(lu, lv) < 0.03;
            if ((cosAngle > 0 && std::fabs(sinAngle) < 0.12) || tiny) {
                c.erase(c.begin() + long(i));
                changed = true;
            }
        }
    }
    return c;
}

bool contains(const Contour& c, std::array<double, 2> p) {
    bool in = false;
    for (size_t i = 0, j = c.size() - 1; i < c.size(); j = i++) {
        if ((c[i][1] > p[1]) != (c[j][1] > p[1]) &&
            p[0] < (c[j][0] - c[i][0]) * (p[1] - c[i][1]) / (c[j][1] - c[i][1]) + c[i][0]) {
            in = !in;
        }
    }
    return in;
}

} // namespace

bool textOutline(const std::string& font, const std::string& text, int curveSteps,
                 std::vector<Shape>& shapes, double& width) {
    Library ft;
    if (!ft.open(font)) {
        return false;
    }
    OutlineSink sink;
    sink.scale = 1.0 / ft.face->units_per_EM;
    sink.steps = curveSteps;
    FT_Outline_Funcs funcs{};
    funcs.move_to = moveTo;
    funcs.line_to = lineTo;
    funcs.conic_to = conicTo;
    funcs.cubic_to = cubicTo;
    double pen = 0.0;
    for (char ch : text) {
        if (FT_Load_Char(ft.face, FT_ULong(static_cast<unsigned char>(ch)), FT_LOAD_NO_SCALE) !=
            0) {
            continue;
        }
        FT_Outline& outline = ft.face->glyph->outline;
        bool trueType = FT_Outline_Get_Orientation(&outline) == FT_ORIENTATION_TRUETYPE;
        sink.contours.clear();
        sink.offsetX = pen;
        FT_Outline_Decompose(&outline, &funcs, &sink);
        std::vector<Contour> outers, holes;
        for (const Contour& raw : sink.contours) {
            Contour c = simplify(raw);
            if (c.size() < 3 || std::fabs(signedArea(c)) < 1e-6) {
                continue;
            }
            bool clockwise = signedArea(c) < 0;
            (clockwise == trueType ? outers : holes).push_back(c);
        }
        std::vector<Shape> glyphShapes;
        for (Contour& o : outers) {
            glyphShapes.push_back({o, {}});
        }
        for (Contour& h : holes) {
            int best = -1;
            double bestArea = 1e300;
            for (size_t i = 0; i < glyphShapes.size(); ++i) {
                double a = std::fabs(signedArea(glyphShapes[i].outer));
                if (contains(glyphShapes[i].outer, h[0]) && a < bestArea) {
                    best = int(i);
                    bestArea = a;
                }
            }
            if (best >= 0) {
                glyphShapes[best].holes.push_back(h);
            }
        }
        shapes.insert(shapes.end(), glyphShapes.begin(), glyphShapes.end());
        pen += double(ft.face->glyph->metrics.horiAdvance) * sink.scale;
    }
    width = pen;
    return true;
}

} // namespace lumo::datagen
