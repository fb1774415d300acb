// libFuzzer target for the tweak file reader. Every value read must be finite
// (huge numbers saturate). An input of one line without a comment is also read
// as the number of a single name and compared with the C library's strtod,
// rounded to float the way the reader promises (the target runs in the C locale,
// so strtod reads a decimal point as the file does).

#include "fuzz/require.h"
#include "params/varpile.h"
#include "sys/log.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using lumo::fuzz::require;

namespace {

// The value strtod gives for the number at the start of text (after white
// space), when that number is written in the reader's plain decimal form.
bool oracle(const std::string& text, float& expected) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = std::strtod(begin, &end);
    for (const char* p = begin; p < end; ++p) {
        if (!std::strchr(" \t\v\f\r0123456789.eE+-", *p)) {
            return false; // hexadecimal, infinity or nan: not a form the file has
        }
    }
    expected = float(std::clamp(value, -double(FLT_MAX), double(FLT_MAX)));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumo::VarPile pile;
    pile.parse(text);
    for (const auto& [name, value] : pile.values) {
        require(!name.empty() && name.find_first_of(" \t\n\v\f\r#") == std::string::npos &&
                std::isfinite(value));
    }
    float expected = 0.0f;
    if (text.find_first_of("\n#") == std::string::npos && oracle(text, expected)) {
        lumo::VarPile one;
        one.parse("v " + text);
        const float got = one.get("v");
        require(std::memcmp(&got, &expected, sizeof got) == 0);
    }
    return 0;
}
