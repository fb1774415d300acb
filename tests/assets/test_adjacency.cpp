#include "assets/mesh.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace lumo {
namespace {

struct Tri {
    int a, b, c;
};

// A mesh with the given positions and triangles, triangle normals filled in the way
// the loader fills them, then the adjacency pass; returns what the pass printed.
std::string build(Mesh& mesh, const std::vector<vec4>& positions, const std::vector<Tri>& tris) {
    mesh.vertices.resize(positions.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        mesh.vertices[i].position = positions[i];
    }
    mesh.vertexCount = int32_t(positions.size());
    mesh.faces.clear();
    for (const Tri& t : tris) {
        MeshFace f;
        f.vertexIndex[0] = t.a;
        f.vertexIndex[1] = t.b;
        f.vertexIndex[2] = t.c;
        const vec4& p = positions[t.a];
        f.normal = normalize(cross(positions[t.b] - p, positions[t.c] - p));
        mesh.faces.push_back(f);
    }
    mesh.faceCount = int32_t(tris.size());
    ::testing::internal::CaptureStdout();
    mesh.buildAdjacency();
    return ::testing::internal::GetCapturedStdout();
}

const std::vector<vec4> kTetraPoints = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
const std::vector<Tri> kTetra = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {0, 3, 2}};

const char* kOpen = "((( non 2-manifold: open edge )))\n";
const char* kShared = "((( non 2-manifold: edge over shared )))\n";

TEST(Adjacency, ClosedTetrahedron) {
    Mesh m;
    EXPECT_EQ(build(m, kTetraPoints, kTetra), "");
    EXPECT_TRUE(m.manifold);
    // Edge numbers follow first appearance: triangle 0 gets 0, 1, 2; six edges in all.
    EXPECT_EQ((std::array{m.faces[0].edge[0], m.faces[0].edge[1], m.faces[0].edge[2]}),
              (std::array{0, 1, 2}));
    EXPECT_EQ(m.faces[3].edge[1], 5);
    // Every neighbour relation is mutual and across the same edge number, so side k of a
    // triangle borders the triangle that shares edge k.
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
    EXPECT_EQ(f.planePointX.z, 1.0f); // across side 1 lies (1 2 3), from (1, 0, 0)
}

TEST(Adjacency, SingleTriangleIsOpen) {
    Mesh m;
    EXPECT_EQ(build(m, kTetraPoints, {{0, 1, 2}}), std::string(kOpen) + kOpen + kOpen);
    EXPECT_FALSE(m.manifold);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(m.faces[0].neighbour[k], -1);
    }
    EXPECT_EQ(m.faces[0].planeNormalZ, vec4());
}

TEST(Adjacency, ThreeTrianglesOnOneEdge) {
    Mesh m;
    std::vector<vec4> points = kTetraPoints;
    points.push_back({1, 1, 1, 1});
    std::string out = build(m, points, {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}});
    // One "edge over shared" when the third triangle meets edge 0-1, then every other
    // side (six of them) is open.
    EXPECT_EQ(out.find(kShared), 0u);
    EXPECT_EQ(out.find(kShared, 1), std::string::npos);
    EXPECT_EQ(out.size(), std::string(kShared).size() + 6 * std::string(kOpen).size());
    EXPECT_FALSE(m.manifold);
    // face1 is the last triangle met on the edge.
    EXPECT_EQ(m.faces[0].neighbour[0], 2);
    EXPECT_EQ(m.faces[1].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].edge[0], 0);
}

TEST(Adjacency, WindingIsNotChecked) {
    // The same tetrahedron with one triangle flipped: its sides run the same way as
    // their neighbours' but are still shared.
    std::vector<Tri> flipped = kTetra;
    flipped[2] = {1, 3, 2};
    Mesh m;
    EXPECT_EQ(build(m, kTetraPoints, flipped), "");
    EXPECT_TRUE(m.manifold);
}

TEST(Adjacency, MoreThan65536Vertices) {
    // With keys packed into 32 bits (min * 65536 + max) the sides (1, 65541) and (2, 5) of
    // these two separate triangles would be taken for one shared edge.
    std::vector<vec4> points(65542);
    for (size_t i = 0; i < points.size(); ++i) {
        points[i] = vec4(float(i % 7), float(i % 11), float(i % 13), 1);
    }
    Mesh m;
    std::string open;
    for (int i = 0; i < 6; ++i) {
        open += kOpen;
    }
    EXPECT_EQ(build(m, points, {{1, 65541, 0}, {2, 5, 3}}), open);
    EXPECT_EQ(m.faces[1].edge[0], 3);
    EXPECT_EQ(m.faces[1].neighbour[0], -1);
}

} // namespace
} // namespace lumo
