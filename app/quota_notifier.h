// Desktop notifications about the chosen subscription (the tray's): one when the remaining
// share of its first window drops below 15 %, one when it is clearly back (20 % or more, so a
// share that wavers around 15 % is one change, not one per cycle). At most one warning per reset
// window of the quota unless it was back in between. Sent through the desktop's notification
// service on the session bus; opt-in.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>

#include <map>
#include <optional>
#include <string>

#include "model/records.h"
#include "sync/menu_title.h"

namespace tessel {

class DataSyncService;
class ShellSettings;

class QuotaNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr double threshold = lowQuotaPercent; // status bars' "low" too
    static constexpr double recovered = 20;

    QuotaNotifier(DataSyncService* sync, ShellSettings* settings,
                  QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Off: crossings are still followed, so turning it on never reports an old one.
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }

signals:
    // The user clicked one of our notifications.
    void overviewRequested();

private slots:
    void actionInvoked(uint id, const QString& action);

private:
    void observe();
    void send(const QString& summary, const QString& body);

    DataSyncService* sync_;
    ShellSettings* settings_;
    QDBusConnection bus_;
    bool enabled_ = false;
    std::string quota_;       // the subscription followed
    std::optional<bool> low_; // whether it counts as low, as last seen
    // Subscriptions warned about and not back since, with the end of the window warned about
    // (absent: unknown, so only being back allows another warning).
    std::map<std::string, std::optional<Instant>> warned_;
    std::optional<Instant> seen_; // quota data already looked at
    uint shown_ = 0;              // our notification on screen, replaced by the next
    QSet<uint> sent_;
};

} // namespace tessel
