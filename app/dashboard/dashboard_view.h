// The dashboard window's content: the resizable sidebar, and the detail column with the toolbar
// over the section that the service's `screen` names (the report for every value but "widgets"
// and "settings"). Made anew each time the window opens, so the report's period and dimension
// start again at "today" and "agents"; `screen` lives in the service.
#pragma once

#include <QString>
#include <QWidget>

class QSplitter;
class QStackedWidget;

namespace tessel {

class DashboardToolbar;
class DataSyncService;
class ReportView;
class ShellSettings;
class Sidebar;
class UpdateController;

class DashboardView : public QWidget {
    Q_OBJECT
public:
    DashboardView(DataSyncService* sync, UpdateController* updates, ShellSettings* shell,
                  QWidget* parent = nullptr);

    Sidebar* sidebar() const { return sidebar_; }
    DashboardToolbar* toolbar() const { return toolbar_; }
    ReportView* report() const { return report_; }
    // The section's page now shown in the detail column.
    QWidget* detail() const;

private:
    void showSection();

    DataSyncService* sync_;
    UpdateController* updates_;
    ShellSettings* shell_;
    QSplitter* splitter_;
    Sidebar* sidebar_;
    DashboardToolbar* toolbar_;
    QStackedWidget* pages_;
    ReportView* report_;
    QWidget* widgets_ = nullptr;
    QWidget* settings_ = nullptr;
    // The section last shown, so that only a change of section scrolls a page back.
    QString shown_;
};

} // namespace tessel
