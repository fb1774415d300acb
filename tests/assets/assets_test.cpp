// Meshes and textures: the OBJ and MTL readers, normals and adjacency, the file loaders and
// the stores.

#include "assets/mesh.h"
#include "assets/obj.h"
#include "assets/texture.h"
#include "sys/log.h"
#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace lumo {
namespace {

int decodeFailures = 0;

// A fresh directory per test for the file loaders (the directory string ends in "/" as they
// expect). PNG decode failures are counted instead of waiting for input and exiting.
class AssetFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_);
        decodeFailures = 0;
        setDecodeFailureHandler([] { ++decodeFailures; });
    }
    void TearDown() override {
        setDecodeFailureHandler(nullptr); // back to the default
        std::filesystem::remove_all(root_);
    }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(root_ / name, std::ios::binary) << bytes;
    }
    // An 8-bit RGBA PNG written by libpng.
    void writePng(const std::string& name, uint32_t width, uint32_t height,
                  std::vector<uint16_t> rgba) {
        const auto bytes = test::writePng({.width = width, .height = height, .samples = rgba});
        write(name, std::string(bytes.begin(), bytes.end()));
    }
    // The console lines f logs.
    template <class F>
    static std::string printed(F f) {
        LogCapture log;
        f();
        return log.text();
    }

    std::filesystem::path root_ = std::filesystem::temp_directory_path() /
                                  ("lumo_assets_" + std::to_string(std::random_device()()));
    std::string dir_ = root_.string() + "/";
    TextureStore textures_;
};

// Reads OBJ text into mesh (normals and adjacency included), returning the lines logged.
std::string parse(Mesh& mesh, std::string_view text, const MaterialLibraryResolver& library = {}) {
    LogCapture log;
    parseObj(text, library, mesh);
    return log.text();
}

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
const std::string kOpen = "((( non 2-manifold: open edge )))\n";

TEST(ObjText, FansCornerFormsAndBadCornersThatNeverIndex) {
    Mesh m;
    parse(m, kSquare + "vt 0.25 0.5\nvt 0.75 1\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n"
                       "f 1 2 3 4\nf 1/2/3 2/1 3//2 4 5\n"
                       "f 1  2 3 # double blank and a blank before the comment\n"
                       "f 1/9/7 2/-1/0 3/1/1\n" // bad texcoords and normals are dropped
                       "f 1 2 0\n"              // vertex 0: whole face dropped
                       "f 1 2 6 3\n"            // beyond the array: dropped
                       "f -1 -2 -3\n"           // relative indices are not supported
                       "f /1/1 2 3\n"           // no vertex at all
                       "f 1 2\n"                // too few corners
                       "f 99999999999999999999 2 3\n"
                       "\tf\t3\t4\t5\n");
    EXPECT_EQ(m.texcoords[0], vec4(0, 0, 0, 0));
    EXPECT_EQ(m.normals[2], vec4(1, 0, 0, 0));
    // Quad: (0 1 2) (0 2 3), no slashes: texcoord 0, normal -1. Pentagon: three triangles
    // sharing corner 0, written 1/2/3; 2/1 and 3//2 leave out a normal and a texcoord.
    const Corners expected[] = {{0, 0, -1, 1, 0, -1, 2, 0, -1}, {0, 0, -1, 2, 0, -1, 3, 0, -1},
                                {0, 2, 2, 1, 1, -1, 2, 0, 1},   {0, 2, 2, 2, 0, 1, 3, 0, -1},
                                {0, 2, 2, 3, 0, -1, 4, 0, -1},  {0, 0, -1, 1, 0, -1, 2, 0, -1},
                                {0, 0, -1, 1, 0, -1, 2, 1, 0},  {2, 0, -1, 3, 0, -1, 4, 0, -1}};
    ASSERT_EQ(m.faceCount, int(std::size(expected)));
    for (int t = 0; t < m.faceCount; ++t) {
        EXPECT_EQ(corners(m.faces[t]), expected[t]) << "triangle " << t;
        EXPECT_EQ(m.faces[t].material, &m.defaultMaterial);
    }
}

TEST_F(AssetFiles, MissingNumbersAndFilesReadAsZeroAndCrLfMatchesLf) {
    const std::string lf = "v 1\nv 2 3 4 5 extra\nv x 1 1\nvt 0.5\nvn\nf 1/2/1 2/2/1 3/2/1\n";
    const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
    Mesh a, b, c;
    parse(a, lf);
    parse(b, crlf);
    write("lf.obj", lf); // the file loader reads what the text reader reads
    printed([&] { c.loadObj(dir_, "lf.obj", textures_); });
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
    EXPECT_EQ(printed([&] { c.loadObj(dir_, "nothere.obj", textures_); }),
              "---- loading [nothere.obj]:\n");
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

const std::string kTetra = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n";

TEST(Adjacency, ClosedTetrahedronEitherWinding) {
    // Winding is not checked: with triangle 2 flipped its sides run the same way as its
    // neighbours' but are still shared.
    for (const char* third : {"f 2 3 4\n", "f 2 4 3\n"}) {
        Mesh m;
        EXPECT_EQ(parse(m, kTetra + "f 1 3 2\nf 1 2 4\n" + third + "f 1 4 3\n"), "");
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
    // One "edge over shared" when the third triangle meets edge 0-1, then every other
    // side (six of them) is open.
    Mesh m;
    EXPECT_EQ(parse(m, kTetra + "v 1 1 1\nf 1 2 3\nf 2 1 4\nf 1 2 5\n"),
              "((( non 2-manifold: edge over shared )))\n" + kOpen + kOpen + kOpen + kOpen + kOpen +
                  kOpen);
    EXPECT_FALSE(m.manifold);
    // face1 is the last triangle met on the edge.
    EXPECT_EQ(m.faces[0].neighbour[0], 2);
    EXPECT_EQ(m.faces[1].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].neighbour[0], 0);
    EXPECT_EQ(m.faces[2].edge[0], 0);

    // With keys packed into 32 bits (min * 65536 + max) the sides (1, 65541) and (2, 5) of
    // two separate triangles would be taken for one shared edge.
    std::string many;
    for (int i = 0; i < 65542; ++i) {
        many += "v " + std::to_string(i % 7) + " " + std::to_string(i % 11) + " " +
                std::to_string(i % 13) + "\n";
    }
    EXPECT_EQ(parse(m, many + "f 2 65542 1\nf 3 6 4\n").size(), 6 * kOpen.size());
    EXPECT_EQ(m.faces[1].edge[0], 3);
    EXPECT_EQ(m.faces[1].neighbour[0], -1);
}

// Directories load their *.obj files in byte order, each material's texture once (the mesh
// directory's copy first), then the texture directory's files not loaded yet; every line in the
// order the loaders meet what they report: a texture's lines while its material is read, the
// mesh's open sides after its file.
TEST_F(AssetFiles, DirectoriesLoadInByteOrderAndEachTextureOnce) {
    MeshStore meshes;
    EXPECT_EQ(printed([&] { meshes.loadDirectory(dir_ + "missing/", textures_); }),
              "about to load meshes from [" + dir_ + "missing/*.obj]\n");
    // Nothing found: only the placeholders, which also answer unknown names.
    ASSERT_EQ(meshes.size(), 1);
    EXPECT_EQ(meshes[0].name, "dummydummydummy");
    EXPECT_EQ(meshes[0].vertexCount + meshes[0].faceCount, 0);
    EXPECT_EQ(meshes.find("tetra6.obj"), 0);
    ASSERT_EQ(textures_.size(), 1);
    EXPECT_EQ(textures_[0].name, "dummydummydummy");
    const TextureImage& dummy = *textures_[0].image;
    EXPECT_EQ(dummy.width + dummy.height, 4);
    const vec4 black(0, 0, 0, 0), magenta(1, 0, 1, 0);
    EXPECT_EQ(dummy.texels, (AlignedVector<vec4>{black, magenta, magenta, black}));
    EXPECT_EQ(textures_.find("e_1.png"), 0);

    std::filesystem::create_directories(root_ / "meshes" / "dir.obj");
    std::filesystem::create_directories(root_ / "textures");
    write("meshes/B.obj", "v 0 0 0\nv 1 1 1\n");
    write("meshes/a.OBJ", "");
    write("meshes/b.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    write("meshes/notes.txt", "v 1 2 3\n");
    write("meshes/m.mtl", "newmtl skin\nmap_Kd e_1.png\nnewmtl lips\nmap_Kd e_1.png\n"
                          "newmtl eye\nmap_Kd gone.png\n");
    writePng("meshes/e_1.png", 1, 1, {255, 0, 0, 255});
    writePng("textures/e_1.png", 1, 1, {0, 0, 255, 255});
    writePng("textures/a.PNG", 1, 1, {0, 0, 0, 255});
    writePng("textures/e_1@3x.png", 3, 3, std::vector<uint16_t>(36, 255)); // on demand only
    const std::string out = printed([&] {
        meshes.loadDirectory(dir_ + "meshes/", textures_);
        textures_.loadDirectory(dir_ + "textures/");
    });
    EXPECT_EQ(out, "about to load meshes from [" + dir_ +
                       "meshes/*.obj]\n---- loading [B.obj]:\n---- loading [a.OBJ]:\n"
                       "---- loading [b.obj]:\n"
                       "texture filename is [e_1.png]\ntexture filename is [e_1.png]\n"
                       "texture filename is [gone.png]\n"
                       "error(48) decoding png from [gone.png]\n" +
                       kOpen + kOpen + kOpen +
                       "loading texture [a.PNG]\nloading texture [e_1.png]\n");
    ASSERT_EQ(meshes.size(), 4);
    EXPECT_EQ(meshes.find("B.obj"), 1);
    EXPECT_EQ(meshes.find("b.obj"), 3);
    EXPECT_EQ(meshes[1].vertexCount, 2);
    EXPECT_EQ(meshes.find("A.OBJ"), 0); // case-sensitive lookup
    ASSERT_EQ(textures_.size(), 4);
    EXPECT_EQ(textures_.find("e_1.png"), 1);
    EXPECT_EQ(textures_.find("gone.png"), 2);
    EXPECT_EQ(textures_.find("a.PNG"), 3);
    EXPECT_EQ(textures_[1].image->texels[0], vec4(1, 0, 0, 1)); // the meshes directory's (red)
    auto material = meshes[3].materials.begin();
    EXPECT_EQ(material++->textureIndex, 1);
    EXPECT_EQ(material++->textureIndex, 1);
    EXPECT_EQ(material->textureIndex, 2);
    EXPECT_EQ(decodeFailures, 1);

    // Loading again replaces meshes of the same name instead of appending.
    write("meshes/b.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    printed([&] { meshes.loadDirectory(dir_ + "meshes/", textures_); });
    ASSERT_EQ(meshes.size(), 4);
    EXPECT_EQ(meshes[3].vertexCount, 3);
}

// A byte as a texel value: the float nearest c / 255.
float byteValue(int c) {
    return float(c) / 255.0f;
}

TEST_F(AssetFiles, TexelsOfEachFormatAndFailedLoads) {
    // PNG, 3 x 2: premultiplied, the second row below the first. Any case of ".png" takes this
    // road.
    writePng("p.PnG", 3, 2, {255, 128, 0,   128, 10, 20, 30, 0, 1,   2,   3,  255, //
                             255, 255, 255, 255, 0,  0,  0,  0, 200, 100, 50, 1});
    std::unique_ptr<Texture> t = loadTexture(dir_, "p.PnG");
    ASSERT_EQ(std::pair(t->image->width, t->image->height), std::pair(3, 2));
    const auto& px = t->image->texels;
    const float half = byteValue(128), low = byteValue(1);
    EXPECT_EQ(px[0], vec4(1.0f * half, byteValue(128) * half, 0.0f, half));
    EXPECT_EQ(px[1], vec4(0, 0, 0, 0)); // fully transparent, whatever the colour
    EXPECT_EQ(px[2], vec4(byteValue(1), byteValue(2), byteValue(3), 1.0f));
    EXPECT_EQ(px[5], vec4(byteValue(200) * low, byteValue(100) * low, byteValue(50) * low, low));

    // Binary PPM, 2 x 2: texels are (r, g, b, 1), rows top to bottom, no premultiplying.
    write("t.ppm", std::string("P6\n2 2\n255\n") +
                       std::string("\x00\x10\x20\xff\xff\xff\x01\x02\x03\x80\x00\x7f", 12));
    t = loadTexture(dir_, "t.ppm");
    ASSERT_EQ(t->image->width + t->image->height, 4);
    EXPECT_EQ(t->image->texels[3], vec4(byteValue(128), 0, byteValue(127), 1));
    EXPECT_EQ(decodeFailures, 0);

    // All give an empty texture; only the PNG road prints an error and calls the handler.
    // Undecodable, missing, PNG data under another name, a name shorter than four characters.
    write("junk.jpg", "junk");
    writePng("png.dat", 1, 1, {1, 2, 3, 4});
    writePng("png", 1, 1, {1, 2, 3, 4});
    for (const std::string name : {"gone.png", "junk.jpg", "missing.bmp", "png.dat", "png"}) {
        EXPECT_EQ(printed([&] { t = loadTexture(dir_, name); }),
                  name == "gone.png" ? "error(48) decoding png from [gone.png]\n" : "");
        EXPECT_EQ(t->name, name);
        EXPECT_TRUE(t->image->width == 0 && t->image->texels.empty()) << name;
    }
    EXPECT_EQ(decodeFailures, 1);
}

// The default handler waits for one byte of standard input and exits with status 1.
TEST_F(AssetFiles, DefaultFailureReadsAByteAndExitsWithStatus1) {
    EXPECT_EXIT(
        {
            int in[2];
            if (pipe(in) != 0 || ::write(in[1], "x", 1) != 1 || dup2(in[0], 0) != 0) {
                _exit(2);
            }
            close(in[1]);
            setDecodeFailureHandler(nullptr); // back to the default
            loadTexture(dir_, "gone.png");
        },
        ::testing::ExitedWithCode(1), "");
}

} // namespace
} // namespace lumo
