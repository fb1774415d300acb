#include "tools/datagen/meshes.h"

#include "tools/datagen/geometry.h"
#include "tools/datagen/image.h"
#include "tools/datagen/noise.h"
#include "tools/datagen/text.h"

#include <cstdio>
#include <functional>

namespace lumo::datagen {

namespace {

MaterialDef mat(const std::string& name, float r, float g, float b, const std::string& tex = "") {
    return {name, {r, g, b}, tex};
}

// Light marker: a small tetrahedron with an unlit glowing texture, so it shows
// at the light's own position where no light reaches its faces.
MeshBuilder tetra6() {
    MeshBuilder m;
    m.use(m.material(mat("glow", 1, 1, 1, "glow.png")));
    double s = 1.2;
    int a = m.vertex({s, s, s}), b = m.vertex({-s, -s, s});
    int c = m.vertex({-s, s, -s}), d = m.vertex({s, -s, -s});
    m.tri(a, b, d);
    m.tri(a, c, b);
    m.tri(a, d, c);
    m.tri(b, c, d);
    return m;
}

// Sky box: a cube seen from inside, each face mapped to its cell of the sky atlas.
MeshBuilder spacebox(int faceTexels) {
    MeshBuilder m;
    m.use(m.material(mat("sky", 1, 1, 1, "sky.png")));
    const double h = 9.0;
    for (int f = 0; f < 6; ++f) {
        int col = f % 3, row = f / 3;
        int v[4], t[4];
        const double st[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (int k = 0; k < 4; ++k) {
            double s = st[k][0], tt = st[k][1];
            v[k] = m.vertex(normalized(skyFaceDirection(f, s, tt)) * (h * std::sqrt(3.0)));
            // Texel centres of the face's outer row, so no neighbour cell bleeds in.
            double half = 0.5 / faceTexels;
            double u = (col + half + (s + 1) * 0.5 * (1 - 2 * half)) / 3.0;
            double vv = 1.0 - (row + half + (tt + 1) * 0.5 * (1 - 2 * half)) / 2.0;
            t[k] = m.uv(u, vv);
        }
        // Wind the face towards the cube's centre.
        V3 n = cross(m.positions()[v[1]] - m.positions()[v[0]],
                     m.positions()[v[2]] - m.positions()[v[0]]);
        if (dot(n, m.positions()[v[0]]) > 0) {
            std::swap(v[1], v[3]);
            std::swap(t[1], t[3]);
        }
        m.triUv(v[0], v[1], v[2], t[0], t[1], t[2]);
        m.triUv(v[0], v[2], v[3], t[0], t[2], t[3]);
    }
    return m;
}

// One segment of the twisted tube: four square bars, each spiralling an eighth
// of a turn around the axis, so segments stacked with a rotation of pi/4 each
// continue the helix.
MeshBuilder tube4a() {
    MeshBuilder m;
    int mats[2] = {m.material(mat("bar_a", 0.85f, 0.55f, 0.25f)),
                   m.material(mat("bar_b", 0.35f, 0.6f, 0.9f))};
    const double radius = 1.5, y0 = -0.5, y1 = 2.5, turn = M_PI / 4;
    const int steps = 2;
    for (int bar = 0; bar < 4; ++bar) {
        m.use(mats[bar % 2]);
        std::vector<Frame> frames;
        std::vector<double> scales, twists;
        for (int k = 0; k <= steps; ++k) {
            double f = double(k) / steps;
            double a = bar * M_PI / 2 + turn * f;
            V3 p{radius * std::cos(a), y0 + (y1 - y0) * f, -radius * std::sin(a)};
            V3 radial{std::cos(a), 0, -std::sin(a)};
            // Local z along the bar's climb (up), x radial, y = z cross x.
            V3 up =
                normalized(V3{-std::sin(a) * radius * turn, y1 - y0, -std::cos(a) * radius * turn});
            V3 x = normalized(radial - up * dot(radial, up));
            frames.push_back({p, x, cross(up, x)});
            scales.push_back(0.26);
            twists.push_back(M_PI / 4 + f * M_PI / 2);
        }
        addLoft(m, polygonSection(4), frames, scales, twists);
    }
    return m;
}

// The tube scene's floor, a grid so that per-vertex light falls off smoothly.
MeshBuilder testplane() {
    MeshBuilder m;
    m.use(m.material(mat("floor", 0.3f, 0.3f, 0.36f)));
    const int n = 24;
    const double size = 700, y = -6;
    std::vector<int> ids;
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            ids.push_back(m.vertex({-size / 2 + size * i / n, y, -size / 2 + size * j / n}));
        }
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            int a = ids[j * (n + 1) + i], b = ids[j * (n + 1) + i + 1];
            int c = ids[(j + 1) * (n + 1) + i + 1], d = ids[(j + 1) * (n + 1) + i];
            m.quad(a, d, c, b); // facing up
        }
    }
    return m;
}

MeshBuilder testobj() {
    MeshBuilder m;
    m.use(m.material(mat("knot", 0.9f, 0.35f, 0.3f)));
    addTorusKnot(m, 2, 3, 3.0, 1.3, 0.8, 24, 3);
    return m;
}

// Extruded text centred on x = 0, em = `em` units, from z0 to z1.
bool textMesh(MeshBuilder& m, const std::string& font, const std::string& text, double em,
              double z0, double z1, int steps, double& width) {
    std::vector<Shape> shapes;
    if (!textOutline(fontPath(font), text, steps, shapes, width)) {
        return false;
    }
    for (Shape& s : shapes) {
        for (auto& p : s.outer) {
            p = {(p[0] - width / 2) * em, p[1] * em};
        }
        for (auto& h : s.holes) {
            for (auto& p : h) {
                p = {(p[0] - width / 2) * em, p[1] * em};
            }
        }
    }
    addExtrusion(m, shapes, z0, z1);
    width *= em;
    return true;
}

// The logo: "lumo" in bold extruded letters on a bevelled plinth, leaning back
// so that a light from above reaches the letter faces.
bool t1(MeshBuilder& out) {
    MeshBuilder letters;
    letters.use(letters.material(mat("logo", 0.95f, 0.75f, 0.3f)));
    double width = 0;
    if (!textMesh(letters, "DejaVuSans-Bold.ttf", "lumo", 10.0, -1.2, 1.2, 2, width)) {
        return false;
    }
    out.append(letters, Xform::rotateX(-0.6));
    out.use(out.material(mat("plinth", 0.3f, 0.32f, 0.4f)));
    addBevelBox(out, {-width / 2 - 3, -3.5, -8}, {width / 2 + 3, -1.2, 5}, 0.6);
    return true;
}

// A small falcon: body, head, hooked beak, swept wings and a fanned tail.
MeshBuilder kestrel() {
    MeshBuilder m;
    m.use(m.material(mat("plumage", 0.72f, 0.42f, 0.22f)));
    addEllipsoid(m, {0, 0, 0}, {1.1, 1.0, 2.6}, 6, 8);
    addEllipsoid(m, {0, 0.7, 2.4}, {0.8, 0.8, 0.85}, 5, 8);
    m.use(m.material(mat("beak", 0.95f, 0.8f, 0.2f)));
    {
        std::vector<Frame> frames{{{0, 0.55, 3.1}, {1, 0, 0}, {0, 1, 0}},
                                  {{0, 0.45, 3.6}, {1, 0, 0}, {0, 1, 0}},
                                  {{0, 0.2, 3.9}, {1, 0, 0}, {0, 1, 0}}};
        addLoft(m, polygonSection(4, M_PI / 4), frames, {0.3, 0.18, 0.04}, {0, 0, 0});
    }
    m.use(m.material(mat("wing", 0.55f, 0.35f, 0.22f)));
    {
        // A flat section swept outwards and back along the span (the loft's
        // advance); the left wing is the right one mirrored.
        std::vector<std::array<double, 2>> section{
            {-1.2, -0.12}, {1.4, -0.05}, {1.4, 0.08}, {-1.2, 0.18}};
        V3 span = normalized(V3{1, 0.2, -0.3});
        V3 chord = normalized(cross(V3{0, 1, 0}, span));
        std::vector<Frame> frames;
        std::vector<double> scales, twists;
        for (int k = 0; k <= 3; ++k) {
            double f = k / 3.0;
            frames.push_back(
                {{0.8 + 5.2 * f, 0.3 + 0.9 * f * f, 0.6 - 1.8 * f}, chord, cross(span, chord)});
            scales.push_back(1.0 - 0.75 * f);
            twists.push_back(0.0);
        }
        MeshBuilder wing;
        addLoft(wing, section, frames, scales, twists);
        m.append(wing, Xform{});
        m.append(wing, Xform::scale({-1, 1, 1}));
    }
    m.use(m.material(mat("tail", 0.6f, 0.4f, 0.25f)));
    {
        std::vector<std::array<double, 2>> section{
            {-0.5, -0.08}, {0.5, -0.08}, {0.5, 0.08}, {-0.5, 0.08}};
        std::vector<Frame> frames{{{0, 0.1, -2.2}, {-1, 0, 0}, {0, 1, 0}},
                                  {{0, 0.0, -3.4}, {-1, 0, 0}, {0, 1, 0}},
                                  {{0, -0.1, -4.4}, {-1, 0, 0}, {0, 1, 0}}};
        addLoft(m, section, frames, {1.0, 1.6, 2.2}, {0, 0, 0});
    }
    // The scene places it unrotated, far above the logo: it flies to the left,
    // banked so that its back and spread wings face the cameras in front, and
    // large enough to read from there.
    m.transform(Xform::rotateX(1.0) * Xform::rotateY(-M_PI / 2) * Xform::scale({2, 2, 2}));
    return m;
}

// kg2: a twisted star column with two tilted rings around it.
MeshBuilder kg2() {
    MeshBuilder m;
    m.use(m.material(mat("star", 0.3f, 0.75f, 0.7f)));
    std::vector<std::array<double, 2>> star;
    for (int i = 0; i < 10; ++i) {
        double a = M_PI * i / 5, r = (i % 2) ? 0.5 : 1.0;
        star.push_back({r * std::cos(a), r * std::sin(a)});
    }
    std::vector<Frame> frames;
    std::vector<double> scales, twists;
    for (int k = 0; k <= 7; ++k) {
        double f = k / 7.0;
        frames.push_back({{0, -13 + 26 * f, 0}, {1, 0, 0}, {0, 0, -1}});
        scales.push_back(4.0 + 3.5 * std::sin(M_PI * f));
        twists.push_back(M_PI * f);
    }
    addLoft(m, star, frames, scales, twists);
    m.use(m.material(mat("ring", 0.9f, 0.85f, 0.8f)));
    MeshBuilder ring;
    addTorus(ring, {}, 10.5, 1.0, 16, 5);
    m.append(ring, Xform::rotateX(0.5));
    m.append(ring, Xform::rotateZ(-0.6) * Xform::scale({0.8, 0.8, 0.8}));
    return m;
}

MeshBuilder somethingelse() {
    MeshBuilder m;
    m.use(m.material(mat("knot", 0.85f, 0.3f, 0.55f)));
    addTorusKnot(m, 2, 5, 9.0, 4.0, 1.9, 64, 6);
    return m;
}

// sb1: a cluster of six-sided crystals.
MeshBuilder sb1() {
    MeshBuilder m;
    m.use(m.material(mat("crystal", 0.55f, 0.7f, 1.0f)));
    MeshBuilder one;
    addLathe(one, {{0, -1}, {0.35, -0.55}, {0.35, 0.6}, {0, 1.2}}, 6, {});
    const double dirs[5][3] = {
        {0, 0, 0}, {0.9, 0, 0.3}, {-0.8, 0, 0.5}, {0.2, 0, -0.9}, {-0.4, 0, -0.6}};
    for (int i = 0; i < 5; ++i) {
        double len = i == 0 ? 7.0 : 4.5;
        Xform xf = Xform::rotateY(dirs[i][2] * 3.0) * Xform::rotateZ(dirs[i][0] * 0.9) *
                   Xform::rotateX(dirs[i][2] * 0.7) * Xform::scale({len * 0.8, len, len * 0.8});
        m.append(one, xf);
    }
    return m;
}

// sb1area: a chequered slab under sb1, closed so that it casts as well as catches.
MeshBuilder sb1area() {
    MeshBuilder m;
    int dark = m.material(mat("tile_dark", 0.25f, 0.25f, 0.35f));
    int light = m.material(mat("tile_light", 0.7f, 0.7f, 0.75f));
    const int n = 10;
    const double size = 90, top = -10, bottom = -12;
    auto gridAt = [&](double y) {
        std::vector<int> g;
        for (int j = 0; j <= n; ++j) {
            for (int i = 0; i <= n; ++i) {
                g.push_back(m.vertex({-size / 2 + size * i / n, y, -size / 2 + size * j / n}));
            }
        }
        return g;
    };
    std::vector<int> t = gridAt(top), b = gridAt(bottom);
    auto id = [&](const std::vector<int>& g, int i, int j) { return g[j * (n + 1) + i]; };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            m.use((i + j) % 2 ? dark : light);
            m.quad(id(t, i, j), id(t, i, j + 1), id(t, i + 1, j + 1), id(t, i + 1, j));
            m.use(dark);
            m.quad(id(b, i, j), id(b, i + 1, j), id(b, i + 1, j + 1), id(b, i, j + 1));
        }
    }
    m.use(dark);
    // Walls along the boundary loop, counter-clockwise seen from above.
    std::vector<std::pair<int, int>> loop;
    for (int i = 0; i < n; ++i) {
        loop.push_back({i, n});
    }
    for (int j = n; j > 0; --j) {
        loop.push_back({n, j});
    }
    for (int i = n; i > 0; --i) {
        loop.push_back({i, 0});
    }
    for (int j = 0; j < n; ++j) {
        loop.push_back({0, j});
    }
    for (size_t k = 0; k < loop.size(); ++k) {
        auto [i0, j0] = loop[k];
        auto [i1, j1] = loop[(k + 1) % loop.size()];
        m.quad(id(b, i0, j0), id(b, i1, j1), id(t, i1, j1), id(t, i0, j0));
    }
    return m;
}

MeshBuilder tile4() {
    MeshBuilder m;
    m.use(m.material(mat("tile", 0.3f, 0.33f, 0.5f)));
    addBevelBox(m, {-4.4, -4.4, -0.8}, {4.4, 4.4, 0.8}, 0.7);
    return m;
}

// A greeting: text lying in the x/z plane (its face up, the top of the letters
// towards -z) so that the scene's quarter turn about x stands it up facing +z.
bool greeting(MeshBuilder& out, const std::string& text) {
    MeshBuilder letters;
    letters.use(letters.material(mat("greet", 0.95f, 0.9f, 0.6f)));
    double width = 0;
    if (!textMesh(letters, "DejaVuSans-Bold.ttf", text, 5.5, -0.8, 0.8, 1, width)) {
        return false;
    }
    out.append(letters, Xform::rotateX(-M_PI / 2) * Xform::translate({0, -2.0, 0}));
    return true;
}

// An octopus: mantle, eyes and eight curling arms.
MeshBuilder octo() {
    MeshBuilder m;
    m.use(m.material(mat("skin", 0.85f, 0.3f, 0.45f)));
    addEllipsoid(m, {0, 2.5, 0}, {3.0, 3.8, 3.0}, 7, 10);
    for (int arm = 0; arm < 8; ++arm) {
        double a = arm * M_PI / 4 + 0.2;
        std::vector<V3> path;
        std::vector<double> radii;
        for (int k = 0; k <= 6; ++k) {
            double f = k / 6.0;
            double r = 1.8 + 5.5 * f;
            double curl = 1.4 * f * f;
            double y = -0.2 - 4.5 * f + 2.2 * f * f * f;
            path.push_back({r * std::cos(a + curl), y, -r * std::sin(a + curl)});
            radii.push_back(0.85 * (1.0 - 0.8 * f));
        }
        addTubePath(m, path, radii, 4);
    }
    m.use(m.material(mat("eye", 0.95f, 0.95f, 0.9f)));
    addEllipsoid(m, {1.3, 2.6, 2.4}, {0.7, 0.8, 0.6}, 3, 6);
    addEllipsoid(m, {-1.3, 2.6, 2.4}, {0.7, 0.8, 0.6}, 3, 6);
    return m;
}

// The landmark tower stands at (kTowerX, 0, kTowerZ) (bldg1_pos in varpile.txt)
// in the middle of the city; its pieces and the ground are built around it.
constexpr double kTowerX = 30.0, kTowerZ = -200.0;

// The city: boxes standing on y = 0 (they rise from below with the scene time).
MeshBuilder buildingBox(int index) {
    MeshBuilder m;
    static const float palette[4][3] = {
        {0.75f, 0.75f, 0.8f}, {0.55f, 0.6f, 0.75f}, {0.8f, 0.7f, 0.55f}, {0.6f, 0.65f, 0.6f}};
    const float* c = palette[index % 4];
    m.use(m.material(mat("concrete", c[0], c[1], c[2])));
    Lcg rng(9001u + uint32_t(index) * 7u);
    int col = index % 6, row = index / 6;
    double x = col * 26.0 + rng.signedUniform() * 4.0;
    double z = -60.0 - row * 55.0 + rng.signedUniform() * 6.0;
    double w = 8 + rng.uniform() * 8, d = 8 + rng.uniform() * 8;
    double h = 14 + rng.uniform() * rng.uniform() * 70;
    addBox(m, {x - w / 2, 0, z - d / 2}, {x + w / 2, h, z + d / 2});
    return m;
}

// The landmark tower, in four lit pieces around its own origin (bldg1_pos).
MeshBuilder buildingChunk(int k) {
    MeshBuilder m;
    switch (k) {
    case 1:
        m.use(m.material(mat("base", 0.5f, 0.5f, 0.55f)));
        addBevelBox(m, {-13, 0, -13}, {13, 18, 13}, 1.5);
        break;
    case 2: {
        m.use(m.material(mat("shaft", 0.7f, 0.72f, 0.8f)));
        std::vector<Frame> frames;
        std::vector<double> scales, twists;
        for (int i = 0; i <= 3; ++i) {
            frames.push_back({{0, 18 + 16.0 * i, 0}, {1, 0, 0}, {0, 0, -1}});
            scales.push_back(10.0 - i * 1.2);
            twists.push_back(i * 0.25);
        }
        addLoft(m, polygonSection(8, M_PI / 8), frames, scales, twists);
        break;
    }
    case 3:
        m.use(m.material(mat("crown", 0.85f, 0.8f, 0.65f)));
        addBevelBox(m, {-7, 66, -7}, {7, 78, 7}, 1.2);
        addTorus(m, {0, 72, 0}, 9.5, 0.9, 12, 4);
        break;
    default:
        m.use(m.material(mat("spire", 0.8f, 0.8f, 0.85f)));
        addLathe(m, {{2.0, 78}, {1.2, 90}, {0.4, 104}, {0, 112}}, 8, {});
        break;
    }
    return m;
}

// Unlit pieces of the second pass: the glowing window bands of the tower.
MeshBuilder buildingSide() {
    MeshBuilder m;
    m.use(m.material(mat("neon_band", 0.2f, 0.9f, 1.0f)));
    for (int i = 0; i < 3; ++i) {
        double y = 24 + i * 14.0;
        double r = 10.3 - (y - 18) / 16.0 * 1.2;
        std::vector<Frame> frames{{{0, y, 0}, {1, 0, 0}, {0, 0, -1}},
                                  {{0, y + 1.2, 0}, {1, 0, 0}, {0, 0, -1}}};
        double twist = (y - 18) / 16.0 * 0.25;
        addLoft(m, polygonSection(8, M_PI / 8), frames, {r, r - 0.1}, {twist, twist + 0.02});
    }
    return m;
}

// The city floor with its street grid (unlit, drawn over the rising boxes' feet).
MeshBuilder buildingRoof() {
    MeshBuilder m;
    int ground = m.material(mat("ground", 0.04f, 0.05f, 0.09f));
    int street = m.material(mat("street", 0.9f, 0.45f, 0.15f));
    // World x -70 to 140 and z -370 to -40, around the tower.
    const double x0 = -70 - kTowerX, x1 = 140 - kTowerX, z0 = -370 - kTowerZ, z1 = -40 - kTowerZ;
    m.use(ground);
    {
        int a = m.vertex({x0, 0, z0}), b = m.vertex({x1, 0, z0});
        int c = m.vertex({x1, 0, z1}), d = m.vertex({x0, 0, z1});
        m.quad(a, d, c, b);
    }
    m.use(street);
    // Street lines between the block rows and columns.
    for (int i = 0; i < 7; ++i) {
        double x = -13 + i * 26.0 - kTowerX;
        int a = m.vertex({x - 0.4, 0.05, z0}), b = m.vertex({x + 0.4, 0.05, z0});
        int c = m.vertex({x + 0.4, 0.05, z1}), d = m.vertex({x - 0.4, 0.05, z1});
        m.quad(a, d, c, b);
    }
    for (int j = 0; j < 6; ++j) {
        double z = -32.5 - j * 55.0 - kTowerZ;
        int a = m.vertex({x0, 0.05, z - 0.4}), b = m.vertex({x1, 0.05, z - 0.4});
        int c = m.vertex({x1, 0.05, z + 0.4}), d = m.vertex({x0, 0.05, z + 0.4});
        m.quad(a, d, c, b);
    }
    return m;
}

MeshBuilder buildingCap() {
    MeshBuilder m;
    m.use(m.material(mat("beacon", 1.0f, 0.25f, 0.2f)));
    addEllipsoid(m, {0, 113, 0}, {1.6, 1.6, 1.6}, 4, 6);
    m.use(m.material(mat("crown_light", 1.0f, 0.85f, 0.4f)));
    addTorus(m, {0, 79, 0}, 7.6, 0.35, 12, 3);
    return m;
}

} // namespace

bool writeMeshes(const std::string& dir, std::vector<MeshInfo>& written) {
    bool ok = true;
    auto put = [&](const std::string& name, const MeshBuilder& m) {
        ok = writeObj(dir, name, m) && ok;
        written.push_back({name + ".obj", int(m.positions().size()), m.triangleCount()});
    };
    const int skyFace = 320;
    put("tetra6", tetra6());
    put("spacebox1", spacebox(skyFace));
    put("tube4a", tube4a());
    put("testplane", testplane());
    put("testobj", testobj());
    MeshBuilder logo;
    if (!t1(logo)) {
        return false;
    }
    put("t1", logo);
    put("kestrel", kestrel());
    put("kg2", kg2());
    put("somethingelse", somethingelse());
    put("sb1", sb1());
    put("sb1area", sb1area());
    put("tile4", tile4());
    const char* greetings[5][2] = {{"g_glimmerfog", "glimmerfog"},
                                   {"g_vantle", "vantle"},
                                   {"g_sorrel", "sorrel"},
                                   {"g_kestrelcrew", "kestrel crew"},
                                   {"g_mossplumetree", "mossplume tree"}};
    for (const auto& g : greetings) {
        MeshBuilder m;
        if (!greeting(m, g[1])) {
            return false;
        }
        put(g[0], m);
    }
    put("octo", octo());
    for (int i = 0; i < kBuildingBoxCount; ++i) {
        put("bldg_box" + std::to_string(i + 1), buildingBox(i));
    }
    for (int k = 1; k <= 4; ++k) {
        put("bldg_chunk" + std::to_string(k), buildingChunk(k));
    }
    put("bldg_side", buildingSide());
    put("bldg_roof", buildingRoof());
    put("bldg_cap", buildingCap());
    ok = writePng(dir + "/glow.png", makeSolid(4, 255, 240, 170)) && ok;
    ok = writePng(dir + "/sky.png", makeSky(skyFace)) && ok;
    return ok;
}

} // namespace lumo::datagen
