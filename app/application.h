// The application: one sync service and one update controller for the program's life, the
// tray entry with its popup, and the one dashboard window, created on first use.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "sync/data_sync_service.h"

class QTimer;

namespace tessel {

class DashboardWindow;
class SettingsWindow;
class ShellSettings;
class Tray;
class TrayPopup;
class UpdateController;

class TesselWidgetApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        DataSyncService::Options sync;
        // How long start() waits for a tray host before it opens the dashboard instead; unset:
        // a few seconds, none on platforms that never have a tray (offscreen, minimal).
        std::optional<std::chrono::milliseconds> trayWait;
        // Whether a tray host is there; QSystemTrayIcon's answer unless given.
        std::function<bool()> trayAvailable;
    };

    TesselWidgetApp();
    explicit TesselWidgetApp(Options options, QObject* parent = nullptr);
    ~TesselWidgetApp() override;

    DataSyncService& sync() { return *sync_; }
    UpdateController& updates() { return *updates_; }
    ShellSettings& settings() { return *settings_; }
    Tray& tray() { return *tray_; }
    DashboardWindow* dashboard() const;
    TrayPopup* popup() const;

    // Shows the tray entry, or the dashboard when no tray host comes up within the wait.
    void start();
    // A URL of our scheme selects its section, maybe refreshes, and brings the dashboard
    // forward; any other text changes nothing. Returns whether the URL was ours.
    bool openUrl(const QString& url);
    // What a second start handed over: its URL, or nothing (then the dashboard comes forward).
    void handleMessage(const QString& message);

    DashboardWindow* showDashboard();
    // The one settings window, created on first use.
    SettingsWindow* showSettings();
    SettingsWindow* settingsWindow() const;
    void showPanel(QRect anchor);

signals:
    void quitRequested();

private:
    void trayVisibilityChanged(bool visible);
    void startWithoutTray();

    std::unique_ptr<DataSyncService> sync_;
    UpdateController* updates_;
    ShellSettings* settings_;
    Tray* tray_;
    std::chrono::milliseconds trayWait_;
    // Runs while start() waits for a panel; stopped when one comes.
    QTimer* trayWaitTimer_ = nullptr;
    QPointer<TrayPopup> popup_;
    QPointer<DashboardWindow> dashboard_;
    QPointer<SettingsWindow> settingsWindow_;
};

} // namespace tessel
