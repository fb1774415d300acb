// Triangle adjacency: which triangle lies across each side, and for closed meshes
// the four-wide plane blocks that let the shadow-volume builder test a triangle
// and its three neighbours against a light in one vector operation.
//
// Edge keys pack both vertex indices into 64 bits, so meshes of any vertex count
// get exact adjacency (a 32-bit key of 16 + 16 bits would alias from 65536 on).

#include "assets/mesh.h"
#include "sys/log.h"

#include <unordered_map>

namespace lumo {

namespace {

// The same key for a side whichever way it is walked.
uint64_t edgeKey(int32_t a, int32_t b) {
    uint64_t lo = uint32_t(a < b ? a : b);
    uint64_t hi = uint32_t(a < b ? b : a);
    return (lo << 32) | hi;
}

struct EdgeEntry {
    int32_t face0;      // the first triangle found using the edge
    int32_t face1;      // the last other triangle found using it; -1 while there is none
    int32_t edgeNumber; // numbered in order of first appearance
};

} // namespace

void Mesh::buildAdjacency() {
    manifold = true;
    // Edge numbers come from the walk over the triangles, not from the table's order,
    // so a hash table gives the same result as an ordered one, faster.
    std::unordered_map<uint64_t, EdgeEntry> table;
    table.reserve(faces.size() * 3 / 2 + 1);
    int32_t nextEdge = 0;
    const int32_t count = int32_t(faces.size());

    for (int32_t t = 0; t < count; ++t) {
        MeshFace& face = faces[t];
        for (int k = 0; k < 3; ++k) {
            uint64_t key = edgeKey(face.vertexIndex[k], face.vertexIndex[(k + 1) % 3]);
            auto [it, inserted] = table.try_emplace(key, EdgeEntry{t, -1, nextEdge});
            if (inserted) {
                face.edge[k] = nextEdge++;
                continue;
            }
            if (it->second.face1 != -1) {
                manifold = false;
                logPrintf("((( non 2-manifold: edge over shared )))\n");
            }
            it->second.face1 = t;
            face.edge[k] = it->second.edgeNumber;
        }
    }

    for (int32_t t = 0; t < count; ++t) {
        MeshFace& face = faces[t];
        for (int k = 0; k < 3; ++k) {
            const EdgeEntry& entry =
                table.at(edgeKey(face.vertexIndex[k], face.vertexIndex[(k + 1) % 3]));
            if (entry.face1 == -1) {
                manifold = false;
                logPrintf("((( non 2-manifold: open edge )))\n");
            }
            face.neighbour[k] = entry.face0 == t ? entry.face1 : entry.face0;
        }
    }

    // Open meshes are not shadow casters: their blocks stay zero.
    for (MeshFace& face : faces) {
        face.planeNormalX = face.planeNormalY = face.planeNormalZ = vec4();
        face.planePointX = face.planePointY = face.planePointZ = vec4();
    }
    if (!manifold) {
        return;
    }
    for (MeshFace& face : faces) {
        // Lane 0 is the triangle itself, lanes 1 to 3 its neighbours across sides 0 to 2.
        const MeshFace& f0 = face;
        const MeshFace& f1 = faces[face.neighbour[0]];
        const MeshFace& f2 = faces[face.neighbour[1]];
        const MeshFace& f3 = faces[face.neighbour[2]];
        const vec4& p0 = vertices[f0.vertexIndex[0]].position;
        const vec4& p1 = vertices[f1.vertexIndex[0]].position;
        const vec4& p2 = vertices[f2.vertexIndex[0]].position;
        const vec4& p3 = vertices[f3.vertexIndex[0]].position;
        face.planeNormalX = vec4(f0.normal.x, f1.normal.x, f2.normal.x, f3.normal.x);
        face.planeNormalY = vec4(f0.normal.y, f1.normal.y, f2.normal.y, f3.normal.y);
        face.planeNormalZ = vec4(f0.normal.z, f1.normal.z, f2.normal.z, f3.normal.z);
        face.planePointX = vec4(p0.x, p1.x, p2.x, p3.x);
        face.planePointY = vec4(p0.y, p1.y, p2.y, p3.y);
        face.planePointZ = vec4(p0.z, p1.z, p2.z, p3.z);
    }
}

} // namespace lumo
