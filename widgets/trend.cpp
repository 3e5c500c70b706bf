#include "widgets/trend.h"

#include <algorithm>
#include <cmath>

namespace tessel {

namespace {

using Point = Trend::Point;

std::int64_t secondsOf(const UsagePoint& point) {
    return std::chrono::duration_cast<std::chrono::seconds>(point.time.time_since_epoch()).count();
}

Point pointOf(const UsagePoint& point, bool cost) {
    double value = cost ? point.cost.value_or(0) : double(point.tokens());
    if (!std::isfinite(value))
        value = 0;
    return {secondsOf(point), value};
}

// `count` points in time order, `at(i)` the i-th of them.
template <class At> Trend reduce(std::size_t count, At at) {
    Trend trend;
    if (count == 0)
        return trend;
    trend.first = at(0).time;
    trend.last = at(count - 1).time;
    constexpr std::size_t steps = 1024;
    if (count <= steps) {
        trend.points.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            trend.points.push_back(at(i));
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
    Point current = at(0);
    while (i < count) {
        const std::size_t step = stepOf(current);
        std::size_t lowAt = i, highAt = i;
        Point low = current, high = current;
        for (++i; i < count && stepOf(current = at(i)) == step; ++i) {
            if (current.value < low.value)
                low = current, lowAt = i;
            if (current.value > high.value)
                high = current, highAt = i;
        }
        trend.points.push_back(lowAt <= highAt ? low : high);
        if (lowAt != highAt)
            trend.points.push_back(lowAt < highAt ? high : low);
    }
    trend.points.shrink_to_fit();
    return trend;
}

} // namespace

Trend trendOf(const std::vector<UsagePoint>& series, bool cost) {
    const std::size_t n = series.size();
    // In time order already, or newest first as a gateway may list them (strictly, so that
    // reading it backwards is what a stable sort would give): no copy of the series.
    bool ascending = true, descending = true;
    for (std::size_t i = 1; i < n && (ascending || descending); ++i) {
        ascending = ascending && secondsOf(series[i - 1]) <= secondsOf(series[i]);
        descending = descending && secondsOf(series[i - 1]) > secondsOf(series[i]);
    }
    if (ascending)
        return reduce(n, [&](std::size_t i) { return pointOf(series[i], cost); });
    if (descending)
        return reduce(n, [&](std::size_t i) { return pointOf(series[n - 1 - i], cost); });
    std::vector<Point> samples;
    samples.reserve(n);
    for (const UsagePoint& point : series)
        samples.push_back(pointOf(point, cost));
    std::stable_sort(samples.begin(), samples.end(),
                     [](const Point& a, const Point& b) { return a.time < b.time; });
    return reduce(n, [&](std::size_t i) { return samples[i]; });
}

} // namespace tessel
