// A usage series as the trend chart draws it, made once when an entry is made.
#pragma once

#include <cstdint>
#include <vector>

#include "model/records.h"

namespace tessel {

struct Trend {
    struct Point {
        std::int64_t time = 0; // seconds since the epoch
        double value = 0;      // finite
        bool operator==(const Point&) const = default;
    };
    // What is drawn, in time order.
    std::vector<Point> points;
    // The whole series' span, which places the points along the chart.
    std::int64_t first = 0;
    std::int64_t last = 0;

    bool operator==(const Trend&) const = default;
};

// The cost or token figures of `series` in time order; beyond 1024 points only the lowest and the
// highest of each 1/1024 of the span, finer than any widget's pixels, so every peak still shows.
Trend trendOf(const std::vector<UsagePoint>& series, bool cost);

} // namespace tessel
