#include "params/varpile.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <filesystem>
#include <fstream>
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

TEST(VarPile, MissingFileGivesEmptyPileAndLookupsInsert) {
    VarPile pile("/nonexistent/dir/", "varpile.txt");
    EXPECT_EQ(pile.path, "/nonexistent/dir/varpile.txt");
    EXPECT_TRUE(pile.values.empty());
    EXPECT_EQ(pile.get("light_x"), 0.0f);
    EXPECT_EQ(pile.values.count("light_x"), 1u);
    pile.get("light_x") = 4.0f; // a reference into the pile
    EXPECT_EQ(pile.get("light_x"), 4.0f);
}

TEST(VarPile, ReadsTheFileOnceFromDirectoryPlusName) {
    fs::path dir = fs::temp_directory_path() / ("lumo_varpile_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "varpile.txt", std::ios::binary) << "show_threads 1 # markers\r\nscale 2.5";
    VarPile pile(dir.string() + "/", "varpile.txt");
    EXPECT_EQ(pile.get("show_threads"), 1.0f);
    EXPECT_EQ(pile.get("scale"), 2.5f);
    fs::remove_all(dir);
}

TEST(VarPile, LineEndsCommentsAndRepeats) {
    std::string lf = "a 1\n\n# only a comment\nb 2 # c 3\n  \t d\t-4.5 trailing words\na 7\ne 9";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    for (const std::string& text : {lf, crlf}) {
        VarPile p = pileOf(text);
        EXPECT_EQ(p.values.size(), 4u);
        EXPECT_EQ(p.values.at("a"), 7.0f); // the last line for a name wins
        EXPECT_EQ(p.values.at("b"), 2.0f);
        EXPECT_EQ(p.values.count("c"), 0u);
        EXPECT_EQ(p.values.at("d"), -4.5f);
        EXPECT_EQ(p.values.at("e"), 9.0f); // last line without a line feed
    }
    EXPECT_TRUE(pileOf("").values.empty());
    EXPECT_TRUE(pileOf("# one\n#two\n\n").values.empty());
}

TEST(VarPile, NumberFormsAndNamesWithoutNumbers) {
    VarPile p = pileOf("i 1\nn -0.25\nt 3.\nh .5\ne 2e3\nE -1.5E-2\np +4\n"
                       "word light_x1.5\nnothing\njunk abc\nx 12abc\nexp 3e\nbig 1e40\ntiny 1e-60\n"
                       "huge 1e400\nLight_x 5\nlight_x1.5\n");
    // A single word with digits in it is a name without a number; names are case-sensitive.
    const std::pair<const char*, float> expected[] = {
        {"i", 1.0f},         {"n", -0.25f},  {"t", 3.0f},       {"h", 0.5f},
        {"e", 2000.0f},      {"E", -0.015f}, {"p", 4.0f},       {"word", 0.0f},
        {"nothing", 0.0f},   {"junk", 0.0f}, {"x", 12.0f},      {"exp", 3.0f},
        {"big", FLT_MAX},    {"tiny", 0.0f}, {"huge", FLT_MAX}, {"Light_x", 5.0f},
        {"light_x1.5", 0.0f}};
    for (auto [name, value] : expected) {
        EXPECT_EQ(p.values.at(name), value) << name;
    }
    EXPECT_EQ(p.values.size(), std::size(expected));
}

TEST(VarPile, GetVecLooksUpThreeNames) {
    VarPile p = pileOf("greet_pos_x 1\ngreet_pos_z 3\n");
    vec4 v = p.getVec("greet_pos");
    EXPECT_EQ(v, vec4(1, 0, 3, 0));
    EXPECT_EQ(p.values.count("greet_pos_y"), 1u);
}
