#include "assets/obj.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

namespace lumo {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Calls visit(line) for every line of text, lines ending at each line feed, with one
// trailing carriage return removed (so CR LF and LF files read alike) and the line
// cut at its first "#". Empty lines are passed on too; the caller finds no keyword.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        size_t comment = line.find('#');
        if (comment != std::string_view::npos) {
            line = line.substr(0, comment);
        }
        visit(line);
    }
}

// Reads one line the way scanf reads it: each read skips leading whitespace, and once
// a read fails every later read fails too. A number that is missing or malformed
// reads as 0, a missing word as the empty string.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    std::string_view word() {
        skipSpace();
        size_t start = pos_;
        while (pos_ < text_.size() && !isSpace(text_[pos_])) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    // Everything after what has been read so far.
    std::string_view rest() const { return text_.substr(pos_); }

    float readFloat() {
        skipSpace();
        if (failed_) {
            return 0.0f;
        }
        const char* first = text_.data() + pos_;
        const char* last = text_.data() + text_.size();
        bool negative = false;
        if (first != last && (*first == '+' || *first == '-')) {
            negative = *first == '-';
            ++first;
        }
        // from_chars takes no sign of its own here, so "+-1" is rejected as scanf does.
        if (first == last || *first == '+' || *first == '-') {
            failed_ = true;
            return 0.0f;
        }
        float value = 0.0f;
        auto [end, error] = std::from_chars(first, last, value);
        if (error == std::errc::result_out_of_range) {
            value = outOfRangeFloat(first, last, end);
        } else if (error != std::errc()) {
            failed_ = true;
            return 0.0f;
        }
        pos_ = size_t(end - text_.data());
        return negative ? -value : value;
    }

    // A decimal integer with optional sign; values beyond int32 saturate.
    int32_t readInt() {
        skipSpace();
        if (failed_) {
            return 0;
        }
        size_t used = 0;
        bool valid = false;
        int64_t value = parseDecimal(text_.substr(pos_), used, valid);
        if (!valid) {
            failed_ = true;
            return 0;
        }
        pos_ += used;
        return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max()));
    }

    // Optional sign and decimal digits at the start of text, stopping at the first
    // other character; saturates far beyond any index. used is the length read.
    static int64_t parseDecimal(std::string_view text, size_t& used, bool& valid) {
        size_t i = 0;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        int64_t value = 0;
        valid = false;
        constexpr int64_t limit = int64_t(1) << 40;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = std::min(limit, value * 10 + (text[i] - '0'));
            valid = true;
            ++i;
        }
        used = i;
        return negative ? -value : value;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) {
            ++pos_;
        }
    }

    // from_chars leaves the value alone when the number does not fit a float: tell
    // an overflow (infinity, as strtof gives) from an underflow (0) by reading it
    // again in double precision, whose range covers every realistic exponent.
    static float outOfRangeFloat(const char* first, const char* last, const char* end) {
        double wide = 0.0;
        auto [wideEnd, error] = std::from_chars(first, last, wide);
        if (error == std::errc() && wideEnd == end && std::fabs(wide) < 1.0) {
            return 0.0f;
        }
        if (error == std::errc() && wideEnd == end) {
            return std::numeric_limits<float>::infinity();
        }
        // Beyond double as well: the exponent's sign decides.
        std::string_view number(first, size_t(end - first));
        size_t e = number.find_first_of("eE");
        bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
        return tiny ? 0.0f : std::numeric_limits<float>::infinity();
    }

    std::string_view text_;
    size_t pos_ = 0;
    bool failed_ = false;
};

// The face corner number conversion: leading whitespace skipped, an optional sign,
// digits up to the first other character; an empty or digit-less part is 0.
int64_t cornerNumber(std::string_view part) {
    size_t start = 0;
    while (start < part.size() && isSpace(part[start])) {
        ++start;
    }
    size_t used = 0;
    bool valid = false;
    int64_t value = LineReader::parseDecimal(part.substr(start), used, valid);
    return valid ? value : 0;
}

Material startMaterial() {
    Material m;
    m.textureIndex = 0;
    m.ns = 0;
    m.dissolve = 1.0f;
    m.shininess = 8.0f;
    m.shaderType = ShaderType::Plain;
    m.name = "defaultmaterial";
    return m;
}

} // namespace

std::list<Material> parseMtl(std::string_view text, const TextureResolver& texture) {
    std::list<Material> result;
    Material current = startMaterial();
    forEachLine(text, [&](std::string_view line) {
        LineReader reader(line);
        std::string_view keyword = reader.word();
        if (keyword.empty()) {
            return;
        }
        if (keyword == "newmtl") {
            if (current.name != "defaultmaterial") {
                result.push_back(current);
            }
            current.name = std::string(reader.word());
            current.ambient = current.diffuse = current.specular = vec4();
            current.textureIndex = 0;
        } else if (keyword == "Ka" || keyword == "Kd" || keyword == "Ks") {
            float r = reader.readFloat();
            float g = reader.readFloat();
            float b = reader.readFloat();
            vec4& target = keyword == "Ka"   ? current.ambient
                           : keyword == "Kd" ? current.diffuse
                                             : current.specular;
            target = vec4(r, g, b, 0.0f);
        } else if (keyword == "Ns") {
            current.ns = reader.readInt();
        } else if (keyword == "d") {
            current.dissolve = reader.readFloat();
        } else if (keyword == "map_Kd") {
            std::string_view textureName = reader.word();
            current.textureIndex = texture ? texture(textureName) : 0;
        }
    });
    result.push_back(current);
    return result;
}

void parseObj(std::string_view text, const MaterialLibraryResolver& library, Mesh& mesh) {
    mesh.vertices.clear();
    mesh.normals.clear();
    mesh.texcoords.clear();
    mesh.faces.clear();
    mesh.materials.clear();
    mesh.vertexCount = mesh.normalCount = mesh.texcoordCount = mesh.faceCount = 0;
    mesh.manifold = true;

    std::vector<vec4> positionsRead, normalsRead, texcoordsRead;
    // Corners are checked against the vertex arrays only at the end of the file, so
    // a face may name a vertex that a later line defines.
    struct Corner {
        int64_t vertex, texcoord, normal;
    };
    struct FaceLine {
        size_t firstCorner, cornerCount;
        const Material* material;
    };
    std::vector<Corner> corners;
    std::vector<FaceLine> faceLines;
    // Materials of an earlier "mtllib": faces read before the second one keep
    // pointing at them, so they stay owned by the mesh rather than being freed.
    std::list<Material> replaced;
    std::string currentMaterial = "defaultmat";

    forEachLine(text, [&](std::string_view line) {
        LineReader reader(line);
        std::string_view keyword = reader.word();
        if (keyword.empty()) {
            return;
        }
        if (keyword == "mtllib") {
            std::string_view name = reader.word();
            std::list<Material> loaded = library ? library(name) : parseMtl({});
            replaced.splice(replaced.end(), mesh.materials);
            mesh.materials = std::move(loaded);
        } else if (keyword == "g") {
            // Groups carry nothing the renderer uses.
        } else if (keyword == "usemtl") {
            currentMaterial = std::string(reader.word());
        } else if (keyword == "v" || keyword == "vn") {
            float x = reader.readFloat();
            float y = reader.readFloat();
            float z = reader.readFloat();
            if (keyword == "v") {
                positionsRead.push_back(vec4(x, y, z, 1.0f));
            } else {
                normalsRead.push_back(vec4(x, y, z, 0.0f));
            }
        } else if (keyword == "vt") {
            float u = reader.readFloat();
            float v = reader.readFloat();
            texcoordsRead.push_back(vec4(u, v, 0.0f, 0.0f));
        } else if (keyword == "f") {
            FaceLine face{corners.size(), 0, &mesh.defaultMaterial};
            for (const Material& m : mesh.materials) {
                if (m.name == currentMaterial) {
                    face.material = &m;
                }
            }
            // Blanks (and tabs) separate the corners; runs of them and a blank left
            // in front of a comment give empty words, which name no corner.
            LineReader words(reader.rest());
            for (std::string_view word = words.word(); !word.empty(); word = words.word()) {
                std::string_view parts[3];
                for (int p = 0; p < 3; ++p) {
                    size_t slash = word.find('/');
                    parts[p] = word.substr(0, slash);
                    if (slash == std::string_view::npos) {
                        break;
                    }
                    word.remove_prefix(slash + 1);
                }
                corners.push_back(
                    Corner{cornerNumber(parts[0]), cornerNumber(parts[1]), cornerNumber(parts[2])});
            }
            face.cornerCount = corners.size() - face.firstCorner;
            faceLines.push_back(face);
        }
    });

    mesh.vertices.resize(positionsRead.size());
    for (size_t i = 0; i < positionsRead.size(); ++i) {
        mesh.vertices[i].position = positionsRead[i];
    }
    mesh.normals.assign(normalsRead.begin(), normalsRead.end());
    mesh.texcoords.push_back(vec4());
    mesh.texcoords.insert(mesh.texcoords.end(), texcoordsRead.begin(), texcoordsRead.end());
    mesh.vertexCount = int32_t(mesh.vertices.size());
    mesh.normalCount = int32_t(mesh.normals.size());
    mesh.texcoordCount = int32_t(mesh.texcoords.size());

    // A corner never indexes with a number outside its array: a bad vertex drops the
    // whole face line (there is nothing to draw it with), a bad texture coordinate
    // becomes 0, the (0, 0) entry, and a bad normal becomes -1, none.
    for (const FaceLine& line : faceLines) {
        if (line.cornerCount < 3) {
            continue;
        }
        const Corner* c = &corners[line.firstCorner];
        bool verticesValid = true;
        for (size_t i = 0; i < line.cornerCount; ++i) {
            verticesValid = verticesValid && c[i].vertex >= 1 && c[i].vertex <= mesh.vertexCount;
        }
        if (!verticesValid) {
            continue;
        }
        auto store = [&](MeshFace& face, int slot, const Corner& corner) {
            face.vertexIndex[slot] = int32_t(corner.vertex - 1);
            bool texcoordValid = corner.texcoord >= 0 && corner.texcoord < mesh.texcoordCount;
            face.texcoordIndex[slot] = texcoordValid ? int32_t(corner.texcoord) : 0;
            bool normalValid = corner.normal >= 1 && corner.normal <= mesh.normalCount;
            face.normalIndex[slot] = normalValid ? int32_t(corner.normal - 1) : -1;
        };
        for (size_t i = 1; i + 1 < line.cornerCount; ++i) {
            MeshFace face;
            store(face, 0, c[0]);
            store(face, 1, c[i]);
            store(face, 2, c[i + 1]);
            face.cornerCount = 3;
            face.material = line.material;
            mesh.faces.push_back(face);
        }
    }
    mesh.faceCount = int32_t(mesh.faces.size());

    std::unordered_set<const Material*> used;
    for (const MeshFace& face : mesh.faces) {
        used.insert(face.material);
    }
    for (auto it = replaced.begin(); it != replaced.end();) {
        auto next = std::next(it);
        if (used.count(&*it) != 0) {
            mesh.materials.splice(mesh.materials.end(), replaced, it);
        }
        it = next;
    }

    mesh.deriveFromTriangles();
}

} // namespace lumo
