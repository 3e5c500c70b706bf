// The settings form over a Secret Service of its own: one that never answers, one that prompts
// (a fresh account's first keyring), one that stops answering in the middle of a save. The form
// keeps the event loop turning while the key store is asked, and says what became of the key.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/settings/settings_view.h"
#include "app/shell_settings.h"
#include "gateway/keychain.h"
#include "support/app_fixture.h"
#include "support/private_keyring.h"
#include "sync/data_sync_service.h"

using namespace tessel;
using test::spin;

namespace {

// A form over its own service and settings file; the first key-store call of the process comes
// after the keyring, which the test starts first.
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
    SettingsView& view = form.view;
    DataSyncService& sync = form.sync;
    int& ticks = form.ticks;

    auto* token = view.findChild<QLineEdit*>("token");
    ASSERT_TRUE(view.lookingUpKey());
    EXPECT_TRUE(token->isReadOnly());
    EXPECT_EQ(token->placeholderText(), QStringLiteral("正在读取密钥环…"));
    ASSERT_TRUE(spin([&] { return !view.lookingUpKey(); }, 30000));
    EXPECT_GT(ticks, 20);
    EXPECT_FALSE(token->isReadOnly());
    EXPECT_EQ(token->placeholderText(), QStringLiteral("无法读取密钥环"));

    // Saving a key: the store's refusal is shown; address and interval stay as they were.
    const QString before = sync.endpoint();
    auto* interval = view.findChild<QComboBox*>("interval");
    interval->setCurrentIndex(interval->findText(QStringLiteral("5 分钟")));
    emit interval->activated(interval->currentIndex());
    ASSERT_TRUE(form.save(QStringLiteral("secret")));
    EXPECT_GT(ticks, 20);
    EXPECT_TRUE(view.findChild<QLabel*>("message")->isVisible());
    // The service never answered its opening: nothing was sent, nothing changed.
    EXPECT_EQ(form.message(), QStringLiteral("无法保存 Gateway 密钥：系统密钥环不可用。"));
    EXPECT_EQ(sync.endpoint(), before);
    EXPECT_EQ(sync.interval(), 60);
    EXPECT_EQ(token->text(), QStringLiteral("secret"));
}

// A fresh account's first save: the keyring's own prompt for a new keyring comes up, the form
// waits for the user's answer and says when the user closed it. Later the service stops
// answering in the middle of a save: the form says the key may be saved, reads it back once the
// service answers again and completes the save it was asked for.
TEST(SettingsHang, FirstKeyringPromptAndASaveTheServiceLeftUnanswered) {
    test::app();
    test::PrivateKeyring keyring;
    ASSERT_TRUE(keyring.ready());
    Form form;
    ASSERT_TRUE(spin([&] { return !form.view.lookingUpKey(); }));
    const std::string endpoint = form.sync.endpoint().toStdString();

    keyring.dismiss();
    ASSERT_TRUE(form.save(QStringLiteral("k1")));
    EXPECT_EQ(form.message(), QStringLiteral("密钥环的提示已关闭，Gateway 密钥未保存。"));
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

} // namespace
