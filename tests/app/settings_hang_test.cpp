// The event loop turns while a silent or prompting keyring is asked, and over huge answers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <array>
#include <atomic>

#include <time.h>

#include "app/application.h"
#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/quota_grid.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard_window.h"
#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/shell_settings.h"
#include "app/tray.h"
#include "gateway/keychain.h"
#include "support/app_fixture.h"
#include "support/private_keyring.h"
#include "support/sample_snapshot.h"
#include "sync/data_sync_service.h"

using namespace tessel;
using test::spin;

namespace {

// A form over its own service and settings file; the test starts the keyring before it.
struct Form {
    Form() {
        clock.setInterval(10);
        QObject::connect(&clock, &QTimer::timeout, [this] { ++ticks; });
        clock.start();
        view.show();
    }
    QString message() const { return view.findChild<QLabel*>("message")->text(); }
    // Presses "保存并连接" with the key typed in; true once its outcome is shown.
    bool save(const QString& key) {
        view.findChild<QLineEdit*>("token")->setText(key);
        QSignalSpy done(&view, &SettingsView::saveFinished);
        ticks = 0;
        QTest::keyClick(view.findChild<QLineEdit*>("token"), Qt::Key_Return);
        return spin([&] { return done.count() == 1; }, 30000);
    }

    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    QString settingsPath = QString::fromStdString((dir.path() / "app.ini").string());
    DataSyncService sync{[this] {
        DataSyncService::Options options;
        options.container = dir.path() / "container";
        options.settingsPath = settingsPath;
        return options;
    }()};
    ShellSettings shell{settingsPath};
    SettingsView view{&sync, &shell, nullptr};
    int ticks = 0;
    QTimer clock;
};

TEST(SettingsHang, LookupAndSaveNeverBlockTheEventLoop) {
    test::app();
    test::PrivateKeyring keyring;
    ASSERT_TRUE(keyring.ready());
    keyring.freeze(); // from the start: every key-store call of this process waits for it
    Form form;

    auto* token = form.view.findChild<QLineEdit*>("token");
    ASSERT_TRUE(form.view.lookingUpKey());
    EXPECT_TRUE(token->isReadOnly());
    EXPECT_EQ(token->placeholderText(), QStringLiteral("正在读取密钥环…"));
    ASSERT_TRUE(spin([&] { return !form.view.lookingUpKey(); }, 30000));
    EXPECT_GT(form.ticks, 20);
    EXPECT_FALSE(token->isReadOnly());
    EXPECT_EQ(token->placeholderText(), QStringLiteral("无法读取密钥环"));

    // Saving a key: the store's refusal is shown; address and interval stay as they were.
    const QString before = form.sync.endpoint();
    auto* interval = form.view.findChild<QComboBox*>("interval");
    interval->setCurrentIndex(interval->findText(QStringLiteral("5 分钟")));
    emit interval->activated(interval->currentIndex());
    ASSERT_TRUE(form.save(QStringLiteral("secret")));
    EXPECT_GT(form.ticks, 20);
    // The service never answered its opening: nothing was sent, nothing changed.
    EXPECT_EQ(form.message(), QStringLiteral("无法保存 Gateway 密钥：系统密钥环不可用。"));
    EXPECT_EQ(form.sync.endpoint(), before);
    EXPECT_EQ(form.sync.interval(), 60);
    EXPECT_EQ(token->text(), QStringLiteral("secret"));
}

// The first save waits for the prompt; an unanswered one says so and completes later.
TEST(SettingsHang, FirstKeyringPromptAndASaveTheServiceLeftUnanswered) {
    test::app();
    test::PrivateKeyring keyring;
    ASSERT_TRUE(keyring.ready());
    Form form;
    ASSERT_TRUE(spin([&] { return !form.view.lookingUpKey(); }));
    const std::string endpoint = form.sync.endpoint().toStdString();

    keyring.answer("first keyring");
    ASSERT_TRUE(form.save(QStringLiteral("k1")));
    EXPECT_EQ(form.message(), QStringLiteral("设置已保存。"));
    EXPECT_FALSE(keyring.expecting());
    EXPECT_EQ(GatewayKeychain::load(endpoint), "k1");

    auto* interval = form.view.findChild<QComboBox*>("interval");
    interval->setCurrentIndex(interval->findText(QStringLiteral("5 分钟")));
    emit interval->activated(interval->currentIndex());
    keyring.freeze();
    ASSERT_TRUE(form.save(QStringLiteral("k2")));
    EXPECT_GT(form.ticks, 20);
    EXPECT_EQ(form.message(), QStringLiteral("密钥环未及时响应，密钥可能已保存。"));
    EXPECT_EQ(form.sync.interval(), 60);

    QSignalSpy settled(&form.view, &SettingsView::keySettled);
    keyring.thaw();
    ASSERT_TRUE(spin([&] { return settled.count() == 1; }, 30000));
    EXPECT_EQ(GatewayKeychain::load(endpoint), "k2");
    EXPECT_EQ(form.view.findChild<QLineEdit*>("token")->text(), QStringLiteral("k2"));
    EXPECT_EQ(form.message(), QStringLiteral("设置已保存。"));
    EXPECT_EQ(form.sync.interval(), 300);
}

// The GUI thread's own CPU time, which load on the machine does not stretch as it does wall time.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// 88 000 subscriptions (30 MiB) reach every window twice; no 100 ms without a timer tick.
class LargeAnswers : public test::GatewayTest {};

TEST_F(LargeAnswers, NeverHoldTheEventLoop) {
    constexpr int count = 88'000;
    const auto answers = std::make_shared<std::array<std::string, 2>>(
        std::array{test::largeQuotasAnswer(count, 0), test::largeQuotasAnswer(count, 1)});
    auto asked = std::make_shared<std::atomic<int>>(0);
    gateway.on("v1/tessel/quotas", [answers, asked](const test::RecordedRequest&) {
        return test::Route::json((*answers)[std::size_t(asked->fetch_add(1) % 2)]);
    });
    setting(AppSettings::interval, 3600);
    // One far down the list: the tray and the notifier look it up after every cycle.
    setting(AppSettings::menuQuota, "tessel|provider-4|oauth|user87000@example.org");
    TesselWidgetApp::Options options;
    options.sync.container = dir.path() / "container";
    options.sync.settingsPath = settingsPath();
    options.trayWait = std::chrono::milliseconds(0);
    options.trayAvailable = [] { return false; };

    int ticks = 0;
    double busiest = 0;
    double cpu = threadCpuMs();
    QTimer clock;
    clock.setInterval(10);
    QObject::connect(&clock, &QTimer::timeout, [&] {
        ++ticks;
        const double now = threadCpuMs();
        busiest = std::max(busiest, now - cpu);
        cpu = now;
    });
    clock.start();

    TesselWidgetApp app(options);
    DataSyncService& sync = app.sync();
    QSignalSpy cycles(&sync, &DataSyncService::cycleFinished);
    app.start(); // no tray: the dashboard opens and the loop's first cycle runs
    ASSERT_TRUE(spin([&] { return cycles.count() == 1; }, 120000));
    ASSERT_EQ(sync.snapshot().quotas.size(), std::size_t(count));
    QuotaGrid* grid = app.dashboard()->view()->report()->quotaGrid();
    ASSERT_TRUE(spin([&] { return grid->quotas().size() == std::size_t(count); }, 60000));

    SettingsWindow* window = app.showSettings();
    app.showPanel(QRect(100, 100, 1, 1));
    auto* list = window->findChild<QListView*>("subscriptions");
    auto* picker = window->findChild<QComboBox*>("menuQuota");
    EXPECT_EQ(list->model()->rowCount(), count);
    EXPECT_EQ(picker->count(), count + 1);
    EXPECT_EQ(picker->currentIndex(), 87'001);
    EXPECT_EQ(app.tray().toolTip().split(u'\n').value(1), "Team account 87000 · 5h");

    QCoro::waitFor(sync.refresh(false));
    ASSERT_EQ(sync.snapshot().quotas[0].windows->front().used, 1);
    ASSERT_TRUE(spin([&] { return &grid->quotas() == &sync.snapshot().quotas; }, 60000));
    test::settle();
    EXPECT_EQ(picker->currentIndex(), 87'001);
    EXPECT_GT(ticks, 50);
    EXPECT_LT(busiest, 100.0);
}

} // namespace
