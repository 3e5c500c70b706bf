// The two sections of the dashboard that other views fill: settings and diagnostics, and the
// widget display settings under the title "小组件展示设置".
#pragma once

#include <QString>

class QWidget;

namespace tessel {

class DataSyncService;
class ShellSettings;
class UpdateController;

namespace Sections {
inline constexpr char widgetsTitle[] = "小组件展示设置";
inline constexpr char settingsTitle[] = "设置与诊断";

QWidget* settings(DataSyncService* sync, UpdateController* updates, ShellSettings* shell);
QWidget* widgets(DataSyncService* sync);
} // namespace Sections

} // namespace tessel
