#include "sync/menu_title.h"

#include <cmath>

#include "model/display.h"

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

std::string menuBarSubscription(const Snapshot& snapshot, std::string_view menuQuota) {
    const Quota* quota = menuBarQuota(snapshot, menuQuota);
    if (!quota || !quota->windows || quota->windows->empty())
        return {};
    const std::string& window = quota->windows->front().name;
    return window.empty() ? quota->title() : quota->title() + " · " + window;
}

std::string menuBarTitle(const Snapshot& snapshot, std::string_view menuQuota) {
    const Quota* quota = menuBarQuota(snapshot, menuQuota);
    if (!quota || !quota->windows || quota->windows->empty())
        return fallback;
    const std::optional<double> percent = quota->windows->front().remainingPercent();
    if (!percent || !std::isfinite(*percent))
        return fallback;
    // Values beyond any integer are gateway nonsense; a title of hundreds of digits is no use.
    constexpr double limit = 9.2e18;
    if (*percent >= limit || *percent <= -limit)
        return fallback;
    return Display::percent(*percent) + "%";
}

} // namespace tessel
