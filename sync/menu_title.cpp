#include "sync/menu_title.h"

#include <cmath>
#include <cstdint>

namespace tessel {

namespace {
constexpr const char* fallback = "Tessel";
} // namespace

const Quota* menuBarQuota(const Snapshot& snapshot, std::string_view menuQuota) {
    if (menuQuota.empty())
        return snapshot.quotas.empty() ? nullptr : &snapshot.quotas.front();
    for (const Quota& quota : snapshot.quotas) {
        if (quota.id() == menuQuota)
            return &quota;
    }
    return nullptr;
}

const Quota* menuBarQuota(const SharedSnapshot& snapshot, std::string_view menuQuota) {
    const std::vector<Quota>& quotas = snapshot.snapshot().quotas;
    if (menuQuota.empty())
        return quotas.empty() ? nullptr : &quotas.front();
    return snapshot.quota(menuQuota);
}

std::string menuBarSubscription(const Snapshot& snapshot, std::string_view menuQuota) {
    return menuBarSubscription(menuBarQuota(snapshot, menuQuota));
}

std::string menuBarSubscription(const Quota* quota) {
    if (!quota || !quota->windows || quota->windows->empty())
        return {};
    const std::string& window = quota->windows->front().name;
    return window.empty() ? quota->title() : quota->title() + " · " + window;
}

std::optional<double> menuBarPercent(const Snapshot& snapshot, std::string_view menuQuota) {
    return menuBarPercent(menuBarQuota(snapshot, menuQuota));
}

std::optional<double> menuBarPercent(const Quota* quota) {
    if (!quota || !quota->windows || quota->windows->empty())
        return std::nullopt;
    const std::optional<double> percent = quota->windows->front().remainingPercent();
    // Converting a value outside the integer range is undefined; such gateway values are
    // nonsense anyway, so the title stays neutral.
    constexpr double limit = 9.2e18;
    if (!percent || !std::isfinite(*percent) || std::abs(std::trunc(*percent)) >= limit)
        return std::nullopt;
    return percent;
}

std::string menuBarTitle(const Snapshot& snapshot, std::string_view menuQuota) {
    return menuBarTitle(menuBarQuota(snapshot, menuQuota));
}

std::string menuBarTitle(const Quota* quota) {
    const std::optional<double> percent = menuBarPercent(quota);
    if (!percent)
        return fallback;
    // The title drops the fraction (42.9 reads 42): a tray never promises more than is left.
    return std::to_string(static_cast<std::int64_t>(std::trunc(*percent))) + "%";
}

} // namespace tessel
