#include "app/dashboard_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>

#include "app/dashboard/dashboard_view.h"
#include "app/shell_settings.h"
#include "app/shortcuts.h"
#include "app/tray_icon.h"
#include "app/update_controller.h"
#include "session/private_file.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"

namespace tessel {

DashboardWindow::DashboardWindow(DataSyncService* sync, UpdateController* updates,
                                 ShellSettings* settings, QWidget* parent)
    : QMainWindow(parent), sync_(sync), updates_(updates), settings_(settings) {
    setObjectName(QStringLiteral("dashboard"));
    setWindowTitle(QStringLiteral("Tessel Widget"));
    setWindowIcon(TrayIcon::bird());
    // Never larger than the screen: a size kept from a larger monitor, or the default at a
    // scale factor of 2 on a small one, would put the window's edges out of reach.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : defaultSize;
    setMinimumSize(minimumSize.boundedTo(room));
    const QByteArray geometry =
        QSettings(statePath(), QSettings::IniFormat).value("dashboard/geometry").toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(defaultSize.boundedTo(room));
    else
        resize(size().boundedTo(room));

    QMenu* appMenu = menuBar()->addMenu(QStringLiteral("Tessel Widget"));
    appMenu->addAction(QStringLiteral("关于 Tessel Widget"), this, &DashboardWindow::showAbout);
    appMenu->addAction(QStringLiteral("检查更新…"), updates, [this, updates] {
        updates->setDialogParent(this);
        updates->checkForUpdates();
    });
    appMenu->addSeparator();
    QAction* settingsAction =
        appMenu->addAction(QStringLiteral("设置…"), this, &DashboardWindow::settingsRequested);
    settingsAction->setShortcut(QKeySequence::Preferences);
    appMenu->addSeparator();
    QAction* close = appMenu->addAction(QStringLiteral("关闭窗口"), this, &QWidget::close);
    close->setShortcuts(Shortcuts::of({QKeySequence(Qt::CTRL | Qt::Key_W)}, QKeySequence::Close));
    QAction* quit =
        appMenu->addAction(QStringLiteral("退出"), this, &DashboardWindow::quitRequested);
    quit->setShortcuts(Shortcuts::of({QKeySequence(Qt::CTRL | Qt::Key_Q)}, QKeySequence::Quit));

    makeView();
    connect(settings_, &ShellSettings::changed, this, &DashboardWindow::applyAppearance);
    applyAppearance();
}

DashboardWindow::~DashboardWindow() {
    keepGeometry();
}

QString DashboardWindow::statePath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/") + QLatin1StringView(AppSettings::organization) +
           QStringLiteral("/") + QLatin1StringView(AppSettings::application) +
           QStringLiteral("-window.ini");
}

void DashboardWindow::makeView() {
    delete view_;
    view_ = new DashboardView(sync_, updates_, settings_);
    setCentralWidget(view_);
}

void DashboardWindow::bringForward() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void DashboardWindow::showEvent(QShowEvent* event) {
    if (std::exchange(closed_, false))
        makeView();
    QMainWindow::showEvent(event);
    sync_->start(); // only the first call starts the loop
}

void DashboardWindow::closeEvent(QCloseEvent* event) {
    keepGeometry();
    closed_ = true;
    QMainWindow::closeEvent(event);
}

void DashboardWindow::keepGeometry() const {
    // Left to QSettings, the folder and the file would take the umask's modes.
    if (!PrivateFile::prepare(statePath()))
        return;
    QSettings state(statePath(), QSettings::IniFormat);
    state.setValue("dashboard/geometry", QMainWindow::saveGeometry());
}

void DashboardWindow::applyAppearance() {
    const std::optional<QPalette> palette = ShellSettings::palette(settings_->appearance());
    // A default-constructed palette hands the window back to the desktop's.
    setPalette(palette.value_or(QPalette()));
}

void DashboardWindow::showAbout() {
    QMessageBox::about(this, QStringLiteral("关于 Tessel Widget"),
                       QStringLiteral("<b>Tessel Widget</b> %1<br>在托盘、面板和桌面小组件中显示 "
                                      "Tessel Gateway 的订阅额度与用量。")
                           .arg(QStringLiteral(TESSEL_VERSION).toHtmlEscaped()));
}

} // namespace tessel
