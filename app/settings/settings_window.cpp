#include "app/settings/settings_window.h"

#include <QAction>
#include <QKeySequence>
#include <QVBoxLayout>

#include "app/settings/settings_view.h"
#include "app/shortcuts.h"
#include "app/tray_icon.h"

namespace tessel {

SettingsWindow::SettingsWindow(DataSyncService* sync, ShellSettings* settings,
                               UpdateController* updates, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(new SettingsView(sync, settings, updates)) {
    setObjectName(QStringLiteral("settingsWindow"));
    // Ends with the application's display name, which Qt then does not append a second time.
    setWindowTitle(QStringLiteral("设置 — Tessel Widget"));
    setWindowIcon(TrayIcon::bird());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setMinimumSize(SettingsView::minimumSide, SettingsView::minimumSide);
    resize(defaultSize);
    auto* close = new QAction(this);
    close->setShortcuts(Shortcuts::of({QKeySequence(Qt::Key_Escape)}, QKeySequence::Close));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void SettingsWindow::bringForward() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

} // namespace tessel
