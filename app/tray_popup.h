// The window the panel opens in: frameless, next to the tray icon, gone when it loses focus.
// On X11 it is a real popup (closes on a click elsewhere); elsewhere (Wayland) a plain frameless
// tool window, because a popup without a parent window cannot be placed there.
#pragma once

#include <QRect>
#include <QWidget>

namespace tessel {

class DataSyncService;

class TrayPopup : public QWidget {
    Q_OBJECT
public:
    explicit TrayPopup(DataSyncService* sync, QWidget* parent = nullptr);

    QWidget* panel() const { return panel_; }
    // Shows it beside `anchor` (the icon's rectangle, global), kept on the anchor's screen.
    void popUp(QRect anchor);
    // Top-left corner for a popup of `size` beside `anchor` within `screen`.
    static QPoint placement(QRect anchor, QSize size, QRect screen);

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
