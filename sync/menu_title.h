// The short text beside the tray icon.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/snapshot.h"
#include "sync/shared_snapshot.h"

namespace tessel {

// Below this remaining share the tray's subscription counts as low: the application warns, and
// status bars get the class "low".
inline constexpr double lowQuotaPercent = 15;

// "42%" for the chosen quota's first window, else "Tessel". `menuQuota` is the "menuQuota"
// setting: empty picks the first quota, anything else must match a Quota::id() exactly.
std::string menuBarTitle(const Snapshot& snapshot, std::string_view menuQuota);

// The quota the title is taken from; null when the title is "Tessel" for want of one.
const Quota* menuBarQuota(const Snapshot& snapshot, std::string_view menuQuota);

// The remaining share the title shows, unrounded; empty when the title is "Tessel".
std::optional<double> menuBarPercent(const Snapshot& snapshot, std::string_view menuQuota);

// Whose number the title is, for tooltips: "主力订阅 · 5 小时" (the quota's title and its first
// window's name); empty without a quota or a window.
std::string menuBarSubscription(const Snapshot& snapshot, std::string_view menuQuota);

// The same rules for the service's published snapshot, found through its index: a lookup costs
// the same with a hundred thousand subscriptions as with three.
const Quota* menuBarQuota(const SharedSnapshot& snapshot, std::string_view menuQuota);
std::string menuBarTitle(const Quota* quota);
std::optional<double> menuBarPercent(const Quota* quota);
std::string menuBarSubscription(const Quota* quota);

} // namespace tessel
