// The widget reload request: ReloadTimelines(s kind) on the session bus, under the names of the
// plug-in contract (widget_api/desktop_widget.h). The one sender for the sync service and the
// widget plug-in.
#pragma once

#include <string_view>

namespace tessel::ReloadSignal {

// Fire and forget: without an application object or a session bus nothing happens and nothing
// fails.
void send(std::string_view kind);

} // namespace tessel::ReloadSignal
