// The host starts with the session while at least one widget is placed: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/net.quorvane.TesselWidget.WidgetHost.desktop.
#pragma once

#include <QString>

namespace tessel::host::Autostart {

inline constexpr char fileName[] = "net.quorvane.TesselWidget.WidgetHost.desktop";

// Empty without a configuration directory.
QString entryPath();

// Writes (atomically) or removes the entry; `program` is the host's binary. False on failure.
bool set(bool on, const QString& program);

// Whether the entry is there and starts `program`, exactly as set() writes it.
bool starts(const QString& program);

} // namespace tessel::host::Autostart
