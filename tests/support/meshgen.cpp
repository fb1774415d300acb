#include "tests/support/meshgen.h"

#include <cmath>
#include <numbers>

namespace lumo {

namespace {

class MeshBuilder {
public:
    MeshBuilder(const std::string& name, const Material& material)
        : mesh_(std::make_unique<Mesh>()) {
        mesh_->name = name;
        mesh_->materials.push_back(material);
        mesh_->texcoords.push_back(vec4());
    }

    int vertex(const vec4& p, const vec4& n) {
        MeshVertex v;
        v.position = vec4(p.x, p.y, p.z, 1.0f);
        v.normal = n;
        mesh_->vertices.push_back(v);
        return int(mesh_->vertices.size()) - 1;
    }
    int normal(const vec4& n) {
        mesh_->normals.push_back(n);
        return int(mesh_->normals.size()) - 1;
    }
    int texcoord(float u, float v) {
        mesh_->texcoords.push_back(vec4(u, v, 0.0f, 0.0f));
        return int(mesh_->texcoords.size()) - 1;
    }
    // Corners (vertex, texcoord, normal).
    void triangle(const int v[3], const int t[3], const int n[3]) {
        MeshFace f;
        for (int k = 0; k < 3; ++k) {
            f.vertexIndex[k] = v[k];
            f.texcoordIndex[k] = t[k];
            f.normalIndex[k] = n[k];
        }
        f.cornerCount = 3;
        f.material = &mesh_->materials.front();
        mesh_->faces.push_back(f);
    }
    void triangle(int a, int b, int c) {
        const int v[3] = {a, b, c};
        const int t[3] = {0, 0, 0};
        triangle(v, t, v); // smooth meshes keep one normal per vertex, same index
    }

    // Open meshes skip adjacency: they keep zero plane blocks and cast only near caps.
    std::unique_ptr<Mesh> finish(bool closed = true) {
        Mesh& m = *mesh_;
        for (MeshFace& f : m.faces) {
            vec4 a = m.vertices[f.vertexIndex[0]].position;
            vec4 b = m.vertices[f.vertexIndex[1]].position;
            vec4 c = m.vertices[f.vertexIndex[2]].position;
            f.normal = normalize(cross(b - a, c - a));
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

vec4 cubeCorner(int i) {
    return vec4(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f, 1.0f);
}

} // namespace

std::unique_ptr<Mesh> makeSphere(int slices, int stacks, const Material& material) {
    slices = std::max(slices, 3);
    stacks = std::max(stacks, 3);
    MeshBuilder b("sphere", material);
    auto add = [&](const vec4& p) {
        b.normal(p);
        return b.vertex(p, p);
    };
    int top = add(vec4(0, 1, 0, 0));
    for (int i = 1; i < stacks - 1; ++i) {
        float phi = kPi * float(i) / float(stacks - 1);
        for (int j = 0; j < slices; ++j) {
            float theta = 2.0f * kPi * float(j) / float(slices);
            add(vec4(std::sin(phi) * std::cos(theta), std::cos(phi),
                     -std::sin(phi) * std::sin(theta), 0));
        }
    }
    int bottom = add(vec4(0, -1, 0, 0));
    auto ring = [&](int i, int j) { return 1 + (i - 1) * slices + (j % slices); };
    for (int j = 0; j < slices; ++j) {
        b.triangle(top, ring(1, j), ring(1, j + 1));
    }
    for (int i = 1; i < stacks - 2; ++i) {
        for (int j = 0; j < slices; ++j) {
            b.triangle(ring(i, j), ring(i + 1, j), ring(i + 1, j + 1));
            b.triangle(ring(i, j), ring(i + 1, j + 1), ring(i, j + 1));
        }
    }
    for (int j = 0; j < slices; ++j) {
        b.triangle(bottom, ring(stacks - 2, j + 1), ring(stacks - 2, j));
    }
    return b.finish();
}

std::unique_ptr<Mesh> makeBox(const Material& material) {
    MeshBuilder b("box", material);
    for (int i = 0; i < 8; ++i) {
        vec4 p = cubeCorner(i);
        b.vertex(p, normalize(vec4(p.x, p.y, p.z, 0.0f)));
    }
    for (const Side& s : kSides) {
        int n = b.normal(s.normal);
        const int t[3] = {0, 0, 0};
        const int nn[3] = {n, n, n};
        const int first[3] = {s.corner[0], s.corner[1], s.corner[2]};
        const int second[3] = {s.corner[0], s.corner[2], s.corner[3]};
        b.triangle(first, t, nn);
        b.triangle(second, t, nn);
    }
    return b.finish();
}

std::unique_ptr<Mesh> makeTorus(int rings, int sides, float minor, const Material& material) {
    rings = std::max(rings, 3);
    sides = std::max(sides, 3);
    MeshBuilder b("torus", material);
    for (int i = 0; i < rings; ++i) {
        float u = 2.0f * kPi * float(i) / float(rings);
        for (int j = 0; j < sides; ++j) {
            float v = 2.0f * kPi * float(j) / float(sides);
            vec4 n(std::cos(v) * std::cos(u), std::sin(v), -std::cos(v) * std::sin(u), 0.0f);
            vec4 p(std::cos(u) * (1.0f + minor * std::cos(v)), minor * std::sin(v),
                   -std::sin(u) * (1.0f + minor * std::cos(v)), 1.0f);
            b.normal(n);
            b.vertex(p, n);
        }
    }
    auto at = [&](int i, int j) { return (i % rings) * sides + (j % sides); };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            b.triangle(at(i, j), at(i + 1, j), at(i + 1, j + 1));
            b.triangle(at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
    }
    return b.finish();
}

std::unique_ptr<Mesh> makePlane(int cells, const Material& material) {
    cells = std::max(cells, 1);
    MeshBuilder b("plane", material);
    const vec4 up(0, 1, 0, 0);
    for (int i = 0; i <= cells; ++i) {
        for (int j = 0; j <= cells; ++j) {
            float x = -1.0f + 2.0f * float(j) / float(cells);
            float z = -1.0f + 2.0f * float(i) / float(cells);
            b.normal(up);
            b.vertex(vec4(x, 0, z, 1), up);
        }
    }
    auto at = [&](int i, int j) { return i * (cells + 1) + j; };
    for (int i = 0; i < cells; ++i) {
        for (int j = 0; j < cells; ++j) {
            b.triangle(at(i, j), at(i + 1, j), at(i + 1, j + 1));
            b.triangle(at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
    }
    return b.finish(false);
}

std::unique_ptr<Mesh> makeSkybox(const Material& material) {
    MeshBuilder b("skybox", material);
    for (int i = 0; i < 8; ++i) {
        vec4 p = cubeCorner(i);
        b.vertex(p, normalize(vec4(-p.x, -p.y, -p.z, 0.0f)));
    }
    const int uv[4] = {b.texcoord(0, 0), b.texcoord(1, 0), b.texcoord(1, 1), b.texcoord(0, 1)};
    for (const Side& s : kSides) {
        int n = b.normal(s.normal * -1.0f);
        const int nn[3] = {n, n, n};
        // Reversed order: the faces look inward.
        const int first[3] = {s.corner[0], s.corner[2], s.corner[1]};
        const int firstT[3] = {uv[0], uv[2], uv[1]};
        const int second[3] = {s.corner[0], s.corner[3], s.corner[2]};
        const int secondT[3] = {uv[0], uv[3], uv[2]};
        b.triangle(first, firstT, nn);
        b.triangle(second, secondT, nn);
    }
    return b.finish();
}

} // namespace lumo
