// The dashboard window ("dashboard"): title "Tessel Widget", 1030 x 740 by default and where the
// user left it since, its own appearance, an application menu with About and "检查更新…".
// Showing it starts the sync loop; its content is made anew each time it opens after a close.
#pragma once

#include <QMainWindow>

namespace tessel {

class DashboardView;
class DataSyncService;
class ShellSettings;
class UpdateController;

class DashboardWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{1030, 740};
    static constexpr QSize minimumSize{780, 580};

    DashboardWindow(DataSyncService* sync, UpdateController* updates, ShellSettings* settings,
                    QWidget* parent = nullptr);
    ~DashboardWindow() override;

    // Shows, raises and activates the window (restoring it when minimised).
    void bringForward();

    DashboardView* view() const { return view_; }
    // Where the window's size and position are kept: $XDG_STATE_HOME/quorvane/ (else
    // ~/.local/state/quorvane/), apart from the settings that other views watch.
    static QString statePath();

signals:
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyAppearance();
    void showAbout();
    void makeView();
    void keepGeometry() const;

    DataSyncService* sync_;
    UpdateController* updates_;
    ShellSettings* settings_;
    DashboardView* view_ = nullptr;
    bool closed_ = false;
};

} // namespace tessel
