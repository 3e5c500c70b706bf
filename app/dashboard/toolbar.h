// The dashboard's toolbar, the same in every section: the section's title, a spinner while a
// sync runs, and "刷新" (Ctrl+R, F5), disabled while a sync runs.
#pragma once

#include <QProgressBar>
#include <QTimer>
#include <QWidget>

class QAction;
class QLabel;
class QToolButton;

namespace tessel {

class DataSyncService;

// A small indeterminate progress indicator that turns only while shown.
class Spinner : public QProgressBar {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {18, 18}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer turn_;
    int angle_ = 0;
};

class DashboardToolbar : public QWidget {
    Q_OBJECT
public:
    explicit DashboardToolbar(DataSyncService* sync, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    Spinner* spinner() const { return spinner_; }
    QToolButton* refreshButton() const { return refresh_; }

private:
    void updateSyncing();

    DataSyncService* sync_;
    QLabel* title_;
    Spinner* spinner_;
    QAction* refreshAction_;
    QToolButton* refresh_;
};

} // namespace tessel
