#include "tests/support/meshgen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>

namespace lumo {

namespace {

using Corners = std::array<int, 3>;

class MeshBuilder {
public:
    MeshBuilder(const std::string& name, const Material& material)
        : mesh_(std::make_unique<Mesh>()) {
        mesh_->name = name;
        mesh_->materials.push_back(material);
        mesh_->texcoords.push_back(vec4());
    }

    int vertex(const vec4& p, const vec4& n) {
        mesh_->vertices.push_back(MeshVertex{vec4(p.x, p.y, p.z, 1.0f), n, {}, {}});
        return int(mesh_->vertices.size()) - 1;
    }
    int normal(const vec4& n) {
        mesh_->normals.push_back(n);
        return int(mesh_->normals.size()) - 1;
    }
    // Smooth meshes keep one normal per vertex, at the same index.
    int smoothVertex(const vec4& p, const vec4& n) {
        normal(n);
        return vertex(p, n);
    }
    int texcoord(float u, float v) {
        mesh_->texcoords.push_back(vec4(u, v, 0.0f, 0.0f));
        return int(mesh_->texcoords.size()) - 1;
    }
    void triangle(const Corners& v, const Corners& t, const Corners& n) {
        MeshFace f;
        for (int k = 0; k < 3; ++k) {
            f.vertexIndex[k] = v[k];
            f.texcoordIndex[k] = t[k];
            f.normalIndex[k] = n[k];
        }
        f.material = &mesh_->materials.front();
        mesh_->faces.push_back(f);
    }
    void triangle(int a, int b, int c) { triangle({a, b, c}, {}, {a, b, c}); }
    // Two smooth triangles for each cell of the grid of vertices at(i, j), in rows i0 to i1 - 1.
    void cells(int i0, int i1, int columns, const std::function<int(int, int)>& at) {
        for (int i = i0; i < i1; ++i) {
            for (int j = 0; j < columns; ++j) {
                triangle(at(i, j), at(i + 1, j), at(i + 1, j + 1));
                triangle(at(i, j), at(i + 1, j + 1), at(i, j + 1));
            }
        }
    }

    // Open meshes skip adjacency: they keep zero plane blocks and cast only near caps.
    std::unique_ptr<Mesh> finish(bool closed = true) {
        Mesh& m = *mesh_;
        auto at = [&](const MeshFace& f, int k) { return m.vertices[f.vertexIndex[k]].position; };
        for (MeshFace& f : m.faces) {
            f.normal = normalize(cross(at(f, 1) - at(f, 0), at(f, 2) - at(f, 0)));
        }
        m.vertexCount = int(m.vertices.size());
        m.normalCount = int(m.normals.size());
        m.texcoordCount = int(m.texcoords.size());
        m.faceCount = int(m.faces.size());
        vec4 lo(1e30f, 1e30f, 1e30f), hi(-1e30f, -1e30f, -1e30f);
        for (const MeshVertex& v : m.vertices) {
            lo = vec4(std::fmin(lo.x, v.position.x), std::fmin(lo.y, v.position.y),
                      std::fmin(lo.z, v.position.z));
            hi = vec4(std::fmax(hi.x, v.position.x), std::fmax(hi.y, v.position.y),
                      std::fmax(hi.z, v.position.z));
        }
        for (int i = 0; i < 8; ++i) {
            m.boxCorners[i] =
                vec4(i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z, 1.0f);
        }
        if (closed) {
            m.buildAdjacency();
        } else {
            m.manifold = false;
        }
        return std::move(mesh_);
    }

private:
    std::unique_ptr<Mesh> mesh_;
};

constexpr float kPi = std::numbers::pi_v<float>;

// The six sides of [-1, 1]^3 as corner indices (bit 0 x, bit 1 y, bit 2 z),
// counter-clockwise seen from outside, with their outward normals.
struct Side {
    int corner[4];
    vec4 normal;
};
constexpr Side kSides[6] = {
    {{1, 3, 7, 5}, {1, 0, 0, 0}},  {{0, 4, 6, 2}, {-1, 0, 0, 0}}, {{2, 6, 7, 3}, {0, 1, 0, 0}},
    {{0, 1, 5, 4}, {0, -1, 0, 0}}, {{4, 5, 7, 6}, {0, 0, 1, 0}},  {{0, 2, 3, 1}, {0, 0, -1, 0}},
};

// The cube [-1, 1]^3 seen from outside (facing 1, untextured) or from inside
// (facing -1, the corners of each side reversed and mapped to the whole texture).
std::unique_ptr<Mesh> makeCube(const std::string& name, const Material& material, float facing) {
    MeshBuilder b(name, material);
    for (int i = 0; i < 8; ++i) {
        const vec4 p(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f, 0.0f);
        b.vertex(p, normalize(vec4(p.x * facing, p.y * facing, p.z * facing, 0.0f)));
    }
    int uv[4] = {};
    for (int k = 0; k < 4 && facing < 0; ++k) {
        uv[k] = b.texcoord(k == 1 || k == 2, k >= 2);
    }
    for (const Side& s : kSides) {
        const int n = b.normal(s.normal * facing);
        for (Corners q : {Corners{0, 1, 2}, Corners{0, 2, 3}}) {
            if (facing < 0) {
                std::swap(q[1], q[2]);
            }
            b.triangle({s.corner[q[0]], s.corner[q[1]], s.corner[q[2]]},
                       {uv[q[0]], uv[q[1]], uv[q[2]]}, {n, n, n});
        }
    }
    return b.finish();
}

} // namespace

std::unique_ptr<Mesh> makeSphere(int slices, int stacks, const Material& material) {
    slices = std::max(slices, 3);
    stacks = std::max(stacks, 3);
    MeshBuilder b("sphere", material);
    const int top = b.smoothVertex(vec4(0, 1, 0, 0), vec4(0, 1, 0, 0));
    for (int i = 1; i < stacks - 1; ++i) {
        float phi = kPi * float(i) / float(stacks - 1);
        for (int j = 0; j < slices; ++j) {
            float theta = 2.0f * kPi * float(j) / float(slices);
            const vec4 p(std::sin(phi) * std::cos(theta), std::cos(phi),
                         -std::sin(phi) * std::sin(theta), 0);
            b.smoothVertex(p, p);
        }
    }
    const int bottom = b.smoothVertex(vec4(0, -1, 0, 0), vec4(0, -1, 0, 0));
    auto ring = [&](int i, int j) { return 1 + (i - 1) * slices + (j % slices); };
    for (int j = 0; j < slices; ++j) {
        b.triangle(top, ring(1, j), ring(1, j + 1));
    }
    b.cells(1, stacks - 2, slices, ring);
    for (int j = 0; j < slices; ++j) {
        b.triangle(bottom, ring(stacks - 2, j + 1), ring(stacks - 2, j));
    }
    return b.finish();
}

std::unique_ptr<Mesh> makeBox(const Material& material) {
    return makeCube("box", material, 1.0f);
}

std::unique_ptr<Mesh> makeTorus(int rings, int sides, float minor, const Material& material) {
    rings = std::max(rings, 3);
    sides = std::max(sides, 3);
    MeshBuilder b("torus", material);
    for (int i = 0; i < rings; ++i) {
        float u = 2.0f * kPi * float(i) / float(rings);
        for (int j = 0; j < sides; ++j) {
            float v = 2.0f * kPi * float(j) / float(sides);
            b.smoothVertex(
                vec4(std::cos(u) * (1.0f + minor * std::cos(v)), minor * std::sin(v),
                     -std::sin(u) * (1.0f + minor * std::cos(v)), 1.0f),
                vec4(std::cos(v) * std::cos(u), std::sin(v), -std::cos(v) * std::sin(u), 0.0f));
        }
    }
    b.cells(0, rings, sides, [&](int i, int j) { return (i % rings) * sides + (j % sides); });
    return b.finish();
}

std::unique_ptr<Mesh> makePlane(int cells, const Material& material) {
    cells = std::max(cells, 1);
    MeshBuilder b("plane", material);
    for (int i = 0; i <= cells; ++i) {
        for (int j = 0; j <= cells; ++j) {
            b.smoothVertex(vec4(-1.0f + 2.0f * float(j) / float(cells), 0,
                                -1.0f + 2.0f * float(i) / float(cells), 1),
                           vec4(0, 1, 0, 0));
        }
    }
    b.cells(0, cells, cells, [&](int i, int j) { return i * (cells + 1) + j; });
    return b.finish(false);
}

std::unique_ptr<Mesh> makeSkybox(const Material& material) {
    return makeCube("skybox", material, -1.0f);
}

} // namespace lumo
