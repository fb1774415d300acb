// The generator's solids: closed by construction, wound outwards, and the
// polygon triangulation geometrically valid with holes.
#include "tools/datagen/geometry.h"

#include <gtest/gtest.h>

#include <map>

namespace lumo::datagen {
namespace {

// Closed: every directed edge appears exactly once and its reverse exactly
// once. Outward: the enclosed volume is positive.
TEST(Solids, ClosedAndOutward) {
    MeshBuilder solids[7], part;
    addBox(solids[0], {-1, -2, -3}, {1, 2, 3});
    addBevelBox(solids[1], {-1, -1, -1}, {2, 1, 1}, 0.2);
    addEllipsoid(solids[2], {1, 2, 3}, {1, 2, 1}, 6, 8);
    addTorusKnot(solids[3], 2, 3, 3.0, 1.2, 0.5, 24, 3);
    addTubePath(solids[4], {{0, 0, 0}, {1, 2, 0}, {2, 3, 1}, {4, 3, 2}}, {0.5, 0.4, 0.3, 0.2}, 4,
                1.0);
    addBox(part, {0, 0, 0}, {1, 1, 1});
    solids[5].append(part, Xform::scale({-1, 1, 1})); // a mirrored copy keeps its winding
    // The extrusion is closed whatever the contour direction: a clockwise
    // outline with a counter-clockwise hole.
    addExtrusion(solids[6],
                 {{{{0, 0}, {0, 4}, {4, 4}, {4, 0}}, {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}}}}, -0.5,
                 0.5);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const MeshBuilder& m = solids[i];
        std::map<std::pair<int, int>, int> directed;
        double volume = 0;
        for (const Tri& t : m.tris()) {
            for (int k = 0; k < 3; ++k) {
                ++directed[{t.v[k], t.v[(k + 1) % 3]}];
            }
            V3 a = m.positions()[t.v[0]], b = m.positions()[t.v[1]], c = m.positions()[t.v[2]];
            volume += dot(a, cross(b, c));
        }
        for (const auto& [edge, count] : directed) {
            ASSERT_EQ(count, 1) << edge.first << "-" << edge.second;
            ASSERT_EQ(directed.count({edge.second, edge.first}), 1u) << "open edge";
        }
        EXPECT_GT(volume, 0.0);
    }
}

TEST(Polygons, TriangulationWithHolesCoversTheArea) {
    // A 10 x 10 square with two holes, one of them clockwise already, and a
    // notch that makes the outline concave.
    const Shape s{{{0, 0}, {10, 0}, {10, 10}, {6, 10}, {5, 6}, {4, 10}, {0, 10}},
                  {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}, {{6, 1}, {6, 3}, {8, 3}, {8, 1}}}};
    auto tris = triangulate(s);
    EXPECT_EQ(tris.size(), (7 + 4 + 4) - 2 + 2 * 2); // n - 2 plus two per hole
    std::vector<std::array<double, 2>> pts = s.outer;
    for (const auto& h : s.holes) {
        pts.insert(pts.end(), h.begin(), h.end());
    }
    double area = 0;
    for (const auto& t : tris) {
        double a = signedArea({pts[t[0]], pts[t[1]], pts[t[2]]});
        EXPECT_GE(a, 0.0) << "triangles wind counter-clockwise";
        area += a;
    }
    EXPECT_NEAR(area, 100.0 - 4.0 - 4.0 - 4.0, 1e-9); // the notch and the holes are 4 each
}

} // namespace
} // namespace lumo::datagen
