#include "assets/mesh.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace lumo {
namespace {

using Tri = std::array<int, 3>;

// A mesh with the given positions and triangles, triangle normals filled in the way
// the loader fills them, then the adjacency pass; returns the lines the pass logged.
std::string build(Mesh& mesh, const std::vector<vec4>& positions, const std::vector<Tri>& tris) {
    mesh.vertices.resize(positions.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        mesh.vertices[i].position = positions[i];
    }
    mesh.vertexCount = int32_t(positions.size());
    for (const Tri& t : tris) {
        MeshFace& f = mesh.faces.emplace_back();
        std::copy(t.begin(), t.end(), f.vertexIndex);
        f.normal =
            normalize(cross(positions[t[1]] - positions[t[0]], positions[t[2]] - positions[t[0]]));
    }
    mesh.faceCount = int32_t(tris.size());
    LogCapture log;
    mesh.buildAdjacency();
    return log.text();
}

const std::vector<vec4> kTetraPoints = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};

const std::string kOpen = "((( non 2-manifold: open edge )))\n";
const std::string kShared = "((( non 2-manifold: edge over shared )))\n";

TEST(Adjacency, ClosedTetrahedronEitherWinding) {
    // Winding is not checked: with triangle 2 flipped its sides run the same way as its
    // neighbours' but are still shared.
    for (Tri third : {Tri{1, 2, 3}, Tri{1, 3, 2}}) {
        Mesh m;
        EXPECT_EQ(build(m, kTetraPoints, {{0, 2, 1}, {0, 1, 3}, third, {0, 3, 2}}), "");
        EXPECT_TRUE(m.manifold);
        // Edge numbers follow first appearance: triangle 0 gets 0, 1, 2; six edges in all.
        EXPECT_EQ((std::array{m.faces[0].edge[0], m.faces[0].edge[1], m.faces[0].edge[2]}),
                  (std::array{0, 1, 2}));
        EXPECT_EQ(m.faces[3].edge[1], 5);
        // Every neighbour relation is mutual and across the same edge number, so side k of
        // a triangle borders the triangle that shares edge k.
        for (int t = 0; t < 4; ++t) {
            for (int k = 0; k < 3; ++k) {
                const MeshFace& other = m.faces[m.faces[t].neighbour[k]];
                int back = 0;
                for (int j = 0; j < 3; ++j) {
                    back += other.neighbour[j] == t && other.edge[j] == m.faces[t].edge[k];
                }
                EXPECT_EQ(back, 1) << t << " side " << k;
            }
        }
        // Plane block: lane 0 the triangle, lanes 1-3 its neighbours; points are corner 0.
        const MeshFace& f = m.faces[0];
        EXPECT_EQ(f.planeNormalZ.x, -1.0f);
        EXPECT_EQ(f.planeNormalY.w, m.faces[f.neighbour[2]].normal.y);
        EXPECT_EQ(f.planePointX.z, 1.0f); // across side 1 lies triangle 2, from (1, 0, 0)
    }
}

TEST(Adjacency, ThreeTrianglesOnOneEdge) {
    Mesh m;
    std::vector<vec4> points = kTetraPoints;
    points.push_back({1, 1, 1, 1});
    // One "edge over shared" when the third triangle meets edge 0-1, then every other
    // side (six of them) is open.
    std::string expected = kShared;
    for (int i = 0; i < 6; ++i) {
        expected += kOpen;
    }
    EXPECT_EQ(build(m, points, {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}}), expected);
    EXPECT_FALSE(m.manifold);
    // face1 is the last triangle met on the edge.
    EXPECT_EQ(m.faces[0].neighbour[0], 2);
    EXPECT_EQ(m.faces[1].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].edge[0], 0);
}

TEST(Adjacency, MoreThan65536Vertices) {
    // With keys packed into 32 bits (min * 65536 + max) the sides (1, 65541) and (2, 5) of
    // these two separate triangles would be taken for one shared edge.
    std::vector<vec4> points(65542);
    for (size_t i = 0; i < points.size(); ++i) {
        points[i] = vec4(float(i % 7), float(i % 11), float(i % 13), 1);
    }
    Mesh m;
    EXPECT_EQ(build(m, points, {{1, 65541, 0}, {2, 5, 3}}).size(), 6 * kOpen.size());
    EXPECT_EQ(m.faces[1].edge[0], 3);
    EXPECT_EQ(m.faces[1].neighbour[0], -1);
}

} // namespace
} // namespace lumo
