// The settings form over a real service and the suite's keyring, used with keyboard and mouse.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <QCoro/QCoroTask>

#include <fstream>

#include <nlohmann/json.hpp>

#include "app/settings/settings_view.h"
#include "app/settings/widget_settings_sections.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "dashboard_fixture.h"
#include "gateway/keychain.h"
#include "model/display.h"
#include "support/qt/reload_listener.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"
#include "sync/widget_center.h"
#include "ui/style.h"
#include "ui/text_label.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::spin;
namespace fs = std::filesystem;

namespace {

Quota quota(const char* user, std::optional<std::string> plan = std::nullopt) {
    return Quota{.provider = "acme", .name = "Acme Pro", .user = user, .plan = plan};
}

class SettingsForm : public test::DashboardTest {
protected:
    void SetUp() override {
        DashboardTest::SetUp();
        serveQuotas({quota("ann", "Team"), quota("bob"), quota("cai")});
    }
    void serveQuotas(std::vector<Quota> quotas) {
        nlohmann::json data = nlohmann::json::array();
        for (const Quota& q : quotas) {
            nlohmann::json item = {{"provider", q.provider}, {"name", q.name}, {"user", *q.user}};
            if (q.plan)
                item["plan"] = *q.plan;
            data.push_back(item);
        }
        gateway.on("v1/tessel/quotas", test::Route::json(nlohmann::json{{"data", data}}.dump()));
    }
    DataSyncService& sync() { return service(); }
    void refresh() {
        QCoro::waitFor(sync().refresh(false));
        test::settle();
    }
    SettingsView& view() {
        if (!view_) {
            view_ = std::make_unique<SettingsView>(&sync(), &shell, &updates);
            view_->show();
            EXPECT_TRUE(spin([&] { return !view_->lookingUpKey(); }));
        }
        return *view_;
    }
    template <class T> T* find(const char* name) {
        T* found = view().findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The preferences file once the service's writes have landed.
    WidgetPreferences stored() {
        const WidgetPreferencesStore store(container);
        spin([&] { return store.load() == sync().widgetPreferences(); });
        return store.load();
    }
    QVariant storedSetting(const AppSettings::Key& key) const {
        return QSettings(settingsPath(), QSettings::IniFormat).value(key.key());
    }
    void save() {
        QSignalSpy done(&view(), &SettingsView::saveFinished);
        QTest::keyClick(find<QLineEdit>("endpoint"), Qt::Key_Return);
        EXPECT_TRUE(spin([&] { return done.count() == 1; }));
    }
    QString message() {
        auto* label = find<QLabel>("message");
        return label->isVisibleTo(&view()) ? label->text() : QString();
    }

    test::ReloadListener bus;
    ShellSettings shell{settingsPath()};
    UpdateController updates{"https://updates.example.org/a.xml", "1"};
    std::unique_ptr<SettingsView> view_;
};

// Types text, including characters that have no key of their own.
void type(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Toggles the subscription switch of `row` with the keyboard.
void toggleRow(QListView* list, int row) {
    list->setFocus();
    list->setCurrentIndex(list->model()->index(row, 0));
    QTest::keyClick(list, Qt::Key_Space);
}

std::vector<std::string> ids(std::initializer_list<const char*> users) {
    std::vector<std::string> out;
    for (const char* user : users)
        out.push_back(quota(user).id());
    return out;
}

TEST_F(SettingsForm, SubscriptionSwitchesKeepTheSelectionRules) {
    ASSERT_TRUE(bus.connected);
    refresh();
    QListView* list = find<QListView>("subscriptions");
    auto* all = find<QCheckBox>("allSubscriptions");
    auto checked = [&](int row) {
        return list->model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    };
    ASSERT_EQ(list->model()->rowCount(), 3);
    EXPECT_EQ(list->model()->index(0, 0).data(Qt::AccessibleDescriptionRole), "Team");
    bus.take(0);

    toggleRow(list, 1);
    EXPECT_EQ(stored().providerIDs, ids({"ann", "cai"}));
    EXPECT_EQ(bus.take(1), 1);
    EXPECT_FALSE(all->isChecked());
    EXPECT_TRUE(checked(0) && !checked(1) && checked(2));

    toggleRow(list, 0);
    toggleRow(list, 2);
    EXPECT_EQ(stored().providerIDs, std::vector<std::string>{"__none__"});
    EXPECT_FALSE(checked(0) || checked(1) || checked(2) || all->isChecked());
    toggleRow(list, 2);
    toggleRow(list, 0);
    EXPECT_EQ(stored().providerIDs, ids({"cai", "ann"})); // appended, not in snapshot order

    all->click();
    EXPECT_TRUE(stored().providerIDs.empty());
    all->click();
    EXPECT_EQ(stored().providerIDs, ids({"ann", "bob", "cai"}));
    EXPECT_TRUE(checked(0) && checked(1) && checked(2));
    EXPECT_EQ(bus.take(6), 6);

    // An identifier whose subscription is gone stays; the gone row disappears.
    serveQuotas({quota("ann"), quota("cai")});
    refresh();
    EXPECT_EQ(list->model()->rowCount(), 2);
    toggleRow(list, 0);
    EXPECT_EQ(stored().providerIDs, ids({"bob", "cai"}));
}

TEST_F(SettingsForm, PickersAndSwitchesSaveAtOnceAndLeaveForeignValues) {
    ASSERT_TRUE(bus.connected);
    WidgetPreferences odd;
    odd.quotaCount = 7;
    odd.metric = "sparkline";
    WidgetPreferencesStore(container).save(odd);
    auto* metric = find<QComboBox>("metric");
    auto* count = find<QComboBox>("quotaCount");
    auto* chart = find<QCheckBox>("showChart");
    auto* chartMetric = find<QComboBox>("chartMetric");
    EXPECT_EQ(metric->currentIndex(), -1);
    EXPECT_EQ(count->currentIndex(), -1);

    type(find<QComboBox>("period"), QStringLiteral("3"));
    EXPECT_EQ(stored().period, "month");
    EXPECT_EQ(stored().quotaCount, 7); // untouched, though shown as no choice
    type(chartMetric, QStringLiteral("估"));
    EXPECT_EQ(stored().chartMetric, "cost");
    EXPECT_EQ(bus.take(2), 2);

    chart->click();
    EXPECT_FALSE(stored().showChart);
    EXPECT_FALSE(chartMetric->isVisibleTo(&view()));
    EXPECT_EQ(stored().chartMetric, "cost");
    chart->click();
    EXPECT_TRUE(chartMetric->isVisibleTo(&view()));
    test::act(find<QCheckBox>("showAgents"), QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(stored().showAgents); // a screen reader's "Toggle" saves as a click does
    EXPECT_EQ(bus.take(3), 3);

    // No widget host to start: the section says so instead of failing silently.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    find<QPushButton>("openGallery")->click();
    qputenv("PATH", path);
    EXPECT_TRUE(find<QLabel>("galleryIssue")->isVisibleTo(&view()));

    find<QPushButton>("resetPreferences")->click();
    EXPECT_EQ(stored(), WidgetPreferences());
    EXPECT_EQ(bus.take(1), 1);
    EXPECT_EQ(count->currentText(), QStringLiteral("3 个"));
}

TEST_F(SettingsForm, KeyFieldFollowsTheAddressAndSaveAppliesTrimmedSettings) {
    if (!qEnvironmentVariableIsSet("TESSEL_SECRET_SERVICE"))
        GTEST_SKIP() << "no Secret Service";
    const QString endpoint = QString::fromStdString(gateway.endpoint());
    GatewayKeychain::save(" k1 ", endpoint.toStdString());
    setting(AppSettings::interval, 45);
    auto* address = find<QLineEdit>("endpoint");
    auto* token = find<QLineEdit>("token");
    EXPECT_EQ(address->text(), endpoint);
    EXPECT_EQ(token->text(), QStringLiteral(" k1 "));
    EXPECT_EQ(find<QComboBox>("interval")->currentIndex(), -1);

    address->setFocus();
    QTest::keyClick(address, Qt::Key_Slash);
    EXPECT_TRUE(spin([&] { return !view().lookingUpKey(); }));
    EXPECT_EQ(token->text(), QString());
    QTest::keyClick(address, Qt::Key_Backspace);
    EXPECT_TRUE(spin([&] { return !view().lookingUpKey(); }));
    EXPECT_EQ(token->text(), QStringLiteral(" k1 "));

    // Surrounding white space is not stored and stays in the field; the new key replaces k1.
    address->setText(QStringLiteral("  ") + endpoint + QStringLiteral("\t"));
    EXPECT_TRUE(spin([&] { return !view().lookingUpKey(); }));
    EXPECT_EQ(token->text(), QStringLiteral(" k1 "));
    token->setText(QStringLiteral("k2"));
    type(find<QComboBox>("interval"), QStringLiteral("2"));
    save();
    EXPECT_EQ(message(), QStringLiteral("设置已保存。"));
    EXPECT_EQ(storedSetting(AppSettings::endpoint).toString(), endpoint);
    EXPECT_EQ(storedSetting(AppSettings::interval).toInt(), 120);
    EXPECT_EQ(GatewayKeychain::load(endpoint.toStdString()), "k2");
    EXPECT_TRUE(address->text().startsWith(u' '));

    // An emptied key field deletes the key of that address, white space around it or not.
    token->clear();
    save();
    EXPECT_FALSE(GatewayKeychain::load(endpoint.toStdString()));
    address->setText(endpoint);
    EXPECT_TRUE(spin([&] { return !view().lookingUpKey(); }));
    EXPECT_EQ(token->text(), QString());

    // Refused addresses: the validation message, nothing stored, the key store untouched.
    GatewayKeychain::save("k3", endpoint.toStdString());
    for (const QString& text :
         {QStringLiteral("http://127.0.0.1:3425 /"), "http://" + QString(100000, u'a')}) {
        address->setText(text);
        token->setText(QStringLiteral("other"));
        save();
        EXPECT_EQ(message(), QStringLiteral("请输入不含路径、凭证或查询参数的 Gateway 地址。"))
            << text.left(40).toStdString();
    }
    EXPECT_EQ(storedSetting(AppSettings::endpoint).toString(), endpoint);
    EXPECT_EQ(sync().endpoint(), endpoint);
    EXPECT_EQ(GatewayKeychain::load(endpoint.toStdString()), "k3");

    // Showing the view again drops unsaved edits.
    view().hide();
    view().show();
    EXPECT_EQ(address->text(), endpoint);

    // A settings folder taken by a file: the message, and neither settings nor key change.
    const fs::path folder = fs::path(settingsPath().toStdString()).parent_path();
    fs::remove_all(folder);
    std::ofstream(folder) << "file";
    EXPECT_TRUE(spin([&] { return !view().lookingUpKey(); }));
    token->setText(QStringLiteral("kept-out"));
    save();
    EXPECT_EQ(message(), QStringLiteral("无法保存设置，请检查配置目录的写入权限。"));
    EXPECT_EQ(GatewayKeychain::load(endpoint.toStdString()), "k3");
    type(find<QComboBox>("appearance"), QStringLiteral("深"));
    EXPECT_EQ(find<QComboBox>("appearance")->currentText(), QStringLiteral("深色"));
    EXPECT_EQ(shell.appearanceText(), QStringLiteral("system"));
    GatewayKeychain::save("", endpoint.toStdString());
}

TEST_F(SettingsForm, ShellChoicesDiagnosticsAndUpdateText) {
    EXPECT_TRUE(find<QLabel>("feedNote")->text().contains(u"updates.example.org"));
    EXPECT_EQ(find<QLabel>("version")->text(), QStringLiteral("未连接"));
    EXPECT_FALSE(find<QLabel>("attemptedAt")->isVisibleTo(&view()));

    setting(AppSettings::menuQuota, QString::fromStdString(quota("zed").id()));
    shell.reload();
    refresh();
    auto* menuQuota = find<QComboBox>("menuQuota");
    ASSERT_EQ(menuQuota->count(), 4);
    EXPECT_EQ(menuQuota->currentIndex(), -1); // a vanished subscription selects nothing
    menuQuota->setFocus();
    QTest::keyClick(menuQuota, Qt::Key_End);
    EXPECT_EQ(storedSetting(AppSettings::menuQuota).toString(),
              QString::fromStdString(quota("cai").id()));
    auto* appearance = find<QComboBox>("appearance");
    type(appearance, QStringLiteral("深"));
    EXPECT_EQ(storedSetting(AppSettings::appearance).toString(), QStringLiteral("dark"));
    // With the focus the wheel picks (without, it scrolls the page: program_test).
    QApplication::setActiveWindow(&view());
    appearance->setFocus();
    QWheelEvent up({5, 5}, appearance->mapToGlobal(QPointF(5, 5)), {}, {0, 120}, Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(appearance, &up);
    EXPECT_EQ(storedSetting(AppSettings::appearance).toString(), QStringLiteral("light"));
    test::act(find<QCheckBox>("showMenuBar"), QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(shell.showMenuBar());
    auto* notify = find<QCheckBox>("notifyLowQuota");
    EXPECT_FALSE(notify->isChecked()); // off unless asked for
    notify->click();
    EXPECT_TRUE(storedSetting(AppSettings::notifyLowQuota).toBool());
    EXPECT_TRUE(shell.notifyLowQuota());

    EXPECT_NE(find<QLabel>("version")->text(), QStringLiteral("未连接"));
    EXPECT_TRUE(find<QLabel>("attemptedAt")->isVisibleTo(&view()));

    // A failed cycle and a container that cannot be written: two orange lines, issue first.
    gateway.on("api/hello", test::Route::json("{}", 500));
    fs::remove_all(container);
    std::ofstream(container) << "not a directory";
    refresh();
    auto* issue = find<QLabel>("issue");
    auto* storage = find<QLabel>("storageIssue");
    ASSERT_TRUE(spin([&] { return storage->isVisibleTo(&view()); }));
    EXPECT_TRUE(issue->isVisibleTo(&view()));
    EXPECT_LT(issue->mapTo(&view(), QPoint()).y(), storage->mapTo(&view(), QPoint()).y());
    EXPECT_EQ(static_cast<TextLabel*>(issue)->tint(), Style::Tint::Orange);

    // A login item that cannot be written: the message, and the switch shows the real state.
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "blocked").string());
    std::ofstream(dir.path() / "blocked") << "file";
    find<QCheckBox>("login")->click();
    EXPECT_TRUE(message().startsWith(QStringLiteral("登录项设置失败：")));
    EXPECT_FALSE(find<QCheckBox>("login")->isChecked());

    SettingsView noFeed(&sync(), &shell, nullptr);
    EXPECT_EQ(noFeed.findChild<QLabel*>("feedNote")->text(),
              QStringLiteral("此版本通过系统的软件包管理器更新。"));
}

TEST_F(SettingsForm, TabWalksTheControlsTopToBottom) {
    view().resize(SettingsView::minimumSide, SettingsView::minimumSide);
    view().activateWindow();
    QApplication::setActiveWindow(&view());
    find<QLineEdit>("endpoint")->setFocus();
    QStringList names;
    int lastY = -1;
    bool ordered = true;
    for (int i = 0; i < 40; ++i) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        names << focused->objectName();
        if (view().widget()->isAncestorOf(focused)) {
            const int y = focused->mapTo(view().widget(), QPoint()).y();
            ordered = ordered && y >= lastY;
            lastY = y;
        }
        QTest::keyClick(focused, Qt::Key_Tab);
        if (QApplication::focusWidget() == find<QLineEdit>("endpoint"))
            break;
    }
    EXPECT_TRUE(ordered) << names.join(u' ').toStdString();
    EXPECT_EQ(names.mid(0, 5), (QStringList{"endpoint", "token", "detect", "interval", "save"}));
    EXPECT_EQ(names.last(), QStringLiteral("notifyLowQuota"));
}

} // namespace

#include "support/qt/moc_reload_listener.cpp"
