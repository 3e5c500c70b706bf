// Texts for costs and counts shared by the dashboard and the widgets.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

namespace DesktopWidget {
inline constexpr std::string_view kind = "TesselDesktopWidget";
inline constexpr std::chrono::seconds timelineInterval{1200};
} // namespace DesktopWidget

namespace Display {
inline constexpr std::string_view placeholder = "\u2014";

// Both follow the user's current locale, read at every call.
std::string money(std::optional<double> value);
std::string number(std::optional<std::int64_t> value);
} // namespace Display

} // namespace tessel
