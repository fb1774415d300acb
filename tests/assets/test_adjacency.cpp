#include "assets/mesh.h"

#include <gtest/gtest.h>

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
    // Edge numbers follow first appearance: triangle 0 gets 0, 1, 2.
    EXPECT_EQ(m.faces[0].edge[0], 0);
    EXPECT_EQ(m.faces[0].edge[1], 1);
    EXPECT_EQ(m.faces[0].edge[2], 2);
    int highest = 0;
    for (const MeshFace& f : m.faces) {
        for (int k = 0; k < 3; ++k) {
            highest = std::max(highest, f.edge[k]);
        }
    }
    EXPECT_EQ(highest, 5); // six edges
    // Triangle 0 = (0 2 1): side 0 (0-2) borders triangle 3 (0 3 2), side 1 (2-1)
    // triangle 2, side 2 (1-0) triangle 1.
    EXPECT_EQ(m.faces[0].neighbour[0], 3);
    EXPECT_EQ(m.faces[0].neighbour[1], 2);
    EXPECT_EQ(m.faces[0].neighbour[2], 1);
    // Every neighbour relation is mutual and across the same edge number.
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
    // Plane block: lane 0 the triangle, lanes 1-3 the neighbours, positions of corner 0.
    const MeshFace& f = m.faces[2];
    const MeshFace* lanes[4] = {&f, &m.faces[f.neighbour[0]], &m.faces[f.neighbour[1]],
                                &m.faces[f.neighbour[2]]};
    auto across = [&](auto get) {
        return vec4(get(*lanes[0]), get(*lanes[1]), get(*lanes[2]), get(*lanes[3]));
    };
    auto corner0 = [&](const MeshFace& l) { return kTetraPoints[l.vertexIndex[0]]; };
    EXPECT_EQ(f.planeNormalX, across([](const MeshFace& l) { return l.normal.x; }));
    EXPECT_EQ(f.planeNormalZ, across([](const MeshFace& l) { return l.normal.z; }));
    EXPECT_EQ(f.planePointX, across([&](const MeshFace& l) { return corner0(l).x; }));
    EXPECT_EQ(f.planePointY, across([&](const MeshFace& l) { return corner0(l).y; }));
    EXPECT_EQ(f.planePointZ, across([&](const MeshFace& l) { return corner0(l).z; }));
}

TEST(Adjacency, SingleTriangleIsOpen) {
    Mesh m;
    EXPECT_EQ(build(m, kTetraPoints, {{0, 1, 2}}), std::string(kOpen) + kOpen + kOpen);
    EXPECT_FALSE(m.manifold);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(m.faces[0].neighbour[k], -1);
        EXPECT_EQ(m.faces[0].edge[k], k);
    }
    EXPECT_EQ(m.faces[0].planeNormalZ, vec4());
    EXPECT_EQ(m.faces[0].planePointX, vec4());
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
    size_t opens = 0;
    for (size_t at = out.find(kOpen); at != std::string::npos; at = out.find(kOpen, at + 1)) {
        ++opens;
    }
    EXPECT_EQ(opens, 6u);
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
    // A closed torus grid of 300 x 250 = 75000 vertices. With keys packed into 32 bits
    // (min * 65536 + max) sides such as (1, 65541) and (2, 5) would collide.
    const int U = 300, V = 250;
    std::vector<vec4> points;
    for (int i = 0; i < U; ++i) {
        for (int j = 0; j < V; ++j) {
            float a = float(i) * 6.2831853f / U, b = float(j) * 6.2831853f / V;
            float r = 3.0f + std::cos(b);
            points.push_back({r * std::cos(a), r * std::sin(a), std::sin(b), 1});
        }
    }
    auto id = [&](int i, int j) { return (i % U) * V + (j % V); };
    std::vector<Tri> tris;
    for (int i = 0; i < U; ++i) {
        for (int j = 0; j < V; ++j) {
            tris.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1)});
            tris.push_back({id(i, j), id(i + 1, j + 1), id(i, j + 1)});
        }
    }
    Mesh m;
    EXPECT_EQ(build(m, points, tris), "");
    EXPECT_TRUE(m.manifold);
    int highest = 0;
    for (size_t t = 0; t < m.faces.size(); ++t) {
        const MeshFace& f = m.faces[t];
        for (int k = 0; k < 3; ++k) {
            highest = std::max(highest, f.edge[k]);
            // The neighbour across side k holds both of its vertices.
            const MeshFace& n = m.faces[f.neighbour[k]];
            int a = f.vertexIndex[k], b = f.vertexIndex[(k + 1) % 3], found = 0;
            for (int j = 0; j < 3; ++j) {
                found += n.vertexIndex[j] == a || n.vertexIndex[j] == b;
            }
            ASSERT_EQ(found, 2) << "triangle " << t << " side " << k;
        }
    }
    EXPECT_EQ(highest + 1, 3 * U * V); // V - E + F = 0 on a torus
}

} // namespace
} // namespace lumo
