// The tray entry: icon with the menu-bar title, tooltip, and a menu that holds every action of
// the panel (some desktops show only the menu, never the panel).
#pragma once

#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

#include "app/tray_icon.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace tessel {

class DataSyncService;
class ShellSettings;

class Tray : public QObject {
    Q_OBJECT
public:
    // Whether the desktop has a tray host now; QSystemTrayIcon's answer unless given.
    using Probe = std::function<bool()>;

    Tray(DataSyncService* sync, ShellSettings* settings, Probe probe = {},
         QObject* parent = nullptr);
    ~Tray() override;

    // Shown while "showMenuBar" is on and the desktop has a tray.
    bool isVisible() const;
    // Where the tray host put the icon; empty until it is embedded.
    QRect geometry() const;
    QString title() const { return title_; }
    // Drawn into the icon: an issue, old data, or neither.
    TrayIcon::State state() const;
    QString toolTip() const;
    QMenu* menu() const { return menu_; }

signals:
    // `anchor`: the icon's rectangle in global coordinates (the cursor when the tray won't say).
    void panelRequested(QRect anchor);
    void dashboardRequested();
    void settingsRequested();
    void checkForUpdatesRequested();
    void quitRequested();
    void visibilityChanged(bool visible);

private slots:
    void updateVisibility();

private:
    void update();
    void followHosts();
    QAction* add(const QString& text, const QString& symbol);

    DataSyncService* sync_;
    ShellSettings* settings_;
    Probe probe_;
    QSystemTrayIcon* icon_;
    QMenu* menu_;
    QAction* refresh_ = nullptr;
    QTimer* staleCheck_ = nullptr;
    QString title_;
    TrayIcon::State state_ = TrayIcon::State::Current;
    bool visible_ = false;
};

} // namespace tessel
