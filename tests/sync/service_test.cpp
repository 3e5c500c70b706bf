// Real cycles against the test gateway over loopback, real files, the private session bus.
#include <gtest/gtest.h>

#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <atomic>
#include <fstream>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "gateway/keychain.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "support/private_keyring.h"
#include "support/qt/reload_listener.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"
#include "sync/widget_center.h"
#include "sync/workers.h"
#include "tools/sample-gateway/sample_data.h"

using namespace std::chrono_literals;
using namespace tessel;
namespace fs = std::filesystem;
using test::spin;

namespace {

class Sync : public test::GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        if (!bus.connected)
            GTEST_SKIP() << "no session bus";
    }
    DataSyncService::Options options() const {
        DataSyncService::Options o;
        o.container = container;
        o.settingsPath = settingsPath();
        o.client.requestTimeout = 400ms;
        o.client.resourceTimeout = 1500ms;
        o.second = 5ms;
        return o;
    }
    DataSyncService& service() {
        if (!service_)
            service_ = std::make_unique<DataSyncService>(options());
        return *service_;
    }
    void refresh(bool reload = true) { QCoro::waitFor(service().refresh(reload)); }

    fs::path container = dir.path() / "container";
    test::ReloadListener bus;
    std::unique_ptr<DataSyncService> service_;
};

const std::string badFormat = "响应格式不兼容，保留上次有效数据。";

} // namespace

TEST_F(Sync, OneCycleAtATimeAsksInOrderWritesAndReloads) {
    // When the first and the last usage question reached the gateway.
    std::atomic<Instant> todayAsked{}, monthAsked{};
    gateway.on("v1/tessel/usage", [&](const test::RecordedRequest& r) {
        const std::string period = r.param("period");
        (period == "30d" ? monthAsked : todayAsked).store(std::chrono::system_clock::now());
        return test::Route::json(*sample::usage(period));
    });
    QCoro::Task<> first = service().refresh(true);
    EXPECT_TRUE(service().syncing());
    // A second cycle while one runs returns at once; the checks below see one cycle only.
    EXPECT_TRUE(service().refresh(true).isReady());
    QCoro::waitFor(first);
    const Snapshot& s = service().snapshot();
    EXPECT_FALSE(s.issue) << *s.issue;
    EXPECT_EQ(s.version, "1.4.2");
    EXPECT_EQ(s.usage.size(), 3u);
    ASSERT_TRUE(s.updatedAt && s.quotaUpdatedAt && s.usageUpdatedAt);
    // Each part is as fresh as its answer, not as the end of the cycle.
    EXPECT_LE(*s.quotaUpdatedAt, todayAsked.load());
    EXPECT_GE(*s.usageUpdatedAt, monthAsked.load());
    EXPECT_GE(*s.updatedAt, *s.usageUpdatedAt);
    EXPECT_EQ(SnapshotStore(container).load().quotas.size(), s.quotas.size());
    EXPECT_EQ(bus.flush(), QStringList{"TesselDesktopWidget"});

    std::vector<std::string> asked;
    for (const auto& r : gateway.requests())
        asked.push_back(r.path + "?" + r.param("period"));
    EXPECT_EQ(asked, (std::vector<std::string>{"/api/hello?", "/v1/tessel/quotas?",
                                               "/v1/tessel/usage?today", "/v1/tessel/usage?7d",
                                               "/v1/tessel/usage?30d"}));

    refresh(false); // a periodic cycle writes but does not reload
    EXPECT_TRUE(bus.flush().isEmpty());

    // ... unless what the widgets say of the sync changes: the gateway goes, and comes back.
    gateway.on("api/hello", test::Route::json("{}", 500));
    refresh(false);
    EXPECT_EQ(bus.flush().size(), 1);
    refresh(false); // still offline
    EXPECT_TRUE(bus.flush().isEmpty());
    gateway.serveSample();
    refresh(false);
    EXPECT_EQ(bus.flush().size(), 1);
    // Data written long ago by another run turns current.
    Snapshot old = service().snapshot();
    old.updatedAt = *old.updatedAt - 10min;
    SnapshotStore(container).save(old);
    service_.reset();
    refresh(false);
    EXPECT_EQ(bus.flush().size(), 1);
}

TEST_F(Sync, PartialAnswersKeepGoodDataAndAGoneOrForeignGatewayNone) {
    refresh();
    const Snapshot good = service().snapshot();

    gateway.on("v1/tessel/quotas", test::Route::json("{}", 404));
    refresh();
    Snapshot s = service().snapshot();
    EXPECT_EQ(s.issue, "额度：" + GatewayError::http(404).errorDescription());
    EXPECT_EQ(s.quotas, good.quotas);
    EXPECT_EQ(s.quotaUpdatedAt, good.quotaUpdatedAt);
    EXPECT_EQ(s.updatedAt, good.updatedAt);
    EXPECT_GE(s.usageUpdatedAt, good.usageUpdatedAt);
    EXPECT_EQ(service().failures(), 1);
    const Snapshot before = s;

    gateway.serveSample();
    gateway.on("v1/tessel/usage", [](const test::RecordedRequest& r) {
        if (r.param("period") == "7d")
            return test::Route::json("{\"period\":");
        if (r.param("period") == "30d") // stops answering until the client gives up
            return test::Route::json(*sample::usage("30d"), 200, 1500ms);
        return test::Route::json(*sample::usage(r.param("period")));
    });
    refresh();
    s = service().snapshot();
    EXPECT_EQ(s.issue,
              "week：" + badFormat + "\nmonth：网络连接失败（-1001），请确认 Tessel 正在运行。");
    EXPECT_EQ(s.usage.at("week").calls, good.usage.at("week").calls);
    EXPECT_EQ(s.usage.at("month").calls, good.usage.at("month").calls);
    EXPECT_EQ(s.usageUpdatedAt, before.usageUpdatedAt);
    EXPECT_EQ(s.updatedAt, good.updatedAt);
    EXPECT_GT(s.quotaUpdatedAt, good.quotaUpdatedAt);
    EXPECT_EQ(service().failures(), 2);

    // A foreign service, then a gateway gone.
    gateway.serveSample();
    gateway.on("api/hello", test::Route::json(R"({"name":"other","version":"1"})"));
    gateway.clearRequests();
    refresh();
    EXPECT_EQ(service().snapshot().issue, "该服务不是 Tessel。");
    EXPECT_EQ(gateway.requestCount(), 1u); // nothing asked after a failed handshake

    setting(AppSettings::endpoint,
            QString("http://127.0.0.1:%1").arg(test::TestGateway::closedPort()));
    service_.reset();
    SnapshotStore(container).save(good); // stored data of another endpoint
    refresh();
    s = service().snapshot();
    EXPECT_EQ(s.issue, "网络连接失败（-1004），请确认 Tessel 正在运行。");
    EXPECT_TRUE(s.quotas.empty()); // nothing of the other gateway survives
    EXPECT_TRUE(s.usage.empty());
    EXPECT_EQ(service().failures(), 1);
}

TEST_F(Sync, UnwritableContainerStillPublishes) {
    std::ofstream(dir.path() / "blocker") << "file";
    container = dir.path() / "blocker" / "container";
    refresh();
    EXPECT_FALSE(service().snapshot().quotas.empty());
    EXPECT_EQ(service().storageIssue(), DataSyncService::storageMessage);
    EXPECT_TRUE(bus.flush().isEmpty());

    WidgetPreferences p = service().widgetPreferences();
    p.showCost = !p.showCost;
    service().setWidgetPreferences(p); // written off the GUI thread
    EXPECT_TRUE(
        spin([&] { return service().storageIssue() == DataSyncService::preferencesMessage; }));
    EXPECT_EQ(service().widgetPreferences(), p);
    EXPECT_TRUE(bus.flush().isEmpty());

    fs::remove(dir.path() / "blocker");
    refresh();
    EXPECT_TRUE(service().storageIssue().isEmpty());
    EXPECT_EQ(bus.flush().size(), 1);
    p.quotaCount = 5;
    service().setWidgetPreferences(p);
    EXPECT_TRUE(spin([&] { return bus.pending() == 1; })); // the reload follows the write
    EXPECT_EQ(WidgetPreferencesStore(container).load(), p);
    EXPECT_EQ(bus.flush().size(), 1);
}

TEST_F(Sync, LoopReloadsOnlyOnItsFirstCycleAndHoldsServiceWeakly) {
    service().start();
    service().start();
    // interval 60 in 5 ms "seconds": about 300 ms between cycles.
    ASSERT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 3; }));
    EXPECT_EQ(bus.flush().size(), 1);
    EXPECT_LE(gateway.requestCount("api/hello"), 4u); // one loop, not two

    // Requests in flight may finish; the loop, due again in 300 ms, ends with the service.
    const auto before = gateway.requestCount();
    service_.reset();
    QThreadPool::globalInstance()->waitForDone(); // the key store's calls
    Workers::pool()->waitForDone();               // the requests
    const auto settled = gateway.requestCount();
    EXPECT_LE(settled, before + 5);
    spin([] { return false; }, 900);
    EXPECT_EQ(gateway.requestCount(), settled);
}

TEST_F(Sync, SettingsAreTheUsersAloneAndAFailedSaveChangesNothing) {
    // A write that fails (a file-size limit for a full disk) is refused and never adopted later.
    const QString before = service().endpoint();
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit tiny{16, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    EXPECT_THROW(service().configure("http://127.0.0.1:1", 120), AppSettings::SettingsError);
    EXPECT_FALSE(service().settings().set(AppSettings::appearance, "light"));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(service().endpoint(), before);
    EXPECT_EQ(service().interval(), 60);

    setting(AppSettings::appearance, "dark"); // another writer touches the file
    spin([] { return false; }, 300);
    EXPECT_EQ(service().endpoint(), before);
    EXPECT_EQ(QSettings(settingsPath(), QSettings::IniFormat)
                  .value(AppSettings::endpoint.key())
                  .toString(),
              before);

    service_.reset(); // the first launch writes nothing
    fs::remove(settingsPath().toStdString());
    EXPECT_EQ(service().endpoint(), QString::fromStdString(std::string(Endpoint::defaultEndpoint)));
    EXPECT_EQ(service().interval(), 60);
    EXPECT_FALSE(fs::exists(settingsPath().toStdString()));

    // A settings file that cannot be written refuses before the key or the endpoint change.
    std::ofstream(dir.path() / "blocker") << "file";
    DataSyncService::Options blocked = options();
    blocked.settingsPath = QString::fromStdString((dir.path() / "blocker/s.ini").string());
    DataSyncService refusing(blocked);
    EXPECT_THROW(refusing.configure(gateway.endpoint().c_str(), 60, "k"),
                 AppSettings::SettingsError);
    EXPECT_EQ(refusing.endpoint(), service().endpoint());
    EXPECT_FALSE(GatewayKeychain::load(gateway.endpoint()));

    // Whatever the umask, what is saved for the user is the user's alone.
    const fs::path fresh = dir.path() / "fresh/quorvane/TesselWidget.ini";
    DataSyncService::Options saved = options();
    saved.settingsPath = QString::fromStdString(fresh.string());
    DataSyncService saving(saved);
    const mode_t umask = ::umask(0);
    QCoro::waitFor(saving.configure(gateway.endpoint().c_str(), 60));
    ::umask(umask);
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(fresh.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir.path() / "fresh").permissions(), fs::perms::owner_all);
    // A file and a folder left open to others are closed at the next save.
    fs::permissions(fresh, fs::perms::all & ~fs::perms::others_exec);
    fs::permissions(fresh.parent_path(), fs::perms::all);
    QCoro::waitFor(saving.configure(gateway.endpoint().c_str(), 90));
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(fresh.parent_path()).permissions(), fs::perms::owner_all);

    // A dotfile manager's link stays; the user's file behind it is replaced whole.
    const fs::path dotfile = dir.path() / "dotfiles/TesselWidget.ini";
    fs::create_directories(dotfile.parent_path());
    std::ofstream(dotfile) << "[General]\nappearance=dark\n";
    fs::remove(fresh);
    fs::create_symlink(dotfile, fresh);
    QCoro::waitFor(saving.configure(gateway.endpoint().c_str(), 120));
    EXPECT_TRUE(fs::is_symlink(fresh)); // replaced whole as the host's file is (host_test)
    EXPECT_EQ(test::modeOf(dotfile), 0600u);
    const QSettings stored(QString::fromStdString(dotfile.string()), QSettings::IniFormat);
    EXPECT_EQ(stored.value(AppSettings::interval.key()).toInt(), 120);
    EXPECT_EQ(stored.value(AppSettings::appearance.key()).toString(), "dark");
}

TEST_F(Sync, FollowsSettingsOthersWrite) {
    test::TestGateway other;
    other.serveSample();
    other.serveHello("9.9");
    refresh();
    bus.flush();
    const QString next = QString::fromStdString(other.endpoint());

    setting(AppSettings::endpoint, next);
    ASSERT_TRUE(
        spin([&] { return service().snapshot().version == "9.9" && !service().syncing(); }));
    EXPECT_EQ(service().endpoint(), next);
    EXPECT_EQ(SnapshotStore(container).load().version, "9.9");
    EXPECT_EQ(bus.flush().size(), 1);
    const auto oldAsked = gateway.requestCount("api/hello");

    // The service's own write is no news to it: one cycle for one configure.
    const auto asked = other.requestCount("api/hello");
    QCoro::waitFor(service().configure(next, 90));
    setting(AppSettings::interval, 120); // noticed after the own write
    ASSERT_TRUE(spin([&] { return service().interval() == 120; }));
    EXPECT_EQ(other.requestCount("api/hello"), asked + 1);
    EXPECT_EQ(gateway.requestCount("api/hello"), oldAsked);
}

TEST_F(Sync, NewIntervalFromOthersCutsTheRunningWait) {
    setting(AppSettings::interval, 3600);
    DataSyncService::Options slow = options();
    slow.second = 20ms; // the longest wait, 900 s, is 18 s here: longer than any spin
    service_ = std::make_unique<DataSyncService>(slow);
    service().start();
    ASSERT_TRUE(spin([&] { return gateway.requestCount("v1/tessel/usage") == 3; }));
    setting(AppSettings::interval, 30);
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 2; }));
    EXPECT_EQ(service().interval(), 30);
}

// Runs in a registration of its own: no key-store call of the process may precede it.
TEST_F(Sync, KeyStoreThatNeverAnswersLeavesTheGuiThreadFree) {
    if (!qEnvironmentVariableIsSet("TESSEL_SILENT_KEYRING"))
        GTEST_SKIP() << "runs only in sync_service_test_silent_keyring";
    test::PrivateKeyring silent;
    ASSERT_TRUE(silent.ready());
    silent.freeze();
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QCoro::Task<> cycle = service().refresh(true);
    // The cycle waits for the key store until its guard gives up; the GUI thread turns.
    EXPECT_TRUE(spin([&] { return ticks >= 20 || !service().syncing(); }));
    EXPECT_TRUE(service().syncing());
    EXPECT_GE(ticks, 20);
    QCoro::waitFor(cycle);
    EXPECT_FALSE(service().snapshot().issue); // the cycle went on without a key
}

TEST_F(Sync, ConfigureSwitchesGatewayWhileAnAnswerIsPending) {
    if (!qEnvironmentVariableIsSet("TESSEL_SECRET_SERVICE"))
        GTEST_SKIP() << "needs the Secret Service of scripts/test";
    test::TestGateway other;
    other.serveSample();
    other.serveHello("9.9");
    refresh();
    gateway.on("v1/tessel/quotas", test::Route::json(sample::quotas(), 200, 300ms));
    const QString next = QString::fromStdString(other.endpoint());

    std::vector<Snapshot> published;
    QObject::connect(&service(), &DataSyncService::snapshotChanged,
                     [&] { published.push_back(service().snapshot()); });
    QCoro::Task<> pending = service().refresh(false);
    ASSERT_TRUE(spin([&] { return gateway.requestCount("v1/tessel/quotas") == 2; }));

    QCoro::Task<> configured = service().configure(next, 5, "k-1");
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.front().endpoint, other.endpoint());
    EXPECT_TRUE(published.front().quotas.empty()); // the old gateway's data is gone at once
    QCoro::waitFor(pending);
    ASSERT_TRUE(spin([&] { return !service().syncing(); }));
    for (const Snapshot& s : published)
        EXPECT_EQ(s.endpoint, other.endpoint());
    EXPECT_EQ(service().snapshot().version, "9.9");
    EXPECT_EQ(SnapshotStore(container).load().version, "9.9");
    EXPECT_EQ(other.requests().front().header("Authorization"), "Bearer k-1");
    for (const auto& file : fs::directory_iterator(container)) // the key stays in the keyring
        EXPECT_EQ(FileIO::read(file.path()).find("k-1"), std::string::npos) << file.path();
    EXPECT_FALSE(bus.flush().isEmpty());

    // An empty key deletes the stored one; a key saved later is read by the next cycle.
    QCoro::waitFor(service().configure(next, 60, ""));
    EXPECT_FALSE(GatewayKeychain::load(other.endpoint()));
    EXPECT_FALSE(other.requests().back().header("Authorization"));
    GatewayKeychain::save("k-2", other.endpoint());
    refresh();
    EXPECT_EQ(other.requests().back().header("Authorization"), "Bearer k-2");
    GatewayKeychain::save("", other.endpoint());
}

#include "support/qt/moc_reload_listener.cpp"
