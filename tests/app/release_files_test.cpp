// What an install carries besides the program: icons scaled from a frame, and
// the manual page made from --help.

#include "app/options.h"
#include "app/release_files.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lumo;

TEST(Icon, TheCentredSquareScaledByAreaMeans) {
    // 6 x 4: a 4 x 4 square in the middle, columns 0 and 5 outside it.
    const uint32_t outside = 0xFFFFFF, a = 0x102030, b = 0x30A050;
    std::vector<uint32_t> picture(8 * 4, 0xDEADBEEF); // stride 8: two pixels of padding
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            picture[size_t(y) * 8 + size_t(x)] = (x == 0 || x == 5) ? outside : (y < 2 ? a : b);
        }
    }
    EXPECT_EQ(squareIcon(picture.data(), 6, 4, 8, 4),
              std::vector<uint32_t>({a, a, a, a, a, a, a, a, b, b, b, b, b, b, b, b}));
    EXPECT_EQ(squareIcon(picture.data(), 6, 4, 8, 2), std::vector<uint32_t>({a, a, b, b}));
    // 3 rows out of 4: the middle row is half a, half b.
    EXPECT_EQ(squareIcon(picture.data(), 6, 4, 8, 3)[4], 0x206040u);
    EXPECT_EQ(squareIcon(picture.data(), 6, 4, 8, 1), std::vector<uint32_t>({0x206040}));
}

TEST(Manual, SaysWhatHelpSays) {
    const std::string page = manualPage(usageText(), "1.2.3");
    EXPECT_EQ(page.rfind(".TH LUMO 6 \"\" \"lumo 1.2.3\" \"Games\"\n", 0), 0u);
    // Every option of --help, and every word of it, in the same order.
    std::istringstream help(usageText());
    size_t at = 0;
    int options = 0;
    for (std::string line; std::getline(help, line);) {
        if (line.rfind("  -", 0) == 0) {
            ++options;
            EXPECT_NE(page.find(".TP\n.B \\-", at), std::string::npos) << line;
        }
        if (line.rfind("usage:", 0) == 0) {
            continue;
        }
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            std::string escaped;
            for (char c : word) {
                escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            }
            size_t found = page.find(escaped, at);
            ASSERT_NE(found, std::string::npos) << "'" << word << "' of: " << line;
            at = found + escaped.size();
        }
    }
    EXPECT_GE(options, 12);
    // No line of text starts as a roff request would.
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.empty() || line[0] != '\'') << line;
    }
}
