// libFuzzer target for the MTL reader alone: the input is the MTL text. Besides the
// sanitizers' checks, the result must hold together, and the same text with every line
// feed turned into CR LF must read exactly alike.

#include "assets/obj.h"
#include "sys/log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <string_view>

namespace {

constexpr int32_t kTextureIndex = 7;

std::list<lumo::Material> read(std::string_view text) {
    return lumo::parseMtl(text, [](std::string_view name) {
        // A name is one word: no blank, and a comment never reaches it.
        if (name.find_first_of(" \t\r\n\v\f#") != std::string_view::npos) {
            std::abort();
        }
        return kTextureIndex;
    });
}

bool sameBits(const lumo::vec4& a, const lumo::vec4& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same(const lumo::Material& a, const lumo::Material& b) {
    return sameBits(a.ambient, b.ambient) && sameBits(a.diffuse, b.diffuse) &&
           sameBits(a.specular, b.specular) && std::memcmp(&a.dissolve, &b.dissolve, 4) == 0 &&
           a.shininess == b.shininess && a.textureIndex == b.textureIndex &&
           a.shaderType == b.shaderType && a.ns == b.ns && a.name == b.name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::list<lumo::Material> materials = read(text);

    if (materials.empty()) {
        std::abort();
    }
    for (const lumo::Material& m : materials) {
        if ((m.textureIndex != 0 && m.textureIndex != kTextureIndex) ||
            m.name.find_first_of(" \t\r\n\v\f#") != std::string::npos) {
            std::abort();
        }
    }

    if (text.find('\r') == std::string_view::npos) {
        std::string crlf;
        for (char c : text) {
            crlf += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
        }
        std::list<lumo::Material> again = read(crlf);
        if (again.size() != materials.size()) {
            std::abort();
        }
        for (auto a = materials.begin(), b = again.begin(); a != materials.end(); ++a, ++b) {
            if (!same(*a, *b)) {
                std::abort();
            }
        }
    }
    return 0;
}
