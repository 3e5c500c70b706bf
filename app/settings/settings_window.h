// The application's settings window: the settings form on its own, opened from the tray's
// "设置". Follows the desktop's palette; the appearance setting is the dashboard's.
#pragma once

#include <QWidget>

namespace tessel {

class DataSyncService;
class SettingsView;
class ShellSettings;
class UpdateController;

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{640, 760};

    SettingsWindow(DataSyncService* sync, ShellSettings* settings, UpdateController* updates,
                   QWidget* parent = nullptr);

    SettingsView* view() const { return view_; }
    // Shows the window, or raises it when it is open already.
    void bringForward();

private:
    SettingsView* view_;
};

} // namespace tessel
