// The widgets' short texts for instants and quota windows.
#pragma once

#include <string>

#include "model/records.h"

namespace tessel::WidgetText {

// Hour and minute, two digits each, 24-hour, in the user's locale and time zone ("09:05").
std::string clock(Instant instant);
// Month, day, hour and minute, two digits each, 24-hour, in the locale's order ("03/01 09:05").
std::string reset(Instant instant);
// "—", "无限制", or the remaining percent without decimals ("42%").
std::string remaining(const QuotaWindow* window);
// The "%.0f%%" text of a percentage.
std::string percent(double value);

} // namespace tessel::WidgetText
