// The tray popup: the last sync at a glance, the first subscriptions as compact cards, and the
// buttons that refresh, open the dashboard, check for updates and quit.
#pragma once

#include <QPointer>
#include <QWidget>

#include <vector>

#include "model/records.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tessel {

class DataSyncService;
class TextLabel;

class MenuPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 330;
    static constexpr int cardLimit = 3;

    explicit MenuPanel(DataSyncService* sync, QWidget* parent = nullptr);

    // Always panelWidth wide, as high as the content needs at that width.
    QSize sizeHint() const override;

signals:
    // Emitted after sync->setScreen("overview" or "settings"); the owner opens the dashboard.
    void dashboardRequested();
    void checkForUpdatesRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void redraw();
    void updateSyncing();
    void refresh();
    void openSection(const QString& screen);

    QPointer<DataSyncService> sync_;
    TextLabel* status_ = nullptr;
    QWidget* cards_ = nullptr;
    QVBoxLayout* cardsLayout_ = nullptr;
    QLabel* syncedAt_ = nullptr;
    QPushButton* refresh_ = nullptr;
    std::vector<Quota> shown_;
};

} // namespace tessel
