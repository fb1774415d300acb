#include "assets/mesh.h"
#include "assets/obj.h"
#include "assets/texture.h"
#include "sys/log.h"

#include "tests/assets/asset_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lumo {
namespace {

// Reads OBJ text into mesh, dropping the console lines.
void parse(Mesh& mesh, std::string_view text, const MaterialLibraryResolver& library = {}) {
    LogCapture quiet(false);
    parseObj(text, library, mesh);
}

class MeshFiles : public test::AssetDir {
protected:
    // Writes name (unless text is empty) and loads it, returning what was printed.
    std::string load(Mesh& mesh, const std::string& name, const std::string& text) {
        if (!text.empty()) {
            write(name, text);
        }
        return printed([&] { mesh.loadObj(dir_, name, textures_); });
    }
    std::string loadDirectory(MeshStore& store, const std::string& dir) {
        return printed([&] { store.loadDirectory(dir, textures_); });
    }
};

// A triangle's corners as vertex, texcoord, normal index triples.
using Corners = std::array<int, 9>;
Corners corners(const MeshFace& f) {
    Corners c;
    for (int k = 0; k < 3; ++k) {
        c[k * 3] = f.vertexIndex[k];
        c[k * 3 + 1] = f.texcoordIndex[k];
        c[k * 3 + 2] = f.normalIndex[k];
    }
    return c;
}

const std::string kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 1.5 0\n";

TEST(ObjText, FansAndCornerForms) {
    Mesh m;
    parse(m, kSquare + "vt 0.25 0.5\nvt 0.75 1\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n"
                       "f 1 2 3 4\nf 1/2/3 2/1 3//2 4 5\n");
    EXPECT_EQ(m.texcoords[0], vec4(0, 0, 0, 0));
    EXPECT_EQ(m.normals[2], vec4(1, 0, 0, 0));
    ASSERT_EQ(m.faceCount, 5);
    // Quad: (0 1 2) (0 2 3), no slashes: texcoord 0, normal -1. Pentagon: three triangles
    // sharing corner 0, written 1/2/3; 2/1 and 3//2 leave out a normal and a texcoord.
    const Corners expected[] = {{0, 0, -1, 1, 0, -1, 2, 0, -1},
                                {0, 0, -1, 2, 0, -1, 3, 0, -1},
                                {0, 2, 2, 1, 1, -1, 2, 0, 1},
                                {0, 2, 2, 2, 0, 1, 3, 0, -1},
                                {0, 2, 2, 3, 0, -1, 4, 0, -1}};
    for (int t = 0; t < 5; ++t) {
        EXPECT_EQ(corners(m.faces[t]), expected[t]) << "triangle " << t;
        EXPECT_EQ(m.faces[t].material, &m.defaultMaterial);
    }
}

TEST(ObjText, BadCornersNeverIndex) {
    Mesh m;
    parse(m, kSquare + "vt 1 1\nvn 0 0 1\n"
                       "f 1  2 3 # double blank and a blank before the comment\n"
                       "f 1/9/7 2/-1/0 3/1/1\n" // bad texcoords and normals are dropped
                       "f 1 2 0\n"              // vertex 0: whole face dropped
                       "f 1 2 6 3\n"            // beyond the array: dropped
                       "f -1 -2 -3\n"           // relative indices are not supported
                       "f /1/1 2 3\n"           // no vertex at all
                       "f 1 2\n"                // too few corners
                       "f 99999999999999999999 2 3\n"
                       "\tf\t3\t4\t5\n");
    ASSERT_EQ(m.faceCount, 3);
    EXPECT_EQ(corners(m.faces[0]), (Corners{0, 0, -1, 1, 0, -1, 2, 0, -1}));
    EXPECT_EQ(corners(m.faces[1]), (Corners{0, 0, -1, 1, 0, -1, 2, 1, 0}));
    EXPECT_EQ(corners(m.faces[2]), (Corners{2, 0, -1, 3, 0, -1, 4, 0, -1}));
}

TEST_F(MeshFiles, MissingNumbersAndFilesReadAsZeroAndCrLfMatchesLf) {
    const std::string lf = "v 1\nv 2 3 4 5 extra\nv x 1 1\nvt 0.5\nvn\nf 1/2/1 2/2/1 3/2/1\n";
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    Mesh a, b, c;
    parse(a, lf);
    parse(b, crlf);
    load(c, "lf.obj", lf); // the file loader reads what the text reader reads
    for (const Mesh* m : {&a, &b, &c}) {
        ASSERT_EQ(m->vertexCount, 3);
        EXPECT_EQ(m->vertices[0].position, vec4(1, 0, 0, 1));
        EXPECT_EQ(m->vertices[1].position, vec4(2, 3, 4, 1));
        EXPECT_EQ(m->vertices[2].position, vec4(0, 0, 0, 1)); // a failed read stops the line
        EXPECT_EQ(m->texcoords[1], vec4(0.5f, 0, 0, 0));
        EXPECT_EQ(m->normals[0], vec4(0, 0, 0, 0));
        ASSERT_EQ(m->faceCount, 1);
        EXPECT_EQ(corners(m->faces[0]), (Corners{0, 0, 0, 1, 0, 0, 2, 0, 0}));
        EXPECT_EQ(m->boxCorners[0], vec4(0, 0, 0, 0));
        EXPECT_EQ(m->boxCorners[2], vec4(0, 3, 0, 0));
        EXPECT_EQ(m->boxCorners[5], vec4(2, 0, 4, 0));
    }
    EXPECT_EQ(c.name, "lf.obj");
    // An unreadable file gives an empty mesh with an inside-out box, and reading into a
    // used mesh leaves nothing of what it held.
    EXPECT_EQ(load(c, "nothere.obj", ""), "---- loading [nothere.obj]:\n");
    EXPECT_EQ(c.name, "nothere.obj");
    EXPECT_EQ(c.vertexCount + c.faceCount + c.normalCount, 0);
    EXPECT_EQ(c.vertices.size() + c.faces.size() + c.normals.size(), 0u);
    EXPECT_EQ(c.texcoordCount, 1);
    EXPECT_EQ(c.boxCorners[0], vec4(1e20f, 1e20f, 1e20f, 0));
    EXPECT_EQ(c.boxCorners[7], vec4(-1e20f, -1e20f, -1e20f, 0));
}

TEST(ObjText, MtlMaterialsAndResolution) {
    const std::string mtl = "Ns 96.078\nd 0.5\nKd 1 1 1\n"
                            "newmtl red\r\nKa 0.1 0.2 0.3\nKd 1 0 0\nKs 0.5 0.5 0.5\nillum 2\n"
                            "newmtl blue\nKd 0 0 1\nNs 7\nd 0.25\nmap_Kd  b.png # comment\n"
                            "newmtl red\nKd 0.5 0 0\n";
    // The readers hand every name to the resolvers as written, in line order.
    std::vector<std::string> asked;
    auto library = [&](std::string_view name) {
        asked.emplace_back(name);
        return parseMtl(name == "m.mtl" ? mtl : "", [&](std::string_view texture) {
            asked.emplace_back(texture);
            return int32_t(asked.size());
        });
    };
    Mesh m;
    parse(m,
          kSquare + "usemtl red\nf 1 2 3\n" // before mtllib: default material
                    "mtllib m.mtl\n"
                    "f 1 2 3\n" // current name is still red: the later red
                    "usemtl blue\nf 1 2 3\nusemtl green\nf 1 2 3\n",
          library);
    EXPECT_EQ(asked, (std::vector<std::string>{"m.mtl", "b.png"}));
    ASSERT_EQ(m.materials.size(), 3u);
    auto it = m.materials.begin();
    const Material& red = *it++;
    const Material& blue = *it++;
    const Material& red2 = *it++;
    EXPECT_EQ(red.ambient, vec4(0.1f, 0.2f, 0.3f, 0));
    EXPECT_EQ(red.ns, 96);           // carried from before the first newmtl, read as an integer
    EXPECT_EQ(red2.dissolve, 0.25f); // Ns and d carry over to the next material
    EXPECT_EQ(red2.diffuse, vec4(0.5f, 0, 0, 0));
    EXPECT_EQ(red2.ambient, vec4(0, 0, 0, 0));
    EXPECT_EQ(blue.textureIndex, 2); // what the resolver answered
    EXPECT_EQ(red2.textureIndex, 0); // a new material starts without one
    ASSERT_EQ(m.faceCount, 4);
    const Material* used[] = {&m.defaultMaterial, &red2, &blue, &m.defaultMaterial};
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(m.faces[f].material, used[f]) << f;
    }

    // Empty text, as a missing file reads, gives one material called "defaultmaterial";
    // so does a "mtllib" line without a resolver. Without a texture resolver every
    // texture is the placeholder, 0.
    for (const std::list<Material>& one : {parseMtl(""), parseMtl("map_Kd a.png\n")}) {
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(one.front().name, "defaultmaterial");
        EXPECT_EQ(one.front().textureIndex, 0);
    }
    parse(m, kSquare + "mtllib m.mtl\nusemtl defaultmaterial\nf 1 2 3\n");
    ASSERT_EQ(m.materials.size(), 1u);
    EXPECT_EQ(m.faces[0].material, &m.materials.front());
}

TEST(ObjText, SecondMtllibKeepsEarlierFacesMaterialsAlive) {
    const std::map<std::string_view, std::string> files = {
        {"one.mtl", "newmtl stone\nKd 0.5 0.5 0.5\nnewmtl unused\n"},
        {"two.mtl", "newmtl stone\nKd 0.25 0 0\n"}};
    Mesh m;
    parse(m, kSquare + "mtllib one.mtl\nusemtl stone\nf 1 2 3\nmtllib two.mtl\nf 1 3 4\n",
          [&](std::string_view name) { return parseMtl(files.at(name)); });
    ASSERT_EQ(m.faceCount, 2);
    // The face read before the second mtllib keeps the material it was read with,
    // and that material is still owned by the mesh (ASan would flag a freed one).
    EXPECT_EQ(m.faces[0].material->diffuse, vec4(0.5f, 0.5f, 0.5f, 0));
    // The later file's materials come first; only referenced earlier ones are kept.
    ASSERT_EQ(m.materials.size(), 2u);
    EXPECT_EQ(&m.materials.front(), m.faces[1].material);
    EXPECT_EQ(&m.materials.back(), m.faces[0].material);
}

TEST(ObjText, TriangleAndVertexNormals) {
    // Two triangles of a folded strip, one degenerate triangle and an unused vertex; then
    // triangles whose squared normal length leaves the float range either way, or falls
    // among the subnormals (rescaled, not lost or shortened), and one holding a NaN (a
    // zero normal).
    Mesh m;
    parse(m, "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 -3\nv 5 5 5\nv 1 0 0\nf 1 2 3\nf 1 3 4\nf 1 2 6\n"
             "v 0 0 0\nv 3e15 0 0\nv 0 3e15 0\nv 1e-15 0 0\nv 0 1e-15 0\nv nan 0 0\n"
             "f 7 8 9\nf 7 10 11\nf 12 2 3\nv 1e-11 0 0\nv 0 3e-12 0\nf 7 13 14\n");
    ASSERT_EQ(m.faceCount, 7);
    const vec4 expected[] = {{0, 0, 1, 0}, {-1, 0, 0, 0}, {}, {0, 0, 1, 0}, {0, 0, 1, 0},
                             {},           {0, 0, 1, 0}};
    for (int f = 0; f < 7; ++f) {
        EXPECT_EQ(m.faces[f].normal, expected[f]) << f;
    }
    // Vertex 0: sum of the three unit normals in triangle order, then normalized.
    vec4 sum = vec4() + m.faces[0].normal + m.faces[1].normal + m.faces[2].normal;
    EXPECT_EQ(m.vertices[0].normal, normalize(sum));
    EXPECT_EQ(m.vertices[3].normal, vec4(-1, 0, 0, 0));
    EXPECT_EQ(m.vertices[4].normal, vec4(0, 0, 0, 0)); // used by no triangle
    EXPECT_EQ(m.vertices[5].normal, vec4(0, 0, 0, 0)); // only in the degenerate one
    for (const MeshVertex& v : m.vertices) {
        EXPECT_TRUE(std::isfinite(v.normal.x + v.normal.y + v.normal.z));
    }
}

TEST_F(MeshFiles, DirectoryLoadsObjFilesInByteOrder) {
    MeshStore store;
    EXPECT_EQ(loadDirectory(store, dir_ + "missing/"),
              "about to load meshes from [" + dir_ + "missing/*.obj]\n");
    // Nothing found: only the placeholder, which also answers unknown names.
    ASSERT_EQ(store.size(), 1);
    EXPECT_EQ(store[0].name, "dummydummydummy");
    EXPECT_EQ(store[0].vertexCount + store[0].faceCount, 0);
    EXPECT_EQ(store.find("tetra6.obj"), 0);

    write("b.obj", "v 0 0 0\n");
    write("B.obj", "v 0 0 0\nv 1 1 1\n");
    write("a.OBJ", "");
    write("notes.txt", "v 1 2 3\n");
    std::filesystem::create_directory(root_ / "dir.obj");
    EXPECT_EQ(loadDirectory(store, dir_),
              "about to load meshes from [" + dir_ +
                  "*.obj]\n---- loading [B.obj]:\n---- loading [a.OBJ]:\n---- loading [b.obj]:\n");
    ASSERT_EQ(store.size(), 4);
    EXPECT_EQ(store.find("B.obj"), 1);
    EXPECT_EQ(store.find("b.obj"), 3);
    EXPECT_EQ(store[1].vertexCount, 2);
    EXPECT_EQ(store.find("A.OBJ"), 0); // case-sensitive lookup

    // Loading again replaces meshes of the same name instead of appending.
    write("b.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    loadDirectory(store, dir_);
    ASSERT_EQ(store.size(), 4);
    EXPECT_EQ(store[3].vertexCount, 3);
}

} // namespace
} // namespace lumo
