// The window the panel opens in: frameless, next to the tray icon, gone when it loses focus.
// On X11 it is a real popup (closes on a click elsewhere); elsewhere (Wayland) a plain frameless
// tool window, because a popup without a parent window cannot be placed there. Its size is fixed
// at the panel's, which is also what makes a tiling compositor float it rather than tile it, and
// never more than the room beside the icon: a taller panel scrolls.
#pragma once

#include <QRect>
#include <QWidget>

class QScrollArea;

namespace tessel {

class DataSyncService;

class TrayPopup : public QWidget {
    Q_OBJECT
public:
    explicit TrayPopup(DataSyncService* sync, QWidget* parent = nullptr);

    QWidget* panel() const { return panel_; }
    // Shows it beside `anchor` (the icon's rectangle, global), kept on the anchor's screen.
    void popUp(QRect anchor);
    // Where a popup that wants `size` goes beside `anchor` within `area` (the screen's available
    // part): above or below the icon, never over it, and no taller than the room there.
    static QRect placement(QRect anchor, QSize size, QRect area);

signals:
    void dashboardRequested();
    void checkForUpdatesRequested();
    void quitRequested();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fit();

    QWidget* panel_;
    QScrollArea* scroll_;
    QRect anchor_;
};

} // namespace tessel
