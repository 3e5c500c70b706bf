// The settings form over a Secret Service that never answers: the form must keep the event loop
// turning while the key store is asked, and say so when saving fails.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/settings/settings_view.h"
#include "app/shell_settings.h"
#include "support/app_fixture.h"
#include "support/qt/silent_keyring.h"
#include "sync/data_sync_service.h"

using namespace tessel;
using test::spin;

namespace {

TEST(SettingsHang, LookupAndSaveNeverBlockTheEventLoop) {
    test::app();
    test::TempDir dir;
    test::SilentKeyring keyring;
    ASSERT_TRUE(keyring.ready());

    // From here on every key-store call of this process goes to the stopped service.
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").string());
    const QString settingsPath = QString::fromStdString((dir.path() / "app.ini").string());
    DataSyncService::Options options;
    options.container = dir.path() / "container";
    options.settingsPath = settingsPath;
    DataSyncService sync(options);
    ShellSettings shell(settingsPath);
    SettingsView view(&sync, &shell, nullptr);

    int ticks = 0;
    QTimer clock;
    clock.setInterval(10);
    QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
    clock.start();

    view.show();
    auto* token = view.findChild<QLineEdit*>("token");
    ASSERT_TRUE(view.lookingUpKey());
    EXPECT_TRUE(token->isReadOnly());
    EXPECT_EQ(token->placeholderText(), QStringLiteral("正在读取密钥环…"));
    ASSERT_TRUE(spin([&] { return !view.lookingUpKey(); }, 30000));
    EXPECT_GT(ticks, 20);
    EXPECT_FALSE(token->isReadOnly());

    // Saving a key: the store's refusal is shown; address and interval stay as they were.
    const QString before = sync.endpoint();
    auto* interval = view.findChild<QComboBox*>("interval");
    interval->setCurrentIndex(interval->findText(QStringLiteral("5 分钟")));
    emit interval->activated(interval->currentIndex());
    token->setText(QStringLiteral("secret"));
    QSignalSpy done(&view, &SettingsView::saveFinished);
    ticks = 0;
    QTest::keyClick(token, Qt::Key_Return);
    EXPECT_TRUE(view.saving());
    ASSERT_TRUE(spin([&] { return done.count() == 1; }, 30000));
    EXPECT_GT(ticks, 20);
    auto* message = view.findChild<QLabel*>("message");
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text(), QStringLiteral("无法保存 Gateway 密钥：系统密钥环不可用。"));
    EXPECT_EQ(sync.endpoint(), before);
    EXPECT_EQ(sync.interval(), 60);
    EXPECT_EQ(token->text(), QStringLiteral("secret"));
}

} // namespace
