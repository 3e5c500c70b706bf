// A real sync service over a snapshot stored in a temporary container.
#pragma once

#include <QAccessible>
#include <QWidget>

#include <chrono>
#include <memory>

#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "support/sample_snapshot.h"
#include "sync/data_sync_service.h"

namespace tessel::test {

class DashboardTest : public GatewayTest {
protected:
    // The service loads whatever was stored before it was made.
    DataSyncService& service(std::optional<Snapshot> stored = std::nullopt) {
        if (!service_) {
            if (stored) {
                stored->endpoint = gateway.endpoint();
                SnapshotStore(container).save(*stored);
            }
            DataSyncService::Options o;
            o.container = container;
            o.settingsPath = settingsPath();
            o.client.requestTimeout = std::chrono::seconds(2);
            o.second = std::chrono::milliseconds(5);
            service_ = std::make_unique<DataSyncService>(o);
        }
        return *service_;
    }

    ScopedEnv zone{"TZ", "UTC"};
    ScopedEnv locale{"LC_ALL", "en_US.UTF-8"};
    std::filesystem::path container = dir.path() / "container";
    std::unique_ptr<DataSyncService> service_;
};

// Every name, value and description a screen reader finds under `widget`, hidden ones left out.
inline QStringList spoken(QWidget* widget) {
    QStringList texts;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node || node->state().invisible)
            return;
        for (const auto kind : {QAccessible::Name, QAccessible::Value, QAccessible::Description})
            if (const QString t = node->text(kind); !t.isEmpty() && !texts.contains(t))
                texts << t;
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(widget));
    return texts;
}

// A screen reader's action: AT-SPI "Toggle" and "Press" are Qt's toggleAction(), pressAction().
inline void act(QWidget* widget, const QString& action) {
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(widget);
    ASSERT_TRUE(node && node->actionInterface());
    ASSERT_TRUE(node->actionInterface()->actionNames().contains(action));
    node->actionInterface()->doAction(action);
}

} // namespace tessel::test
