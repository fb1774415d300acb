#include "assets/mesh.h"
#include "assets/texture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace lumo {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test; the directory string ends in "/" as the loaders expect.
class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        root_ = fs::temp_directory_path() / ("lumo_mesh_" + std::to_string(seed()));
        fs::create_directories(root_);
        dir_ = root_.string() + "/";
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(root_ / name, std::ios::binary) << text;
    }

    // Loads name from the test directory, returning what it printed.
    std::string load(Mesh& mesh, const std::string& name) {
        ::testing::internal::CaptureStdout();
        mesh.loadObj(dir_, name, textures_);
        return ::testing::internal::GetCapturedStdout();
    }

    fs::path root_;
    std::string dir_;
    TextureStore textures_;
};

void expectCorner(const MeshFace& f, int slot, int vertex, int texcoord, int normal) {
    EXPECT_EQ(f.vertexIndex[slot], vertex) << "slot " << slot;
    EXPECT_EQ(f.texcoordIndex[slot], texcoord) << "slot " << slot;
    EXPECT_EQ(f.normalIndex[slot], normal) << "slot " << slot;
}

const char* kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 1.5 0\n";

TEST(MeshStore, PlaceholderAtIndexZero) {
    MeshStore store;
    ASSERT_EQ(store.size(), 1);
    const Mesh& m = store[0];
    EXPECT_EQ(m.name, "dummydummydummy");
    EXPECT_EQ(m.vertexCount + m.normalCount + m.texcoordCount + m.faceCount, 0);
    EXPECT_TRUE(m.materials.empty());
    EXPECT_TRUE(m.manifold);
    for (const vec4& c : m.boxCorners) {
        EXPECT_EQ(c, vec4(0, 0, 0, 0));
    }
    EXPECT_EQ(store.find("tetra6.obj"), 0);
    EXPECT_EQ(m.defaultMaterial.name, "(unnamed)");
    EXPECT_EQ(m.defaultMaterial.textureIndex, -1);
    EXPECT_EQ(m.defaultMaterial.shaderType, 0);
    EXPECT_EQ(m.defaultMaterial.shininess, 8.0f);
}

TEST_F(MeshFiles, FansAndCornerForms) {
    write("a.obj", std::string(kSquare) + "vt 0.25 0.5\nvt 0.75 1\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n"
                                          "f 1 2 3 4\n"
                                          "f 1/2/3 2/1 3//2 4 5\n");
    Mesh m;
    std::string out = load(m, "a.obj");
    EXPECT_EQ(out.rfind("---- loading [a.obj]:\n", 0), 0u) << out;
    EXPECT_EQ(m.name, "a.obj");
    EXPECT_EQ(m.vertexCount, 5);
    EXPECT_EQ(m.normalCount, 3);
    EXPECT_EQ(m.texcoordCount, 3);
    EXPECT_EQ(m.texcoords[0], vec4(0, 0, 0, 0));
    EXPECT_EQ(m.texcoords[1].x, 0.25f);
    EXPECT_EQ(m.texcoords[2].y, 1.0f);
    EXPECT_EQ(m.vertices[4].position, vec4(0.5f, 1.5f, 0, 1));
    EXPECT_EQ(m.normals[2], vec4(1, 0, 0, 0));
    ASSERT_EQ(m.faceCount, 5);
    ASSERT_EQ(int(m.faces.size()), 5);
    // Quad: (0 1 2) (0 2 3), no slashes: texcoord 0, normal -1.
    expectCorner(m.faces[0], 0, 0, 0, -1);
    expectCorner(m.faces[0], 1, 1, 0, -1);
    expectCorner(m.faces[0], 2, 2, 0, -1);
    expectCorner(m.faces[1], 1, 2, 0, -1);
    expectCorner(m.faces[1], 2, 3, 0, -1);
    // Pentagon: three triangles sharing corner 0, written 1/2/3.
    for (int t = 2; t < 5; ++t) {
        expectCorner(m.faces[t], 0, 0, 2, 2);
        EXPECT_EQ(m.faces[t].cornerCount, 3);
        EXPECT_EQ(m.faces[t].material, &m.defaultMaterial);
        EXPECT_EQ(m.faces[t].spare, 0);
    }
    expectCorner(m.faces[2], 1, 1, 1, -1); // 2/1
    expectCorner(m.faces[2], 2, 2, 0, 1);  // 3//2
    expectCorner(m.faces[4], 2, 4, 0, -1);
}

TEST_F(MeshFiles, BadCornersNeverIndex) {
    write("bad.obj", std::string(kSquare) +
                         "vt 1 1\nvn 0 0 1\n"
                         "f 1  2 3 # double blank and a blank before the comment\n"
                         "f 1/9/7 2/-1/0 3/1/1\n" // bad texcoords and normals are dropped
                         "f 1 2 0\n"              // vertex 0: whole face dropped
                         "f 1 2 6 3\n"            // beyond the array: dropped
                         "f -1 -2 -3\n"           // relative indices are not supported
                         "f /1/1 2 3\n"           // no vertex at all
                         "f 1 2\n"                // too few corners
                         "f\n"
                         "f 99999999999999999999 2 3\n"
                         "\tf\t3\t4\t5\n");
    Mesh m;
    load(m, "bad.obj");
    ASSERT_EQ(m.faceCount, 3);
    expectCorner(m.faces[0], 1, 1, 0, -1);
    expectCorner(m.faces[0], 2, 2, 0, -1);
    expectCorner(m.faces[1], 0, 0, 0, -1);
    expectCorner(m.faces[1], 1, 1, 0, -1);
    expectCorner(m.faces[1], 2, 2, 1, 0);
    expectCorner(m.faces[2], 0, 2, 0, -1);
    expectCorner(m.faces[2], 2, 4, 0, -1);
}

TEST_F(MeshFiles, MissingNumbersReadAsZeroAndCrLfMatchesLf) {
    std::string text = "v 1\nv 2 3\nv 4 5 6 7 extra\nv x 1 1\nvt 0.5\nvn\n"
                       "f 1/2/1 2/2/1 3/2/1\n";
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    write("lf.obj", text);
    write("crlf.obj", crlf);
    Mesh a, b;
    load(a, "lf.obj");
    load(b, "crlf.obj");
    ASSERT_EQ(a.vertexCount, 4);
    EXPECT_EQ(a.vertices[0].position, vec4(1, 0, 0, 1));
    EXPECT_EQ(a.vertices[1].position, vec4(2, 3, 0, 1));
    EXPECT_EQ(a.vertices[2].position, vec4(4, 5, 6, 1));
    EXPECT_EQ(a.vertices[3].position, vec4(0, 0, 0, 1)); // a failed read stops the line
    EXPECT_EQ(a.texcoords[1], vec4(0.5f, 0, 0, 0));
    EXPECT_EQ(a.normals[0], vec4(0, 0, 0, 0));

    ASSERT_EQ(a.vertexCount, b.vertexCount);
    ASSERT_EQ(a.faceCount, b.faceCount);
    ASSERT_EQ(a.faceCount, 1);
    for (int i = 0; i < a.vertexCount; ++i) {
        EXPECT_EQ(a.vertices[i].position, b.vertices[i].position);
        EXPECT_EQ(a.vertices[i].normal, b.vertices[i].normal);
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(a.faces[0].vertexIndex[k], b.faces[0].vertexIndex[k]);
        EXPECT_EQ(a.faces[0].texcoordIndex[k], b.faces[0].texcoordIndex[k]);
        EXPECT_EQ(a.faces[0].normalIndex[k], b.faces[0].normalIndex[k]);
    }
}

TEST_F(MeshFiles, MtlMaterialsAndResolution) {
    write("m.mtl", "Ns 96.078\nd 0.5\nKd 1 1 1\n"
                   "newmtl red\r\nKa 0.1 0.2 0.3\nKd 1 0 0\nKs 0.5 0.5 0.5\nillum 2\n"
                   "newmtl blue\nKd 0 0 1\nNs 7\nd 0.25\n"
                   "newmtl red\nKd 0.5 0 0\n");
    write("a.obj", std::string(kSquare) + "usemtl red\nf 1 2 3\n" // before mtllib: default material
                                          "mtllib m.mtl\n"
                                          "f 1 2 3\n" // current name is still red: the later red
                                          "usemtl blue\nf 1 2 3\n"
                                          "usemtl green\nf 1 2 3\n");
    Mesh m;
    load(m, "a.obj");
    ASSERT_EQ(m.materials.size(), 3u);
    auto it = m.materials.begin();
    const Material& red = *it++;
    const Material& blue = *it++;
    const Material& red2 = *it++;
    EXPECT_EQ(red.name, "red");
    EXPECT_EQ(red.ambient, vec4(0.1f, 0.2f, 0.3f, 0));
    EXPECT_EQ(red.diffuse, vec4(1, 0, 0, 0));
    EXPECT_EQ(red.specular, vec4(0.5f, 0.5f, 0.5f, 0));
    EXPECT_EQ(red.ns, 96); // carried from before the first newmtl, read as an integer
    EXPECT_EQ(red.dissolve, 0.5f);
    EXPECT_EQ(red.textureIndex, 0);
    EXPECT_EQ(red.shaderType, -1);
    EXPECT_EQ(red.shininess, 8.0f);
    EXPECT_EQ(blue.ns, 7);
    EXPECT_EQ(red2.ns, 7); // ns and d carry over to the next material
    EXPECT_EQ(red2.dissolve, 0.25f);
    EXPECT_EQ(red2.diffuse, vec4(0.5f, 0, 0, 0));
    EXPECT_EQ(red2.ambient, vec4(0, 0, 0, 0));

    ASSERT_EQ(m.faceCount, 4);
    EXPECT_EQ(m.faces[0].material, &m.defaultMaterial);
    EXPECT_EQ(m.faces[1].material, &red2);
    EXPECT_EQ(m.faces[2].material, &blue);
    EXPECT_EQ(m.faces[3].material, &m.defaultMaterial);
}

TEST_F(MeshFiles, MtlWithoutNewmtlOrMissingGivesOneDefaultMaterial) {
    write("plain.mtl", "Kd 1 1 1\nNs 3\n");
    std::list<Material> plain = loadMtl(dir_, "plain.mtl", textures_);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain.front().name, "defaultmaterial");
    EXPECT_EQ(plain.front().diffuse, vec4(1, 1, 1, 0));
    EXPECT_EQ(plain.front().ns, 3);

    std::list<Material> missing = loadMtl(dir_, "nothere.mtl", textures_);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing.front().name, "defaultmaterial");
    EXPECT_EQ(missing.front().dissolve, 1.0f);
    EXPECT_EQ(missing.front().textureIndex, 0);
}

TEST_F(MeshFiles, SecondMtllibKeepsEarlierFacesMaterialsAlive) {
    write("one.mtl", "newmtl stone\nKd 0.5 0.5 0.5\nnewmtl unused\n");
    write("two.mtl", "newmtl stone\nKd 0.25 0 0\n");
    write("a.obj", std::string(kSquare) + "mtllib one.mtl\nusemtl stone\nf 1 2 3\n"
                                          "mtllib two.mtl\nf 1 3 4\n");
    Mesh m;
    load(m, "a.obj");
    ASSERT_EQ(m.faceCount, 2);
    // The face read before the second mtllib keeps the material it was read with,
    // and that material is still owned by the mesh (ASan would flag a freed one).
    EXPECT_EQ(m.faces[0].material->diffuse, vec4(0.5f, 0.5f, 0.5f, 0));
    EXPECT_EQ(m.faces[1].material->diffuse, vec4(0.25f, 0, 0, 0));
    // The later file's materials come first; only referenced earlier ones are kept.
    ASSERT_EQ(m.materials.size(), 2u);
    EXPECT_EQ(&m.materials.front(), m.faces[1].material);
    EXPECT_EQ(&m.materials.back(), m.faces[0].material);
}

TEST_F(MeshFiles, MapKdLoadsTextureOnceThroughTheStore) {
    write("m.mtl", "newmtl a\nmap_Kd tex.bin\nnewmtl b\nmap_Kd tex.bin\n");
    std::list<Material> first;
    ::testing::internal::CaptureStdout();
    first = loadMtl(dir_, "m.mtl", textures_);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "texture filename is [tex.bin]\ntexture filename is [tex.bin]\n");
    ASSERT_EQ(textures_.size(), 2);
    EXPECT_EQ(textures_[1].name, "tex.bin");
    EXPECT_EQ(first.front().textureIndex, 1);
    EXPECT_EQ(first.back().textureIndex, 1);
}

TEST_F(MeshFiles, TriangleAndVertexNormals) {
    // Two triangles of a folded strip, one degenerate triangle and an unused vertex.
    write("n.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 -3\nv 5 5 5\nv 1 0 0\n"
                   "f 1 2 3\nf 1 3 4\nf 1 2 6\n");
    Mesh m;
    load(m, "n.obj");
    ASSERT_EQ(m.faceCount, 3);
    EXPECT_EQ(m.faces[0].normal, vec4(0, 0, 1, 0));
    EXPECT_EQ(m.faces[1].normal, vec4(-1, 0, 0, 0));
    EXPECT_EQ(m.faces[2].normal, vec4(0, 0, 0, 0)); // zero area
    // Vertex 0: sum of the three unit normals in triangle order, then normalized.
    vec4 sum = vec4() + m.faces[0].normal + m.faces[1].normal + m.faces[2].normal;
    EXPECT_EQ(m.vertices[0].normal, normalize(sum));
    EXPECT_EQ(m.vertices[1].normal, vec4(0, 0, 1, 0));
    EXPECT_EQ(m.vertices[3].normal, vec4(-1, 0, 0, 0));
    EXPECT_EQ(m.vertices[4].normal, vec4(0, 0, 0, 0)); // used by no triangle
    EXPECT_EQ(m.vertices[5].normal, vec4(0, 0, 0, 0)); // only in the degenerate one
    for (const MeshVertex& v : m.vertices) {
        EXPECT_EQ(v.spare0, vec4());
        EXPECT_EQ(v.spare1, vec4());
        EXPECT_EQ(v.position.w, 1.0f);
    }
}

TEST_F(MeshFiles, NormalsStayFiniteForExtremeCoordinates) {
    // Squared lengths beyond the float range either way are rescaled, not lost; a
    // cross product that itself overflows or holds a NaN gives a zero normal.
    write("x.obj", "v 0 0 0\nv 3e15 0 0\nv 0 3e15 0\n"
                   "v 0 0 0\nv 1e-15 0 0\nv 0 1e-15 0\n"
                   "v nan 0 0\nv 1 0 0\nv 0 1 0\n"
                   "v 0 0 0\nv 3e30 0 0\nv 0 3e30 0\n"
                   "f 1 2 3\nf 4 5 6\nf 7 8 9\nf 10 11 12\n");
    Mesh m;
    load(m, "x.obj");
    ASSERT_EQ(m.faceCount, 4);
    EXPECT_EQ(m.faces[0].normal, vec4(0, 0, 1, 0));
    EXPECT_EQ(m.faces[1].normal, vec4(0, 0, 1, 0));
    EXPECT_EQ(m.faces[2].normal, vec4(0, 0, 0, 0));
    EXPECT_EQ(m.faces[3].normal, vec4(0, 0, 0, 0));
    for (const MeshVertex& v : m.vertices) {
        EXPECT_TRUE(std::isfinite(v.normal.x) && std::isfinite(v.normal.y) &&
                    std::isfinite(v.normal.z));
    }
}

TEST_F(MeshFiles, BoundingBoxCorners) {
    write("b.obj", "v 1 -2 3\nv -4 5 0.5\nv 2 0 -6\n");
    Mesh m;
    load(m, "b.obj");
    EXPECT_EQ(m.boxCorners[0], vec4(-4, -2, -6, 0));
    EXPECT_EQ(m.boxCorners[1], vec4(2, -2, -6, 0));
    EXPECT_EQ(m.boxCorners[2], vec4(-4, 5, -6, 0));
    EXPECT_EQ(m.boxCorners[5], vec4(2, -2, 3, 0));
    EXPECT_EQ(m.boxCorners[7], vec4(2, 5, 3, 0));

    Mesh empty;
    load(empty, "nothere.obj"); // an unreadable file gives an empty mesh
    EXPECT_EQ(empty.vertexCount, 0);
    EXPECT_EQ(empty.faceCount, 0);
    EXPECT_EQ(empty.texcoordCount, 1);
    EXPECT_EQ(empty.boxCorners[0], vec4(1e20f, 1e20f, 1e20f, 0));
    EXPECT_EQ(empty.boxCorners[7], vec4(-1e20f, -1e20f, -1e20f, 0));
}

TEST_F(MeshFiles, DirectoryLoadsObjFilesInByteOrder) {
    write("b.obj", "v 0 0 0\n");
    write("B.obj", "v 0 0 0\nv 1 1 1\n");
    write("a.OBJ", "");
    write("notes.txt", "v 1 2 3\n");
    write("c.obj.bak", "");
    fs::create_directory(root_ / "dir.obj");
    MeshStore store;
    ::testing::internal::CaptureStdout();
    store.loadDirectory(dir_, textures_);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "about to load meshes from [" + dir_ +
                       "*.obj]\n"
                       "---- loading [B.obj]:\n---- loading [a.OBJ]:\n---- loading [b.obj]:\n");
    ASSERT_EQ(store.size(), 4);
    EXPECT_EQ(store.find("B.obj"), 1);
    EXPECT_EQ(store.find("a.OBJ"), 2);
    EXPECT_EQ(store.find("b.obj"), 3);
    EXPECT_EQ(store[1].vertexCount, 2);
    EXPECT_EQ(store.find("A.OBJ"), 0); // case-sensitive lookup
    EXPECT_EQ(store.find("dir.obj"), 0);

    // Loading again replaces meshes of the same name instead of appending.
    write("b.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    ::testing::internal::CaptureStdout();
    store.loadDirectory(dir_, textures_);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(store.size(), 4);
    EXPECT_EQ(store[3].vertexCount, 3);
}

TEST_F(MeshFiles, DirectoryWithoutObjFilesLeavesThePlaceholder) {
    MeshStore store;
    ::testing::internal::CaptureStdout();
    store.loadDirectory(dir_, textures_);
    store.loadDirectory(dir_ + "missing/", textures_);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "about to load meshes from [" + dir_ + "*.obj]\nabout to load meshes from [" +
                       dir_ + "missing/*.obj]\n");
    EXPECT_EQ(store.size(), 1);
    EXPECT_EQ(store.find("anything.obj"), 0);
}

} // namespace
} // namespace lumo
