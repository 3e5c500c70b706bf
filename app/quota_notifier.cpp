#include "app/quota_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cmath>

#include "app/shell_settings.h"
#include "model/display.h"
#include "sync/data_sync_service.h"
#include "sync/menu_title.h"

namespace tessel {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");

// Servers that support body markup would read "<" and "&" from gateway texts as markup.
QString escaped(QString text) {
    return text.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
}

} // namespace

QuotaNotifier::QuotaNotifier(DataSyncService* sync, ShellSettings* settings, QDBusConnection bus,
                             QObject* parent)
    : QObject(parent), sync_(sync), settings_(settings), bus_(std::move(bus)) {
    connect(sync_, &DataSyncService::snapshotChanged, this, &QuotaNotifier::observe);
    connect(settings_, &ShellSettings::changed, this, &QuotaNotifier::observe);
    if (bus_.isConnected())
        bus_.connect(service, path, service, QStringLiteral("ActionInvoked"), this,
                     SLOT(actionInvoked(uint, QString)));
    observe();
}

void QuotaNotifier::observe() {
    const Snapshot& snapshot = sync_->snapshot();
    const std::string menuQuota = settings_->menuQuota().toStdString();
    const Quota* quota = menuBarQuota(*sync_->published(), menuQuota);
    // NaN stands for "no figure": it compares false either way, so it is checked for.
    double percent = std::nan("");
    if (quota && quota->windows && !quota->windows->empty())
        percent = quota->windows->front().remainingPercent().value_or(std::nan(""));
    const bool known = std::isfinite(percent);
    const std::string id = quota ? quota->id() : std::string();
    // Another subscription (chosen, or first now): what it shows is where we start from.
    if (id != quota_) {
        quota_ = id;
        low_ = known ? std::optional(percent < threshold) : std::nullopt;
        seen_ = snapshot.quotaUpdatedAt;
        return;
    }
    // Only quota data this cycle fetched counts; a failed cycle keeps the old figures.
    const bool fresh =
        snapshot.quotaUpdatedAt && snapshot.quotaUpdatedAt != seen_ &&
        elapsed(*snapshot.quotaUpdatedAt, std::chrono::system_clock::now()) <= Snapshot::freshness;
    seen_ = snapshot.quotaUpdatedAt;
    if (!fresh || !known)
        return;
    // Low below the threshold; back only at the recovery mark.
    const bool low = low_.value_or(false) ? percent < recovered : percent < threshold;
    const std::optional<bool> before = std::exchange(low_, low);
    if (!before || *before == low)
        return;
    const Instant now = std::chrono::system_clock::now();
    if (!low) {
        warned_.erase(id);
    } else if (const auto warned = warned_.find(id);
               warned != warned_.end() && (!warned->second || now < *warned->second)) {
        return; // this window was warned about already
    }
    if (!enabled_)
        return;
    if (low)
        warned_[id] = quota->windows->front().resetsAt;
    const QString body = QStringLiteral("%1：剩余 %2%")
                             .arg(escaped(QString::fromStdString(menuBarSubscription(quota))),
                                  QString::fromStdString(Display::percent(percent)));
    send(low ? QStringLiteral("额度不足") : QStringLiteral("额度已恢复"), body);
}

void QuotaNotifier::send(const QString& summary, const QString& body) {
    if (!bus_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("net.quorvane.TesselWidget")},
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Tessel Widget") << shown_ << QStringLiteral("net.quorvane.TesselWidget")
         << summary << body << QStringList{QStringLiteral("default"), QStringLiteral("打开概览")}
         << hints << -1;
    // Asynchronous: a service that is slow to start never holds up the GUI thread. Without a
    // service the call fails and nothing is shown.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isError()) {
            shown_ = reply.value();
            sent_.insert(shown_);
        }
        w->deleteLater();
    });
}

void QuotaNotifier::actionInvoked(uint id, const QString&) {
    if (sent_.contains(id))
        emit overviewRequested();
}

} // namespace tessel
