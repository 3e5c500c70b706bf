// Desktop notifications about the chosen subscription (the tray's): one when the remaining
// share of its first window drops below 15 %, one when it is back (a reset). Sent through the
// desktop's notification service on the session bus; opt-in.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>

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
    std::string quota_;           // the subscription followed
    std::optional<bool> low_;     // its side of the threshold, as last seen
    std::optional<Instant> seen_; // quota data already looked at
    uint shown_ = 0;              // our notification on screen, replaced by the next
    QSet<uint> sent_;
};

} // namespace tessel
