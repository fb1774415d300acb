#pragma once
// Hand-tuned constants from a text file: one "name number" per line, "#" starts
// a comment, LF or CR LF line ends. Lookups never fail: a missing name reads 0.0
// and is inserted, so every name ever asked for is afterwards present.

#include "math/vec.h"

#include <map>
#include <string>

namespace lumo {

class VarPile {
public:
    // Reads directory + fileName (plain concatenation). A missing file gives an
    // empty pile.
    VarPile(const std::string& directory, const std::string& fileName);
    // An empty pile not tied to a file; parse fills it from text in memory.
    VarPile() = default;

    float& get(const std::string& name);
    // (get(base_x), get(base_y), get(base_z), 0), looked up in that order.
    vec4 getVec(const std::string& baseName);

    // Parses text in the file format into values (used by the constructor).
    void parse(const std::string& text);

    std::map<std::string, float> values;
    std::string directory;
    std::string fileName;
    std::string path;
};

} // namespace lumo
