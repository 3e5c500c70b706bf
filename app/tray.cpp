#include "app/tray.h"

#include <algorithm>
#include <chrono>

#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/shell_settings.h"
#include "app/tray_icon.h"
#include "sync/data_sync_service.h"
#include "sync/menu_title.h"
#include "ui/symbols.h"

namespace tessel {

Tray::Tray(DataSyncService* sync, ShellSettings* settings, Probe probe, QObject* parent)
    : QObject(parent), sync_(sync), settings_(settings),
      probe_(probe ? std::move(probe) : Probe(&QSystemTrayIcon::isSystemTrayAvailable)),
      icon_(new QSystemTrayIcon(this)), menu_(new QMenu) {
    QAction* panel = add(QStringLiteral("打开面板"), QStringLiteral("bird.fill"));
    connect(panel, &QAction::triggered, this,
            [this] { emit panelRequested(QRect(QCursor::pos(), QSize(1, 1))); });
    menu_->addSeparator();
    refresh_ = add(QStringLiteral("刷新"), QStringLiteral("arrow.clockwise"));
    connect(refresh_, &QAction::triggered, this, [this] { sync_->refresh(true); });
    QAction* overview = add(QStringLiteral("打开概览"), QStringLiteral("square.grid.2x2"));
    connect(overview, &QAction::triggered, this, [this] {
        sync_->setScreen(QStringLiteral("overview"));
        emit dashboardRequested();
    });
    // The tray's menu stands in for the application menu, whose settings item opens the
    // settings window rather than the dashboard.
    QAction* settingsAction = add(QStringLiteral("设置"), QStringLiteral("gearshape"));
    connect(settingsAction, &QAction::triggered, this, &Tray::settingsRequested);
    menu_->addSeparator();
    connect(add(QStringLiteral("检查更新…"), {}), &QAction::triggered, this,
            &Tray::checkForUpdatesRequested);
    menu_->addSeparator();
    connect(add(QStringLiteral("退出"), {}), &QAction::triggered, this, &Tray::quitRequested);
    icon_->setContextMenu(menu_);

    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r != QSystemTrayIcon::Trigger && r != QSystemTrayIcon::DoubleClick)
            return;
        const QRect where = icon_->geometry();
        emit panelRequested(
            where.isValid() && !where.isEmpty() ? where : QRect(QCursor::pos(), QSize(1, 1)));
    });
    staleCheck_ = new QTimer(this);
    staleCheck_->setSingleShot(true);
    connect(staleCheck_, &QTimer::timeout, this, &Tray::update);
    connect(sync_, &DataSyncService::snapshotChanged, this, &Tray::update);
    connect(sync_, &DataSyncService::syncingChanged, this,
            [this] { refresh_->setEnabled(!sync_->syncing()); });
    connect(settings_, &ShellSettings::changed, this, [this] {
        update();
        updateVisibility();
    });
    update();
    updateVisibility();
    followHosts();
}

Tray::~Tray() {
    delete menu_;
}

void Tray::followHosts() {
    // Tray hosts announce their coming and going, so an idle program sleeps between its polls.
    // D-Bus trays: the watcher's name, and the hosts it registers.
    const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* watcher = new QDBusServiceWatcher(watcherName, bus,
                                            QDBusServiceWatcher::WatchForRegistration |
                                                QDBusServiceWatcher::WatchForUnregistration,
                                            this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &Tray::updateVisibility);
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(watcherName, QStringLiteral("/StatusNotifierWatcher"), watcherName,
                    QString::fromLatin1(signal), this, SLOT(updateVisibility()));
    // XEmbed trays: the X11 platform follows the owner of the tray manager selection and says
    // so on its native interface, a QObject whose class is in no installed header.
    if (QGuiApplication::platformName() == u"xcb")
        connect(reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface()),
                SIGNAL(systemTrayWindowChanged(QScreen*)), this, SLOT(updateVisibility()));
}

QAction* Tray::add(const QString& text, const QString& symbol) {
    QAction* action = menu_->addAction(text);
    if (!symbol.isEmpty())
        action->setIcon(Symbols::icon(symbol, menu_));
    return action;
}

QRect Tray::geometry() const {
    return icon_->geometry();
}

bool Tray::isVisible() const {
    return visible_;
}

QString Tray::toolTip() const {
    const Snapshot& snapshot = sync_->snapshot();
    QStringList lines;
    if (title_ == u"Tessel") {
        lines << QStringLiteral("Tessel");
    } else {
        lines << QStringLiteral("Tessel %1").arg(title_);
        // Which subscription and window the number is of: with several, it is not obvious.
        lines << QString::fromStdString(menuBarSubscription(
            menuBarQuota(*sync_->published(), settings_->menuQuota().toStdString())));
    }
    lines << QString::fromStdString(snapshot.status());
    if (snapshot.issue)
        lines << QString::fromStdString(*snapshot.issue);
    return lines.join(u'\n');
}

TrayIcon::State Tray::state() const {
    const Snapshot& snapshot = sync_->snapshot();
    if (snapshot.issue)
        return TrayIcon::State::Issue;
    // Nothing synced yet is no warning: the first cycle is on its way.
    if (snapshot.updatedAt && snapshot.stale(std::chrono::system_clock::now()))
        return TrayIcon::State::Stale;
    return TrayIcon::State::Current;
}

void Tray::update() {
    const Snapshot& snapshot = sync_->snapshot();
    const QString title = QString::fromStdString(
        menuBarTitle(menuBarQuota(*sync_->published(), settings_->menuQuota().toStdString())));
    const TrayIcon::State state = this->state();
    if (title != title_ || state != state_ || icon_->icon().isNull()) {
        title_ = title;
        state_ = state;
        icon_->setIcon(TrayIcon::icon(title_, state_));
    }
    icon_->setToolTip(toolTip());
    // Data turns old without any new snapshot: look again when it does.
    if (state_ == TrayIcon::State::Current && snapshot.updatedAt) {
        // Through elapsed(), which saturates: a stamp far in the future (a clock set back) must
        // neither overflow nor exceed what a QTimer holds; a day's wait is checked again then.
        using std::chrono::duration_cast, std::chrono::milliseconds;
        const auto age = duration_cast<milliseconds>(
            elapsed(*snapshot.updatedAt, std::chrono::system_clock::now()));
        const milliseconds left = std::clamp(duration_cast<milliseconds>(Snapshot::freshness) - age,
                                             milliseconds(0), milliseconds(std::chrono::hours(24)));
        staleCheck_->start(left + std::chrono::seconds(1));
    } else {
        staleCheck_->stop();
    }
}

void Tray::updateVisibility() {
    const bool visible = settings_->showMenuBar() && probe_();
    if (visible == visible_)
        return;
    visible_ = visible;
    icon_->setVisible(visible);
    emit visibilityChanged(visible);
}

} // namespace tessel
