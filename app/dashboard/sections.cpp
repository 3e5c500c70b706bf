#include "app/dashboard/sections.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tessel::Sections {

namespace {

// Stands in until the real views are part of the application.
QWidget* placeholder(const char* name, const QString& text) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1StringView(name));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(28, 28, 28, 28);
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    column->addWidget(label);
    column->addStretch(1);
    return page;
}

} // namespace

QWidget* settings(DataSyncService*, UpdateController*, ShellSettings*) {
    return placeholder("settingsSection", QStringLiteral("设置与诊断"));
}

QWidget* widgets(DataSyncService*) {
    return placeholder("widgetsSection", QString::fromUtf8(widgetsTitle));
}

} // namespace tessel::Sections
