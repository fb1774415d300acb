#pragma once
// Summaries of measured times: the median and nearest-rank percentiles. Both
// take their values by copy, since they sort them.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace lumo {

// The middle value; for an even count, the mean of the two middle ones. 0 for
// no values.
inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The nearest-rank percentile: the smallest value with at least `percent` per
// cent of the values at or below it (the smallest value for percent <= 0). 0
// for no values.
inline double percentile(std::vector<double> values, double percent) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(percent / 100.0 * double(values.size()));
    const double clamped = std::clamp(rank, 1.0, double(values.size()));
    return values[size_t(clamped) - 1];
}

} // namespace lumo
