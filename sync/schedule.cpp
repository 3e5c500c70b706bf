#include "sync/schedule.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace tessel::Schedule {

int clampInterval(long long seconds) {
    return static_cast<int>(std::clamp<long long>(seconds, smallestInterval, INT_MAX));
}

int intervalFrom(const QVariant& stored) {
    if (!stored.isValid())
        return defaultInterval;
    bool ok = false;
    const double seconds = stored.toDouble(&ok);
    // The settings file is hand-editable: anything unreadable falls back quietly.
    if (!ok || !std::isfinite(seconds) || seconds == 0)
        return defaultInterval;
    if (seconds >= INT_MAX)
        return INT_MAX;
    return clampInterval(static_cast<long long>(seconds));
}

std::chrono::seconds wait(int interval, int failures) {
    const long long base = std::max(interval, smallestInterval);
    const int exponent = std::clamp(failures, 0, largestExponent);
    return std::min(std::chrono::seconds(base << exponent), longestWait);
}

} // namespace tessel::Schedule
