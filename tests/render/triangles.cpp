#include "triangles.h"

namespace lumo::test {

std::unique_ptr<Mesh> meshOf(const std::vector<Tri>& tris, const Material* material,
                             const vec4* uv) {
    auto m = std::make_unique<Mesh>();
    m->texcoords.push_back(vec4());
    for (const Tri& t : tris) {
        MeshFace f;
        for (int k = 0; k < 3; ++k) {
            f.vertexIndex[k] = int(m->vertices.size());
            f.normalIndex[k] = int(m->normals.size());
            f.texcoordIndex[k] = int(m->texcoords.size());
            vec4 position = (&t.a)[k];
            position.w = 1.0f;
            m->vertices.push_back(MeshVertex{position, t.normal, {}, {}});
            m->normals.push_back(t.normal);
            m->texcoords.push_back(uv ? *uv : vec4(0.25f * k, 0.5f, 0, 0));
        }
        f.normal = t.normal;
        f.material = material;
        f.spare = 7;
        m->faces.push_back(f);
    }
    m->vertexCount = int(m->vertices.size());
    m->normalCount = int(m->normals.size());
    m->texcoordCount = int(m->texcoords.size());
    m->faceCount = int(m->faces.size());
    return m;
}

} // namespace lumo::test
