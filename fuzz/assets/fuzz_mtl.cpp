// libFuzzer target for the MTL reader alone: the input is the MTL text. Besides the
// sanitizers' checks, the result must hold together, and the same text with every line
// feed turned into CR LF must read exactly alike.

#include "assets/obj.h"
#include "fuzz/require.h"
#include "sys/log.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <list>
#include <string>
#include <string_view>

using lumo::fuzz::require;

namespace {

constexpr int32_t kTextureIndex = 7;
constexpr const char* kBlanks = " \t\r\n\v\f#";

std::list<lumo::Material> read(std::string_view text) {
    return lumo::parseMtl(text, [](std::string_view name) {
        // A name is one word: no blank, and a comment never reaches it.
        require(name.find_first_of(kBlanks) == std::string_view::npos);
        return kTextureIndex;
    });
}

bool same(const lumo::Material& a, const lumo::Material& b) {
    auto bits = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return bits(a.ambient, b.ambient) && bits(a.diffuse, b.diffuse) &&
           bits(a.specular, b.specular) && bits(a.dissolve, b.dissolve) &&
           bits(a.shininess, b.shininess) && a.textureIndex == b.textureIndex &&
           a.shaderType == b.shaderType && a.ns == b.ns && a.name == b.name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::list<lumo::Material> materials = read(text);
    require(!materials.empty());
    for (const lumo::Material& m : materials) {
        require((m.textureIndex == 0 || m.textureIndex == kTextureIndex) &&
                m.name.find_first_of(kBlanks) == std::string::npos);
    }
    if (text.find('\r') == std::string_view::npos) {
        std::string crlf;
        for (char c : text) {
            crlf += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
        }
        const std::list<lumo::Material> again = read(crlf);
        require(std::equal(materials.begin(), materials.end(), again.begin(), again.end(), same));
    }
    return 0;
}
