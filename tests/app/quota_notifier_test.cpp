// Notifications on the suite's session bus after real cycles against the test gateway.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSignalSpy>

#include <QCoro/QCoroTask>

#include "app/application.h"
#include "app/dashboard_window.h"
#include "app/quota_notifier.h"
#include "app/shell_settings.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "sync/data_sync_service.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

// What a desktop's notification daemon would be, on a connection of its own.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString summary, body;
        QStringList actions;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        shown.append({replaces, summary, body, actions});
        return 100 + uint(shown.size());
    }
    // A round trip behind the notifier's calls: when it returns, they have all arrived.
    int Count() { return int(shown.size()); }
};

// The followed subscription at `remaining` (its window ending at `resetsAt`) and a second one.
QString quotas(double remaining, const QString& resetsAt = {}) {
    const QString reset =
        resetsAt.isEmpty() ? QString() : QStringLiteral(R"(,"resetsAt":"%1")").arg(resetsAt);
    return QStringLiteral(
               R"({"data":[{"provider":"p","name":"主力订阅","windows":[)"
               R"({"name":"5 小时","remaining":%1%2}]},)"
               R"({"provider":"q","name":"备用","windows":[{"name":"周","remaining":50}]}]})")
        .arg(remaining)
        .arg(reset);
}

class Notifier : public test::GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus";
        bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-notifications"));
        ASSERT_TRUE(bus->registerObject("/org/freedesktop/Notifications", &fake,
                                        QDBusConnection::ExportAllSlots));
        // The suite's tests share one bus: each waits its turn for the name.
        QDBusConnectionInterface* names = bus->interface();
        names->registerService("org.freedesktop.Notifications",
                               QDBusConnectionInterface::QueueService,
                               QDBusConnectionInterface::DontAllowReplacement);
        ASSERT_TRUE(test::spin(
            [&] {
                return names->serviceOwner("org.freedesktop.Notifications").value() ==
                       bus->baseService();
            },
            120000));
        DataSyncService::Options o;
        o.container = dir.path() / "container";
        o.settingsPath = settingsPath();
        service = std::make_unique<DataSyncService>(o);
        settings = std::make_unique<ShellSettings>(settingsPath());
    }
    void TearDown() override {
        if (bus) {
            bus->unregisterService("org.freedesktop.Notifications");
            QDBusConnection::disconnectFromBus("fake-notifications");
        }
    }
    // One real cycle with the quota at `remaining`, and the bus's answers to what it sent.
    void cycle(double remaining, int status = 200, const QString& resetsAt = {}) {
        gateway.on("v1/tessel/quotas",
                   test::Route::json(quotas(remaining, resetsAt).toStdString(), status));
        QCoro::waitFor(service->refresh(false));
        QDBusPendingCallWatcher count(QDBusConnection::sessionBus().asyncCall(
            QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Count")));
        ASSERT_TRUE(test::spin([&] { return count.isFinished(); }));
        ASSERT_FALSE(count.isError());
    }

    FakeNotifications fake;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<DataSyncService> service;
    std::unique_ptr<ShellSettings> settings;
};

TEST_F(Notifier, OnceBelowAndOnceBackNeverForOldDataAndAClickOpensTheOverview) {
    QuotaNotifier notifier(service.get(), settings.get());
    notifier.setEnabled(true);
    QSignalSpy overview(&notifier, &QuotaNotifier::overviewRequested);
    cycle(40); // where it starts from
    cycle(12.5);
    ASSERT_EQ(fake.shown.size(), 1);
    EXPECT_EQ(fake.shown[0].summary, QStringLiteral("额度不足"));
    EXPECT_EQ(fake.shown[0].body, QStringLiteral("主力订阅 · 5 小时：剩余 12%"));
    EXPECT_EQ(fake.shown[0].actions, (QStringList{"default", "打开概览"}));

    cycle(10);      // still below: the same crossing
    cycle(90, 500); // a failed cycle keeps the old figures
    // Wavering around the threshold is no news; only clearly back counts.
    for (const double remaining : {16.0, 14.0, 19.5, 14.0})
        cycle(remaining);
    EXPECT_EQ(fake.shown.size(), 1);

    cycle(100); // a reset replaces the warning
    ASSERT_EQ(fake.shown.size(), 2);
    EXPECT_EQ(fake.shown[1].summary, QStringLiteral("额度已恢复"));
    EXPECT_EQ(fake.shown[1].replaces, 101u);

    bus->send(QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                         "org.freedesktop.Notifications", "ActionInvoked")
              << 102u << QStringLiteral("default"));
    EXPECT_TRUE(test::spin([&] { return overview.count() == 1; }));

    notifier.setEnabled(false);
    cycle(5);
    cycle(50);
    EXPECT_EQ(fake.shown.size(), 2);
}

TEST_F(Notifier, OneWarningPerResetWindowUnlessItWasBack) {
    QuotaNotifier notifier(service.get(), settings.get());
    notifier.setEnabled(true);
    const QString later = "2200-01-01T00:00:00Z", over = "2020-01-01T00:00:00Z";
    // Another subscription followed for a while: coming back starts from where it stands.
    auto away = [&](double meanwhile, const QString& resetsAt) {
        settings->setMenuQuota("|q||");
        cycle(meanwhile, 200, resetsAt);
        settings->setMenuQuota("|p||");
    };
    auto summaries = [&] {
        QStringList out;
        for (const auto& n : fake.shown)
            out.append(n.summary);
        return out;
    };
    cycle(40, 200, later);
    cycle(10, 200, later);
    away(16, later);
    cycle(12, 200, later); // the window already warned about
    EXPECT_EQ(summaries(), QStringList({"额度不足"}));
    cycle(25, 200, later);
    cycle(12, 200, later); // back in between: a new warning
    EXPECT_EQ(summaries(), QStringList({"额度不足", "额度已恢复", "额度不足"}));
    // A warning about a window that has ended stands in the way of none in the next.
    cycle(25, 200, over);
    cycle(12, 200, over);
    away(16, over);
    cycle(12, 200, over);
    EXPECT_EQ(summaries(), QStringList({"额度不足", "额度已恢复", "额度不足", "额度已恢复",
                                        "额度不足", "额度不足"}));
}

TEST_F(Notifier, StoredLowDataAtStartIsNoCrossing) {
    cycle(8); // the application's last run left it low
    QuotaNotifier notifier(service.get(), settings.get());
    notifier.setEnabled(true);
    cycle(7);
    EXPECT_TRUE(fake.shown.isEmpty());
}

TEST_F(Notifier, TheApplicationFollowsTheSwitchAndAClickShowsTheOverview) {
    TesselWidgetApp::Options options;
    options.sync.container = dir.path() / "container";
    options.sync.settingsPath = settingsPath();
    TesselWidgetApp shell(options);
    auto* notifier = shell.findChild<QuotaNotifier*>();
    ASSERT_NE(notifier, nullptr);
    EXPECT_FALSE(notifier->enabled());
    shell.settings().setNotifyLowQuota(true);
    EXPECT_TRUE(notifier->enabled());
    shell.sync().setScreen(QStringLiteral("usage"));
    emit notifier->overviewRequested();
    EXPECT_EQ(shell.sync().screen(), QStringLiteral("overview"));
    ASSERT_NE(shell.dashboard(), nullptr);
    EXPECT_TRUE(shell.dashboard()->isVisible());
}

} // namespace

#include "quota_notifier_test.moc"
