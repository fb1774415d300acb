#include "sys/aligned.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace lumo {
namespace {

uintptr_t address(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// The "THPeligible" line of the mapping that holds p, or "" when the kernel
// does not say.
std::string hugePageEligibility(const void* p) {
    std::ifstream maps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(maps, line)) {
        uintptr_t begin = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> begin >> dash >> end && dash == '-') {
            inside = address(p) >= begin && address(p) < end;
        } else if (inside && line.rfind("THPeligible:", 0) == 0) {
            return line;
        }
    }
    return "";
}

// Small blocks start on a cache line; blocks of 4 MB and more on a huge page,
// whole pages of their own that the kernel is asked to back with huge pages
// wherever it offers them. Both grow like any vector.
TEST(AlignedVector, LargeBlocksAreWholeHugePagesSmallOnesCacheLines) {
    AlignedVector<uint8_t> small(1000, 7);
    EXPECT_EQ(address(small.data()) % kCacheLine, 0u);

    AlignedVector<uint32_t> large((4u << 20) / 4, 0u);
    EXPECT_EQ(address(large.data()) % kHugePage, 0u);
    large.back() = 9;
    large.resize(large.size() * 3 / 2 + 1, 5u); // moves to a larger block
    EXPECT_EQ(address(large.data()) % kHugePage, 0u);
    EXPECT_EQ(large[(4u << 20) / 4 - 1], 9u);
    EXPECT_EQ(large.back(), 5u);

    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(setting, modes);
    if (modes.empty() || modes.find("[never]") != std::string::npos) {
        GTEST_SKIP() << "this kernel offers no transparent huge pages";
    }
    const std::string eligible = hugePageEligibility(large.data());
    if (eligible.empty()) {
        GTEST_SKIP() << "this kernel does not report huge page eligibility";
    }
    EXPECT_EQ(eligible.back(), '1') << eligible;
}

} // namespace
} // namespace lumo
