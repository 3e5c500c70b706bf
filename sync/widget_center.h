// Reload requests for the desktop widget host, sent as a session-bus signal.
#pragma once

#include <string_view>

#include "widget_api/desktop_widget.h"

namespace tessel::WidgetCenter {

// Fire and forget: without a session bus nothing happens and nothing fails.
void reloadTimelines(std::string_view kind);

// Blocks until the bus has taken every request sent so far; for processes about to exit.
void flush();

} // namespace tessel::WidgetCenter
