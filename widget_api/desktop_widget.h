// The contract between the application and desktop widget plug-ins: what the widget is called,
// how often its timeline renews itself, and the session-bus signal that asks every host to
// reload it at once. Plain C++ so that plug-ins of any toolkit can include it.
#pragma once

#include <chrono>
#include <string_view>

namespace tessel::DesktopWidget {

inline constexpr std::string_view kind = "TesselDesktopWidget";
inline constexpr std::chrono::seconds timelineInterval{1200};

// ReloadTimelines(s kind), sent on the session bus when new data has been stored.
inline constexpr char objectPath[] = "/net/quorvane/TesselWidget";
inline constexpr char interfaceName[] = "net.quorvane.TesselWidget.WidgetCenter";
inline constexpr char reloadSignal[] = "ReloadTimelines";

} // namespace tessel::DesktopWidget
