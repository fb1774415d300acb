#include "params/varpile.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

using namespace lumo;
namespace fs = std::filesystem;

namespace {

VarPile pileOf(const std::string& text) {
    VarPile pile("/nonexistent/", "varpile.txt");
    pile.parse(text);
    return pile;
}

} // namespace

// The same lines from memory with LF ends and from directory + name with CR LF ends.
TEST(VarPile, LineEndsCommentsRepeatsAndTheFile) {
    const std::string lf = "a 1\n\n# only a comment\nb 2 # c 3\n  \t d\t-4.5 trailing words\n"
                           "a 7\ngreet_x 1\ngreet_z 3\ne 9";
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    fs::path dir = fs::temp_directory_path() / ("lumo_varpile_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "varpile.txt", std::ios::binary) << crlf;
    VarPile file(dir.string() + "/", "varpile.txt");
    fs::remove_all(dir);
    for (VarPile p : {pileOf(lf), file}) {
        EXPECT_EQ(p.values.size(), 6u);    // no "c"
        EXPECT_EQ(p.values.at("a"), 7.0f); // the last line for a name wins
        EXPECT_EQ(p.values.at("b"), 2.0f);
        EXPECT_EQ(p.values.at("d"), -4.5f);
        EXPECT_EQ(p.values.at("e"), 9.0f); // last line without a line feed
        EXPECT_EQ(p.getVec("greet"), vec4(1, 0, 3, 0));
    }
    EXPECT_TRUE(pileOf("# one\n#two\n\n").values.empty());

    VarPile missing("/nonexistent/dir/", "varpile.txt");
    EXPECT_TRUE(missing.values.empty());
    EXPECT_EQ(missing.get("light_x"), 0.0f); // a lookup inserts 0
    missing.get("light_x") = 4.0f;           // and hands out a reference into the pile
    EXPECT_EQ(missing.get("light_x"), 4.0f);
}

TEST(VarPile, NumberFormsAndNamesWithoutNumbers) {
    VarPile p = pileOf("n -0.25\nt 3.\nh .5\nE -1.5E-2\np +4\nword light_x1.5\nnothing\n"
                       "junk abc\nx 12abc\nexp 3e\nbig 1e40\ntiny 1e-60\nLight_x 5\nlight_x1.5\n");
    // A single word with digits in it is a name without a number; names are case-sensitive.
    const std::pair<const char*, float> expected[] = {
        {"n", -0.25f},    {"t", 3.0f},       {"h", 0.5f},       {"E", -0.015f},      {"p", 4.0f},
        {"word", 0.0f},   {"nothing", 0.0f}, {"junk", 0.0f},    {"x", 12.0f},        {"exp", 3.0f},
        {"big", FLT_MAX}, {"tiny", 0.0f},    {"Light_x", 5.0f}, {"light_x1.5", 0.0f}};
    for (auto [name, value] : expected) {
        EXPECT_EQ(p.values.at(name), value) << name;
    }
    EXPECT_EQ(p.values.size(), std::size(expected));
}

// Numbers outside float's range: past double's range from_chars gives no value
// at all, and the reader has to tell huge from tiny by itself.
TEST(VarPile, NumbersOutsideTheFloatRange) {
    const std::string zeros(400, '0');
    const float denormMin = std::numeric_limits<float>::denorm_min();
    const std::pair<std::string, float> cases[] = {
        {"1e-400", 0.0f},
        {"-1e-400", -0.0f},
        {"1e400", FLT_MAX},
        {"-1e400", -FLT_MAX},
        {"1E+400", FLT_MAX},
        {"2e-324", 0.0f}, // the first power below double's smallest denormal
        {"-2e-324", -0.0f},
        {"1.8e308", FLT_MAX},
        {"-1.8e308", -FLT_MAX},
        {"1e39", FLT_MAX}, // within double's range
        {"-1e39", -FLT_MAX},
        {"3.4028236e38", FLT_MAX}, // would round to infinity as a float
        {"1e-50", 0.0f},           // below float's denormals: rounds to a signed zero
        {"-1e-50", -0.0f},
        {"1.4e-45", denormMin},
        {"7.1e-46", denormMin}, // just above half the smallest denormal
        {"7e-46", 0.0f},        // just below it
        {"1.1754942e-38", 1.1754942e-38f},
        {"1e-99999999999999999999", 0.0f},
        {"-1e99999999999999999999", -FLT_MAX},
        // The exponent's sign alone does not decide: the digits count too.
        {"0." + zeros + "1", 0.0f},
        {"-0." + zeros + "1e+5", -0.0f},
        {"1" + zeros + "e-10", FLT_MAX},
        {"-1" + zeros, -FLT_MAX},
        {"0" + zeros + "1e-400", 0.0f},
        {"1" + zeros + "e-390", 1e10f},
        {"0e999999", 0.0f},
    };
    for (const auto& [number, expected] : cases) {
        const float got = pileOf("v " + number).get("v");
        EXPECT_EQ(got, expected) << number.substr(0, 40);
        EXPECT_EQ(std::signbit(got), std::signbit(expected)) << number.substr(0, 40);
    }
}
