#pragma once
// The Wavefront OBJ and MTL readers, working on text already in memory. They never
// open a file: the material library an OBJ names and the textures an MTL names come
// back through the caller's resolvers. The file loaders (Mesh::loadObj, loadMtl in
// assets/mesh.h) are thin wrappers that read the files and load the textures; tests
// and fuzz targets feed the readers strings.

#include "assets/mesh.h"

#include <cstdint>
#include <functional>
#include <list>
#include <string_view>

namespace lumo {

// The materials of the library named on an OBJ "mtllib" line (the word as written,
// possibly empty). It is called while the OBJ is read, in line order.
using MaterialLibraryResolver = std::function<std::list<Material>(std::string_view name)>;

// The texture index for the name on an MTL "map_Kd" line (possibly empty).
using TextureResolver = std::function<int32_t(std::string_view name)>;

// The materials of MTL text, in file order. A material starts at each "newmtl";
// Ka, Kd, Ks, Ns, d and map_Kd set fields of the current one, Ns and d carrying over
// to the next. Lines before the first "newmtl" fill a starting material called
// "defaultmaterial", kept only when no "newmtl" follows, so the list is never empty.
// Without a texture resolver every map_Kd gives index 0, the placeholder.
std::list<Material> parseMtl(std::string_view text, const TextureResolver& texture = {});

// Rebuilds mesh (all but its name) from OBJ text: v, vn, vt, f (polygons fanned into
// triangles), usemtl and mtllib; anything else is ignored. A face that names a
// vertex the text does not hold is dropped; a bad texture coordinate number selects
// the (0, 0) entry and a bad normal number none, so no index of the result is out of
// range. Then the derived data is filled in (Mesh::deriveFromTriangles), printing a
// line per non-manifold side. Without a library resolver a "mtllib" line gives what
// an empty library file gives.
void parseObj(std::string_view text, const MaterialLibraryResolver& library, Mesh& mesh);

} // namespace lumo
