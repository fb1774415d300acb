// The generator's solids: closed by construction, wound outwards, and the
// polygon triangulation geometrically valid with holes.
#include "tools/datagen/geometry.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace lumo::datagen {
namespace {

// Every directed edge must appear exactly once and its reverse exactly once.
void expectClosedOutward(const MeshBuilder& m) {
    std::map<std::pair<int, int>, int> directed;
    double volume = 0;
    for (const Tri& t : m.tris()) {
        for (int k = 0; k < 3; ++k) {
            ++directed[{t.v[k], t.v[(k + 1) % 3]}];
        }
        V3 a = m.positions()[t.v[0]], b = m.positions()[t.v[1]], c = m.positions()[t.v[2]];
        volume += dot(a, cross(b, c)) / 6.0;
    }
    for (const auto& [edge, count] : directed) {
        ASSERT_EQ(count, 1) << edge.first << "-" << edge.second;
        ASSERT_EQ(directed.count({edge.second, edge.first}), 1u) << "open edge";
    }
    EXPECT_GT(volume, 0.0);
}

TEST(Solids, ClosedAndOutward) {
    struct Case {
        const char* name;
        std::function<void(MeshBuilder&)> build;
        int triangles; // 0: not checked
    };
    const Case cases[] = {
        {"box",
         [](MeshBuilder& m) {
             addBox(m, {-1, -2, -3}, {1, 2, 3});
         },
         12},
        {"bevel box",
         [](MeshBuilder& m) {
             addBevelBox(m, {-1, -1, -1}, {2, 1, 1}, 0.2);
         },
         44},
        {"ellipsoid",
         [](MeshBuilder& m) {
             addEllipsoid(m, {1, 2, 3}, {1, 2, 1}, 6, 8);
         },
         0},
        {"torus knot", [](MeshBuilder& m) { addTorusKnot(m, 2, 3, 3.0, 1.2, 0.5, 24, 3); },
         24 * 3 * 2},
        {"tube",
         [](MeshBuilder& m) {
             addTubePath(m, {{0, 0, 0}, {1, 2, 0}, {2, 3, 1}, {4, 3, 2}}, {0.5, 0.4, 0.3, 0.2}, 4,
                         1.0);
         },
         0},
        {"mirrored box", // mirrored copies keep their outward winding
         [](MeshBuilder& m) {
             MeshBuilder part;
             addBox(part, {0, 0, 0}, {1, 1, 1});
             m.append(part, Xform::scale({-1, 1, 1}));
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeshBuilder m;
        c.build(m);
        if (c.triangles != 0) {
            EXPECT_EQ(m.triangleCount(), c.triangles);
        }
        expectClosedOutward(m);
    }
}

TEST(Polygons, TriangulationWithHolesCoversTheArea) {
    // A 10 x 10 square with two holes, one of them clockwise already, and a
    // notch that makes the outline concave.
    Shape s;
    s.outer = {{0, 0}, {10, 0}, {10, 10}, {6, 10}, {5, 6}, {4, 10}, {0, 10}};
    s.holes = {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}, {{6, 1}, {6, 3}, {8, 3}, {8, 1}}};
    auto tris = triangulate(s);
    const size_t n = 7 + 4 + 4;
    EXPECT_EQ(tris.size(), n - 2 + 2 * 2);
    std::vector<std::array<double, 2>> pts = s.outer;
    for (const auto& h : s.holes) {
        pts.insert(pts.end(), h.begin(), h.end());
    }
    double area = 0;
    for (const auto& t : tris) {
        Contour tri{pts[t[0]], pts[t[1]], pts[t[2]]};
        double a = signedArea(tri);
        EXPECT_GE(a, 0.0) << "triangles wind counter-clockwise";
        area += a;
    }
    EXPECT_NEAR(area, 100.0 - 4.0 - 4.0 - 4.0, 1e-9); // the notch and the holes are 4 each
}

TEST(Polygons, ExtrusionIsClosedWhateverTheContourDirection) {
    Shape s;
    s.outer = {{0, 0}, {0, 4}, {4, 4}, {4, 0}};   // clockwise outline
    s.holes = {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}}; // counter-clockwise hole
    MeshBuilder m;
    addExtrusion(m, {s}, -0.5, 0.5);
    expectClosedOutward(m);
}

} // namespace
} // namespace lumo::datagen
