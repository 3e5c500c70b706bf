#include "app/application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <utility>

#include "app/app_style.h"
#include "app/dashboard_window.h"
#include "app/quota_notifier.h"
#include "app/settings/settings_window.h"
#include "app/shell_settings.h"
#include "app/tray.h"
#include "app/tray_popup.h"
#include "app/update_controller.h"
#include "app/url_router.h"

namespace tessel {

namespace {

// Our own texts are Chinese in every locale, so Qt's standard buttons, dialogs and context
// menus ("OK" of the About box, a text field's "Copy") are too: Qt's Chinese translations,
// whatever the locale says. Once per process.
void loadQtTranslations() {
    static bool loaded = false;
    if (!qApp || std::exchange(loaded, true))
        return;
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

std::chrono::milliseconds trayWaitFor(std::optional<std::chrono::milliseconds> wanted) {
    if (wanted)
        return *wanted;
    const QString platform = QGuiApplication::platformName();
    if (platform == u"offscreen" || platform == u"minimal")
        return {};
    return std::chrono::seconds(4);
}

} // namespace

TesselWidgetApp::TesselWidgetApp() : TesselWidgetApp(Options{}) {}

TesselWidgetApp::TesselWidgetApp(Options options, QObject* parent)
    : QObject(parent), sync_(std::make_unique<DataSyncService>(std::move(options.sync))),
      updates_(new UpdateController(this)), settings_(new ShellSettings(&sync_->settings(), this)),
      tray_(new Tray(sync_.get(), settings_, std::move(options.trayAvailable), this)),
      trayWait_(trayWaitFor(options.trayWait)) {
    loadQtTranslations();
    AppStyle::install();
    connect(tray_, &Tray::panelRequested, this, &TesselWidgetApp::showPanel);
    connect(tray_, &Tray::dashboardRequested, this, &TesselWidgetApp::showDashboard);
    connect(tray_, &Tray::settingsRequested, this, &TesselWidgetApp::showSettings);
    connect(tray_, &Tray::checkForUpdatesRequested, updates_, [this] {
        updates_->setDialogParent(dashboard_ && dashboard_->isVisible() ? dashboard_ : nullptr);
        updates_->checkForUpdates();
    });
    connect(tray_, &Tray::quitRequested, this, &TesselWidgetApp::quitRequested);
    connect(tray_, &Tray::visibilityChanged, this, &TesselWidgetApp::trayVisibilityChanged);

    // Opt-in notifications about the tray's subscription; a click shows the overview.
    auto* notifier = new QuotaNotifier(sync_.get(), settings_, QDBusConnection::sessionBus(), this);
    notifier->setEnabled(settings_->notifyLowQuota());
    connect(settings_, &ShellSettings::changed, notifier,
            [this, notifier] { notifier->setEnabled(settings_->notifyLowQuota()); });
    connect(notifier, &QuotaNotifier::overviewRequested, this,
            [this] { openUrl(QStringLiteral("tesselwidget://overview")); });
}

TesselWidgetApp::~TesselWidgetApp() {
    // Windows first: they refer to the service.
    delete popup_;
    delete settingsWindow_;
    delete dashboard_;
}

DashboardWindow* TesselWidgetApp::dashboard() const {
    return dashboard_;
}
TrayPopup* TesselWidgetApp::popup() const {
    return popup_;
}
SettingsWindow* TesselWidgetApp::settingsWindow() const {
    return settingsWindow_;
}

void TesselWidgetApp::start() {
    if (tray_->isVisible()) {
        // The tray shows live figures, so the loop runs even before the dashboard is opened.
        sync_->start();
        qApp->setQuitOnLastWindowClosed(false);
        return;
    }
    // The user turned the icon off, or the platform has no tray: nothing to wait for.
    if (!settings_->showMenuBar() || trayWait_ <= std::chrono::milliseconds::zero()) {
        startWithoutTray();
        return;
    }
    // At login the panel often comes up a moment after us; a window opened now would stay.
    qApp->setQuitOnLastWindowClosed(false);
    trayWaitTimer_ = new QTimer(this);
    trayWaitTimer_->setObjectName(QStringLiteral("trayWait"));
    trayWaitTimer_->setSingleShot(true);
    connect(trayWaitTimer_, &QTimer::timeout, this, &TesselWidgetApp::startWithoutTray);
    trayWaitTimer_->start(trayWait_);
}

void TesselWidgetApp::startWithoutTray() {
    showDashboard();
    qApp->setQuitOnLastWindowClosed(true);
}

void TesselWidgetApp::trayVisibilityChanged(bool visible) {
    if (visible && trayWaitTimer_ && trayWaitTimer_->isActive()) {
        trayWaitTimer_->stop();
        sync_->start();
    }
    qApp->setQuitOnLastWindowClosed(!visible);
    // Never leave a running program with nothing on screen to reach it by.
    if (!visible && !(dashboard_ && dashboard_->isVisible()))
        showDashboard();
    if (!visible && popup_)
        popup_->hide();
}

bool TesselWidgetApp::openUrl(const QString& url) {
    if (!UrlRouter::open(*sync_, url))
        return false;
    showDashboard();
    return true;
}

void TesselWidgetApp::handleMessage(const QString& message) {
    if (message.isEmpty())
        showDashboard();
    else
        openUrl(message);
}

DashboardWindow* TesselWidgetApp::showDashboard() {
    if (!dashboard_) {
        dashboard_ = new DashboardWindow(sync_.get(), updates_, settings_);
        dashboard_->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(dashboard_, &DashboardWindow::quitRequested, this, &TesselWidgetApp::quitRequested);
        connect(dashboard_, &DashboardWindow::settingsRequested, this,
                &TesselWidgetApp::showSettings);
    }
    if (popup_)
        popup_->hide();
    dashboard_->bringForward();
    return dashboard_;
}

SettingsWindow* TesselWidgetApp::showSettings() {
    if (!settingsWindow_)
        settingsWindow_ = new SettingsWindow(sync_.get(), settings_, updates_);
    if (popup_)
        popup_->hide();
    settingsWindow_->bringForward();
    return settingsWindow_;
}

void TesselWidgetApp::showPanel(QRect anchor) {
    if (!popup_) {
        popup_ = new TrayPopup(sync_.get());
        connect(popup_, &TrayPopup::dashboardRequested, this, &TesselWidgetApp::showDashboard);
        connect(popup_, &TrayPopup::checkForUpdatesRequested, updates_, [this] {
            updates_->setDialogParent(nullptr);
            updates_->checkForUpdates();
        });
        connect(popup_, &TrayPopup::quitRequested, this, &TesselWidgetApp::quitRequested);
    }
    // A second click on the icon closes it again.
    if (popup_->isVisible()) {
        popup_->hide();
        return;
    }
    popup_->popUp(anchor);
}

} // namespace tessel
