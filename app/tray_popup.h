// The window the panel opens in: frameless, next to the tray icon, gone when it loses focus.
// On X11 it is a real popup (closes on a click elsewhere); elsewhere (Wayland) a plain frameless
// tool window, because a popup without a parent window cannot be placed there.
#pragma once

#include <QPoint>
#include <QWidget>

namespace tessel {

class DataSyncService;

class TrayPopup : public QWidget {
    Q_OBJECT
public:
    explicit TrayPopup(DataSyncService* sync, QWidget* parent = nullptr);

    QWidget* panel() const { return panel_; }
    // Shows it next to `anchor` (global), kept on the screen that holds the anchor.
    void popUp(QPoint anchor);
    // Top-left corner for a popup of `size` next to `anchor` within `screen`.
    static QPoint placement(QPoint anchor, QSize size, QRect screen);

signals:
    void dashboardRequested();
    void checkForUpdatesRequested();
    void quitRequested();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* panel_;
};

} // namespace tessel
