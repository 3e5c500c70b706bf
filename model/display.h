// Texts for costs and counts shared by the dashboard and the widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

namespace Display {
inline constexpr std::string_view placeholder = "\u2014";

// Both follow the user's current locale, read at every call.
std::string money(std::optional<double> value);
std::string number(std::optional<std::int64_t> value);

// The locale the user set for a POSIX category ("LC_TIME", ...), as an ICU name such as "zh_CN":
// LC_ALL, then the category, then LANG; "C", "POSIX" and unset mean "en_US".
std::string localeName(const char* category);

// A percentage as every view and tesselctl write it, without the "%": C's "%.0f", so halves go
// to the even neighbour (62.5 gives "62", 63.5 "64") the same way everywhere.
std::string percent(double value);
} // namespace Display

} // namespace tessel
