#include "app/dashboard/sections.h"

#include <QScrollArea>
#include <QVBoxLayout>

#include "app/settings/settings_view.h"
#include "app/settings/widget_settings_sections.h"

namespace tessel::Sections {

QWidget* settings(DataSyncService* sync, UpdateController* updates, ShellSettings* shell) {
    auto* view = new SettingsView(sync, shell, updates);
    view->setObjectName(QStringLiteral("settingsSection"));
    return view;
}

QWidget* widgets(DataSyncService* sync) {
    // The grouped sections on a page of their own, scrolling when the window is short.
    auto* page = new QScrollArea;
    page->setObjectName(QStringLiteral("widgetsSection"));
    page->setWidgetResizable(true);
    page->setFrameShape(QFrame::NoFrame);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(28, 20, 28, 28);
    column->addWidget(new WidgetSettingsSections(sync));
    column->addStretch(1);
    page->setWidget(content);
    return page;
}

} // namespace tessel::Sections
