#pragma once
// Mesh building for the generated content. Every solid is built from rings of
// shared vertices, so a part is closed by construction: each edge is used by
// exactly two triangles, once in each direction. Triangles wind counter-clockwise
// seen from outside (the loader's normal is (b - a) x (c - a)). The OBJ writer
// keeps vertex indices, so closure is a property of indices, never of positions.

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace lumo::datagen {

struct V3 {
    double x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 operator*(V3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(V3 a) {
    return std::sqrt(dot(a, a));
}
inline V3 normalized(V3 a) {
    double l = length(a);
    return l > 0 ? a * (1.0 / l) : V3{};
}

// A row-major 3 x 4 affine transform.
struct Xform {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    V3 apply(V3 p) const {
        return {m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
                m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
                m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]};
    }
    static Xform translate(V3 t);
    static Xform scale(V3 s);
    static Xform rotateX(double a);
    static Xform rotateY(double a);
    static Xform rotateZ(double a);
    // Determinant of the linear part: negative transforms flip the winding.
    double determinant() const;
};
Xform operator*(const Xform& a, const Xform& b); // a after b

struct MaterialDef {
    std::string name;
    std::array<float, 3> kd{0.8f, 0.8f, 0.8f};
    std::string texture; // map_Kd, empty for a lit colour
};

struct Tri {
    int v[3];
    int t[3]; // texture coordinate indices, 1-based; 0 = none
    int material;
};

class MeshBuilder {
public:
    int material(const MaterialDef& def); // index of def, added when new
    void use(int materialIndex) { current_ = materialIndex; }

    int vertex(V3 p);
    int uv(double u, double v); // 1-based index of a "vt" line
    void tri(int a, int b, int c);
    void triUv(int a, int b, int c, int ta, int tb, int tc);
    void quad(int a, int b, int c, int d); // (a, b, c) and (a, c, d)

    // Joins ring i to ring i + 1 (each ring holds the same count of vertex
    // indices, walked counter-clockwise seen from the end the rings advance to).
    void bridge(const std::vector<int>& lower, const std::vector<int>& upper);
    // Closes a ring with a fan to a new centre vertex; `top` tells whether the
    // cap looks along the rings' advance direction or against it (the bottom).
    void capRing(const std::vector<int>& ring, V3 centre, bool top);
    // The same for a convex ring, as a fan from its first vertex (n - 2 triangles).
    void capRingFlat(const std::vector<int>& ring, bool top);

    // Appends another mesh transformed; mirrored transforms keep the winding outward.
    void append(const MeshBuilder& other, const Xform& xf);
    void transform(const Xform& xf);

    const std::vector<V3>& positions() const { return positions_; }
    const std::vector<std::array<double, 2>>& uvs() const { return uvs_; }
    const std::vector<Tri>& tris() const { return tris_; }
    const std::vector<MaterialDef>& materials() const { return materials_; }
    int triangleCount() const { return int(tris_.size()); }

private:
    std::vector<V3> positions_;
    std::vector<std::array<double, 2>> uvs_;
    std::vector<Tri> tris_;
    std::vector<MaterialDef> materials_;
    int current_ = -1;
};

// Writes name.obj and name.mtl into dir. Returns false with a message on failure.
bool writeObj(const std::string& dir, const std::string& name, const MeshBuilder& mesh);

// ---- closed solids ----

// Axis-aligned box.
void addBox(MeshBuilder& m, V3 lo, V3 hi);
// Box with its edges cut by `bevel` (a chamfered box, 24 vertices).
void addBevelBox(MeshBuilder& m, V3 lo, V3 hi, double bevel);
// A loft through cross-section rings: ring k is `section` (points in its local
// x/y plane, counter-clockwise) scaled by scales[k], rotated by twists[k] about
// the local z axis and placed at frames (origin, x axis, y axis). Both ends capped.
struct Frame {
    V3 origin, xAxis, yAxis;
};
void addLoft(MeshBuilder& m, const std::vector<std::array<double, 2>>& section,
             const std::vector<Frame>& frames, const std::vector<double>& scales,
             const std::vector<double>& twists);
// The same through a closed loop of frames (no caps: the last ring joins the first).
void addLoftLoop(MeshBuilder& m, const std::vector<std::array<double, 2>>& section,
                 const std::vector<Frame>& frames, double scale);
// Torus knot winding p times around the axis and q times through the hole.
void addTorusKnot(MeshBuilder& m, int p, int q, double major, double minor, double tube,
                  int pathPoints, int sides);
// Lathe of a profile (r, y) from bottom to top around the y axis, poles closed.
void addLathe(MeshBuilder& m, const std::vector<std::array<double, 2>>& profile, int segments,
              V3 centre);
// Sphere-like ellipsoid with `rings` latitude bands and `segments` longitudes.
void addEllipsoid(MeshBuilder& m, V3 centre, V3 radii, int rings, int segments);
// Torus around the y axis.
void addTorus(MeshBuilder& m, V3 centre, double major, double minor, int segments, int sides);
// Regular polygon section with n corners and circumradius 1.
std::vector<std::array<double, 2>> polygonSection(int n, double phase = 0.0);
// A tube along a polyline path (round section), radii per path point, closed ends.
void addTubePath(MeshBuilder& m, const std::vector<V3>& path, const std::vector<double>& radii,
                 int sides, double twist = 0.0);

// Extrudes 2D polygons with holes along z from z0 to z1. Each shape is an outer
// contour followed by the holes inside it; orientation is fixed up here.
using Contour = std::vector<std::array<double, 2>>;
struct Shape {
    Contour outer;
    std::vector<Contour> holes;
};
void addExtrusion(MeshBuilder& m, const std::vector<Shape>& shapes, double z0, double z1);

// Triangulates one polygon with holes (ear clipping after bridging the holes).
// Returns index triples into the concatenation outer + holes[0] + holes[1] ...,
// counter-clockwise. Always returns (n - 2 + 2 * holes) triangles.
std::vector<std::array<int, 3>> triangulate(const Shape& shape);

double signedArea(const Contour& c);

} // namespace lumo::datagen
