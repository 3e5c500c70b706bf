#include "widgets/trend.h"

#include <algorithm>
#include <cmath>

namespace tessel {

Trend trendOf(const std::vector<UsagePoint>& series, bool cost) {
    using Point = Trend::Point;
    std::vector<Point> samples;
    samples.reserve(series.size());
    for (const UsagePoint& point : series) {
        double value = cost ? point.cost.value_or(0) : double(point.tokens());
        if (!std::isfinite(value))
            value = 0;
        samples.push_back(
            {std::chrono::duration_cast<std::chrono::seconds>(point.time.time_since_epoch())
                 .count(),
             value});
    }
    const auto earlier = [](const Point& a, const Point& b) { return a.time < b.time; };
    // Newest first, as a gateway may list them: reversed, strictly decreasing times are what the
    // stable sort would give, at a fraction of its cost.
    if (std::adjacent_find(samples.begin(), samples.end(), [](const Point& a, const Point& b) {
            return a.time <= b.time;
        }) == samples.end())
        std::reverse(samples.begin(), samples.end());
    else if (!std::is_sorted(samples.begin(), samples.end(), earlier))
        std::stable_sort(samples.begin(), samples.end(), earlier);
    Trend trend;
    if (samples.empty())
        return trend;
    trend.first = samples.front().time;
    trend.last = samples.back().time;
    constexpr std::size_t steps = 1024;
    if (samples.size() <= steps) {
        trend.points = std::move(samples);
        return trend;
    }
    // The chart's own placement, so that each point falls into the step it is drawn in.
    const double first = double(trend.first);
    const double span = double(trend.last) - first;
    const auto stepOf = [&](const Point& p) {
        return std::min(steps - 1,
                        std::size_t((span > 0 ? (double(p.time) - first) / span : 0.5) * steps));
    };
    std::size_t i = 0;
    while (i < samples.size()) {
        const std::size_t step = stepOf(samples[i]);
        std::size_t low = i, high = i;
        for (++i; i < samples.size() && stepOf(samples[i]) == step; ++i) {
            if (samples[i].value < samples[low].value)
                low = i;
            if (samples[i].value > samples[high].value)
                high = i;
        }
        trend.points.push_back(samples[std::min(low, high)]);
        if (low != high)
            trend.points.push_back(samples[std::max(low, high)]);
    }
    trend.points.shrink_to_fit();
    return trend;
}

} // namespace tessel
