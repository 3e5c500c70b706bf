// Pictures of the real windows for looking at them: the panel, the dashboard and the tray icon
// on a dark and a light panel, for test builds: --screenshots DIR.
#pragma once

#include <QString>

namespace tessel {

class TesselWidgetApp;

// Waits for the first sync cycle (at most a few seconds), shows the windows, writes
// DIR/panel.png, DIR/dashboard.png, DIR/tray.png, the settings window light and dark
// (DIR/settings-*.png, DIR/settings-form-*.png) and the dashboard's sections in light and dark
// at its default and minimum sizes, then quits the application.
void takeScreenshots(TesselWidgetApp& app, const QString& dir);

} // namespace tessel
