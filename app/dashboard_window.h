// The dashboard window ("dashboard"): title "Tessel Widget", 1030 x 740 by default, its own
// appearance, an application menu with About and "检查更新…". Showing it starts the sync loop.
#pragma once

#include <QMainWindow>

#include <vector>

#include "model/records.h"

class QGridLayout;
class QLabel;

namespace tessel {

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

    // Shows, raises and activates the window (restoring it when minimised).
    void bringForward();

signals:
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applyAppearance();
    void showAbout();
    void update();
    void updateCards();

    DataSyncService* sync_;
    ShellSettings* settings_;
    QLabel* status_ = nullptr;
    QLabel* section_ = nullptr;
    QLabel* issue_ = nullptr;
    QGridLayout* cards_ = nullptr;
    std::vector<Quota> shown_;
};

} // namespace tessel
