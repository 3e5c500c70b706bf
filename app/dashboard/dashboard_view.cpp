#include "app/dashboard/dashboard_view.h"

#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/dashboard/report_view.h"
#include "app/dashboard/sections.h"
#include "app/dashboard/sidebar.h"
#include "app/dashboard/toolbar.h"
#include "sync/data_sync_service.h"

namespace tessel {

DashboardView::DashboardView(DataSyncService* sync, UpdateController* updates, ShellSettings* shell,
                             QWidget* parent)
    : QWidget(parent), sync_(sync), updates_(updates), shell_(shell) {
    setObjectName(QStringLiteral("dashboardView"));
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);

    splitter_ = new QSplitter(Qt::Horizontal);
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(1);
    sidebar_ = new Sidebar(sync_);
    splitter_->addWidget(sidebar_);

    auto* detail = new QWidget;
    detail->setObjectName(QStringLiteral("detail"));
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toolbar_ = new DashboardToolbar(sync_);
    column->addWidget(toolbar_);
    pages_ = new QStackedWidget;
    report_ = new ReportView(sync_);
    pages_->addWidget(report_);
    column->addWidget(pages_, 1);
    splitter_->addWidget(detail);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({Sidebar::idealWidth, 1030 - Sidebar::idealWidth});
    whole->addWidget(splitter_);

    connect(sync_, &DataSyncService::screenChanged, this, &DashboardView::showSection);
    connect(report_, &ReportView::navigationTitleChanged, this, &DashboardView::showSection);
    showSection();
}

QWidget* DashboardView::detail() const {
    return pages_->currentWidget();
}

void DashboardView::showSection() {
    const QString screen = sync_->screen();
    if (screen == u"settings") {
        if (!settings_) {
            settings_ = Sections::settings(sync_, updates_, shell_);
            pages_->addWidget(settings_);
        }
        pages_->setCurrentWidget(settings_);
        toolbar_->setTitle(QString::fromUtf8(Sections::settingsTitle));
    } else if (screen == u"widgets") {
        if (!widgets_) {
            widgets_ = Sections::widgets(sync_);
            pages_->addWidget(widgets_);
        }
        pages_->setCurrentWidget(widgets_);
        toolbar_->setTitle(QString::fromUtf8(Sections::widgetsTitle));
    } else {
        pages_->setCurrentWidget(report_);
        toolbar_->setTitle(report_->navigationTitle());
    }
    // Another section starts at its top, not where the page was left (the report serves two).
    if (std::exchange(shown_, screen) != screen)
        if (auto* page = qobject_cast<QAbstractScrollArea*>(pages_->currentWidget()))
            page->verticalScrollBar()->setValue(page->verticalScrollBar()->minimum());
}

} // namespace tessel
