#include "params/varpile.h"

#include <cfloat>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string_view>

namespace lumo {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether digits (a mantissa, its point included) times ten to the exponent
// written in exponentDigits (signed, possibly empty) is below 1. Used only on
// numbers past double's range, which are far from 1 either way, so the power of
// ten of the first nonzero digit plus the exponent decides; the exponent's sign
// alone does not ("0.000...01e+5" is tiny, "1000...00e-10" is huge).
bool isBelowOne(std::string_view digits, std::string_view exponentDigits) {
    size_t point = digits.find('.');
    if (point == std::string_view::npos) {
        point = digits.size();
    }
    size_t first = digits.find_first_not_of("0.");
    if (first == std::string_view::npos) {
        return true; // all zeros
    }
    // The power of ten of the first nonzero digit.
    const int64_t lead = first < point ? int64_t(point - first) - 1 : -int64_t(first - point);
    int64_t exponent = 0;
    bool negative = !exponentDigits.empty() && exponentDigits[0] == '-';
    for (char c : exponentDigits) {
        // Saturates far beyond any length of digits a string can hold.
        if (isDigit(c) && exponent < (int64_t(1) << 60) / 10) {
            exponent = exponent * 10 + (c - '0');
        }
    }
    return lead + (negative ? -exponent : exponent) < 0;
}

// Reads a number the way formatted stream input reads a float: optional sign,
// digits with an optional point and fraction (at least one digit), optional
// exponent. Locale-independent on purpose: a desktop locale with a decimal
// comma must not change what the file means. Returns 0.0 when there is none.
// Magnitudes beyond float's range saturate to +-FLT_MAX; those below its
// smallest denormal become a zero of the number's sign.
float readNumber(const std::string& s, size_t pos) {
    const size_t start = pos;
    const bool negative = pos < s.size() && s[pos] == '-';
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        ++pos;
    }
    const size_t mantissa = pos;
    size_t digits = 0;
    while (pos < s.size() && isDigit(s[pos])) {
        ++pos, ++digits;
    }
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        while (pos < s.size() && isDigit(s[pos])) {
            ++pos, ++digits;
        }
    }
    if (digits == 0) {
        return 0.0f;
    }
    const size_t mantissaEnd = pos;
    size_t exponent = pos;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        size_t e = pos + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) {
            ++e;
        }
        if (e < s.size() && isDigit(s[e])) {
            exponent = pos + 1;
            pos = e;
            while (pos < s.size() && isDigit(s[pos])) {
                ++pos;
            }
        }
    }
    const char* first = s.data() + start;
    if (*first == '+') {
        ++first;
    }
    double value = 0.0;
    auto [end, error] = std::from_chars(first, s.data() + pos, value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Past double's range from_chars leaves no value behind.
        std::string_view view(s);
        bool tiny = isBelowOne(view.substr(mantissa, mantissaEnd - mantissa),
                               view.substr(exponent, pos - exponent));
        return tiny ? (negative ? -0.0f : 0.0f) : (negative ? -FLT_MAX : FLT_MAX);
    }
    if (value > FLT_MAX) {
        return FLT_MAX;
    }
    if (value < -FLT_MAX) {
        return -FLT_MAX;
    }
    return float(value);
}

} // namespace

VarPile::VarPile(const std::string& directory_, const std::string& fileName_)
    : directory(directory_), fileName(fileName_), path(directory_ + fileName_) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    parse(text);
}

void VarPile::parse(const std::string& text) {
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.resize(hash);
        }
        size_t pos = 0;
        while (pos < line.size() && isSpace(line[pos])) {
            ++pos;
        }
        size_t nameStart = pos;
        while (pos < line.size() && !isSpace(line[pos])) {
            ++pos;
        }
        if (pos == nameStart) {
            continue;
        }
        std::string name = line.substr(nameStart, pos - nameStart);
        while (pos < line.size() && isSpace(line[pos])) {
            ++pos;
        }
        values[name] = readNumber(line, pos);
    }
}

float& VarPile::get(const std::string& name) {
    return values.try_emplace(name, 0.0f).first->second;
}

vec4 VarPile::getVec(const std::string& baseName) {
    float x = get(baseName + "_x");
    float y = get(baseName + "_y");
    float z = get(baseName + "_z");
    return vec4(x, y, z, 0.0f);
}

} // namespace lumo
