#include "sync/menu_title.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace tessel {

namespace {
constexpr const char* fallback = "Tessel";

const Quota* pick(const Snapshot& snapshot, std::string_view menuQuota) {
    if (menuQuota.empty())
        return snapshot.quotas.empty() ? nullptr : &snapshot.quotas.front();
    for (const Quota& quota : snapshot.quotas) {
        if (quota.id() == menuQuota)
            return &quota;
    }
    return nullptr;
}
} // namespace

std::string menuBarTitle(const Snapshot& snapshot, std::string_view menuQuota) {
    const Quota* quota = pick(snapshot, menuQuota);
    if (!quota || !quota->windows || quota->windows->empty())
        return fallback;
    const std::optional<double> percent = quota->windows->front().remainingPercent();
    if (!percent || !std::isfinite(*percent))
        return fallback;
    const double whole = std::trunc(*percent);
    // Converting a value outside the integer range is undefined; such gateway values are
    // nonsense anyway, so the title stays neutral.
    constexpr double limit = 9.2e18;
    if (whole >= limit || whole <= -limit)
        return fallback;
    return std::to_string(static_cast<std::int64_t>(whole)) + "%";
}

} // namespace tessel
