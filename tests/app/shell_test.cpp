// The shell over a real sync service: URL routing, tray, dashboard window and appearance; the
// tray icon's states; low-quota notifications on the suite's bus; the update check against the
// test gateway; the autostart entry.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDialogButtonBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyleOption>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <QCoro/QCoroTask>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "app/application.h"
#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/sidebar.h"
#include "app/dashboard/toolbar.h"
#include "app/dashboard_window.h"
#include "app/login_item.h"
#include "app/menu_panel.h"
#include "app/quota_notifier.h"
#include "app/settings/settings_window.h"
#include "app/shell_settings.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "app/tray_popup.h"
#include "app/update_controller.h"
#include "app/update_feed.h"
#include "app/url_router.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "support/temp_dir.h"
#include "sync/data_sync_service.h"
#include "ui/style.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::spin;
using State = TrayIcon::State;
using Kind = UpdateController::Result::Kind;
namespace fs = std::filesystem;

namespace {

QStringList texts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return out;
}

// The strongest contrast (WCAG ratio) of a pixel in `box` with its top left one, the background.
double contrast(const QImage& image, const QRect& box) {
    const auto luminance = [](QColor c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double background = luminance(image.pixelColor(box.topLeft()));
    double strongest = 1;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            const double l = luminance(image.pixelColor(x, y));
            strongest = std::max(strongest, (std::max(l, background) + 0.05) /
                                                (std::min(l, background) + 0.05));
        }
    return strongest;
}

// A button's icon as styles paint it (a pixmap, without the widget) over its background.
QImage iconOn(QAbstractButton* button, QPalette::ColorRole behind) {
    QImage image(button->iconSize(), QImage::Format_ARGB32);
    image.fill(button->palette().color(behind));
    QPainter(&image).drawPixmap(0, 0, button->icon().pixmap(button->iconSize()));
    return image;
}

class Shell : public test::GatewayTest {
protected:
    TesselWidgetApp::Options options() const {
        TesselWidgetApp::Options o;
        o.sync.container = dir.path() / "container";
        o.sync.settingsPath = settingsPath();
        o.sync.client.requestTimeout = 400ms;
        o.sync.client.resourceTimeout = 1500ms;
        return o;
    }
    TesselWidgetApp& shell() {
        if (!shell_)
            shell_ = std::make_unique<TesselWidgetApp>(options());
        return *shell_;
    }
    void setSetting(const AppSettings::Key& key, const QVariant& value) {
        setting(key, value);
        shell().settings().reload();
    }
    bool waitForCycles(std::size_t hellos) {
        return spin([&] { return gateway.requestCount("api/hello") >= hellos; }) &&
               spin([&] { return !shell().sync().syncing(); });
    }

    std::unique_ptr<TesselWidgetApp> shell_;
};

// Without a dashboard, which would poll too: every cycle counted here is one a URL asked for.
TEST_F(Shell, UrlsSelectSectionsOnlyRefreshRefreshesAndForeignOnesChangeNothing) {
    DataSyncService& sync = shell().sync();
    struct Case {
        QString url;
        const char* screen; // nullptr: not ours, the screen stays
        bool refreshes = false;
    };
    const Case cases[] = {
        {"tesselwidget://widgets", "overview"},
        {"tesselwidget://usage/any/path?q=1#f", "usage"},
        {"tesselwidget://me@settings:99", "settings"},
        {"tesselwidget:usage", "overview"},
        {"tesselwidget://", "overview"},
        {"tesselwidget://Refresh", "overview"},
        {"tesselwidget://" + QString(200000, u'x'), "overview"},
        {"tesselwidget://refresh", "overview", true},
        {"tesselwidget://refresh?x#y", "overview", true},
        {"https://refresh", nullptr},
        {"TESSELWIDGET://settings", nullptr},
        {"tesselwidgets://settings", nullptr},
        {"//refresh", nullptr},
        {"", nullptr},
        {QString(200000, u'\u00ff'), nullptr},
        {QString::fromUtf8("\x01\x02\xff\xfe:refresh", 9), nullptr},
    };
    std::size_t hellos = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.left(40).toStdString());
        sync.setScreen(QStringLiteral("widgets"));
        EXPECT_EQ(UrlRouter::open(sync, c.url), c.screen != nullptr);
        EXPECT_EQ(sync.screen(), QString::fromUtf8(c.screen ? c.screen : "widgets"));
        EXPECT_EQ(sync.syncing(), c.refreshes);
        if (c.refreshes) {
            ++hellos;
            ASSERT_TRUE(waitForCycles(hellos));
        }
        EXPECT_EQ(gateway.requestCount("api/hello"), hellos);
    }
    EXPECT_TRUE(sync.snapshot().updatedAt.has_value());
    EXPECT_EQ(shell().dashboard(), nullptr);
}

TEST_F(Shell, UrlsAndThePanelBringTheOneDashboardForwardAtTheirSection) {
    EXPECT_FALSE(shell().openUrl(QStringLiteral("https://usage")));
    EXPECT_EQ(shell().dashboard(), nullptr);
    EXPECT_TRUE(shell().openUrl(QStringLiteral("tesselwidget://usage")));
    DashboardWindow* window = shell().dashboard();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    // Showing the window starts the polling loop: its first cycle reaches the gateway.
    EXPECT_TRUE(waitForCycles(1));

    window->close();
    EXPECT_TRUE(shell().openUrl(QStringLiteral("tesselwidget://settings")));
    EXPECT_EQ(shell().dashboard(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(shell().sync().screen(), QStringLiteral("settings"));

    // The application menu: About, then the update check right after it.
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(texts(menus.first()->menu()->actions()).mid(0, 2),
              QStringList({"关于 Tessel Widget", "检查更新…"}));

    // The panel's section button: the same window, at that section, and the popup gone.
    window->close();
    shell().sync().setScreen(QStringLiteral("usage"));
    shell().showPanel(QRect(10, 10, 24, 24));
    TrayPopup* popup = shell().popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    auto* panel = qobject_cast<MenuPanel*>(popup->panel());
    ASSERT_NE(panel, nullptr);
    panel->findChild<QPushButton*>("settings")->click();
    EXPECT_EQ(shell().dashboard(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(shell().sync().screen(), QStringLiteral("settings"));
    shell().showPanel(QRect(10, 10, 24, 24));
    emit panel->dashboardRequested();
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget* w) { return qobject_cast<DashboardWindow*>(w); }),
              1);
}

TEST_F(Shell, TrayTitleFollowsTheSnapshotAndItsMenuHoldsEveryPanelAction) {
    EXPECT_EQ(shell().tray().title(), QStringLiteral("Tessel"));
    QCoro::waitFor(shell().sync().refresh(false));
    const auto& quotas = shell().sync().snapshot().quotas;
    ASSERT_GE(quotas.size(), 2u);
    const auto percent = [](const Quota& q) {
        return QStringLiteral("%1%").arg(qint64(q.windows->front().remainingPercent().value()));
    };
    EXPECT_EQ(shell().tray().title(), percent(quotas[0]));
    EXPECT_TRUE(shell().tray().toolTip().contains(percent(quotas[0])));

    setSetting(AppSettings::menuQuota, QString::fromStdString(quotas[1].id()));
    EXPECT_EQ(shell().tray().title(), percent(quotas[1]));
    setSetting(AppSettings::menuQuota, QStringLiteral("gone|gone|gone|gone"));
    EXPECT_EQ(shell().tray().title(), QStringLiteral("Tessel"));

    Tray& tray = shell().tray();
    EXPECT_EQ(texts(tray.menu()->actions()), (QStringList{"打开面板", "|", "刷新", "打开概览",
                                                          "设置", "|", "检查更新…", "|", "退出"}));
    QAction* settings = tray.menu()->actions()[4];
    settings->trigger();
    ASSERT_NE(shell().settingsWindow(), nullptr);
    EXPECT_TRUE(shell().settingsWindow()->isVisible());
    // The application's name once: Qt appends it to titles that do not end with it.
    EXPECT_EQ(shell().settingsWindow()->windowTitle(), QStringLiteral("设置 — Tessel Widget"));
    settings->trigger();
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget* w) { return qobject_cast<SettingsWindow*>(w); }),
              1);

    // Refresh is disabled while a cycle runs, and back afterwards.
    QAction* refresh = tray.menu()->actions()[2];
    spin([&] { return !shell().sync().syncing(); });
    refresh->trigger();
    EXPECT_TRUE(shell().sync().syncing());
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_TRUE(spin([&] { return refresh->isEnabled(); }));
}

TEST_F(Shell, AppearanceWrittenElsewhereColoursTheDashboardOnly) {
    ShellSettings& settings = shell().settings();
    DashboardWindow* window = shell().showDashboard();
    const QColor desktop = QApplication::palette().color(QPalette::Window);
    const auto background = [&] { return window->palette().color(QPalette::Window); };
    // QSettings replaces the file by renaming, which ends a plain file watch after one change.
    const auto writeElsewhere = [&](const char* value) {
        QSettings other(settingsPath(), QSettings::IniFormat);
        other.setValue(AppSettings::appearance.key(), value);
        other.sync();
        return spin([&] { return settings.appearanceText() == QLatin1StringView(value); });
    };
    ASSERT_TRUE(writeElsewhere("dark"));
    EXPECT_LT(background().lightness(), 80);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktop);
    ASSERT_TRUE(writeElsewhere("light"));
    EXPECT_GT(background().lightness(), 200);
    ASSERT_TRUE(writeElsewhere("auto"));
    EXPECT_EQ(background(), desktop);
    EXPECT_EQ(settings.appearance(), ShellSettings::Appearance::System);

    EXPECT_TRUE(settings.showMenuBar());
    settings.setShowMenuBar(false);
    EXPECT_FALSE(ShellSettings(settingsPath()).showMenuBar());
}

// Adwaita's dark symbolic icons, recoloured, on dark and light. TESSEL_SCREENSHOTS=DIR keeps
// them.
TEST_F(Shell, DarkAppearanceKeepsIconsAndCheckBoxesReadable) {
    // The offscreen platform names no icon theme nor where themes are; a desktop's names both.
    const QStringList desktopPaths = QIcon::themeSearchPaths();
    const QPalette desktop = QApplication::palette();
    QStringList paths = desktopPaths;
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        paths << data + QStringLiteral("/icons");
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    ASSERT_TRUE(QIcon::hasThemeIcon(QStringLiteral("view-refresh-symbolic")));
    const auto look = [](QWidget* window, const char* name) {
        QApplication::processEvents();
        const QImage image = window->grab().toImage();
        if (const QString shots = qEnvironmentVariable("TESSEL_SCREENSHOTS"); !shots.isEmpty())
            image.save(shots + u'/' + QLatin1StringView(name) + QStringLiteral(".png"));
        return image;
    };
    const auto in = [](QWidget* window, QWidget* widget, QRect box) {
        return QRect(widget->mapTo(window, box.topLeft()), box.size());
    };

    setSetting(AppSettings::appearance, "dark");
    DashboardWindow* window = shell().showDashboard();
    QImage image = look(window, "dashboard-dark-adwaita");
    QListWidget* sections = window->view()->sidebar()->list();
    for (int row = 0; row < sections->count(); ++row) {
        const QRect item = sections->visualItemRect(sections->item(row));
        const QRect icon(item.topLeft(), QSize(sections->iconSize().width() + 4, item.height()));
        EXPECT_GE(contrast(image, in(window, sections->viewport(), icon)), 3.0) << row;
    }
    const QImage refresh = iconOn(window->view()->toolbar()->refreshButton(), QPalette::Window);
    EXPECT_GE(contrast(refresh, refresh.rect()), 3.0);

    shell().sync().setScreen(QStringLiteral("settings"));
    image = look(window, "settings-dark-adwaita");
    auto* unchecked = window->findChild<QCheckBox*>(QStringLiteral("showReset"));
    ASSERT_FALSE(unchecked->isChecked());
    QStyleOptionButton option;
    option.initFrom(unchecked);
    const QRect box =
        unchecked->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, unchecked);
    EXPECT_GE(contrast(image, in(window, unchecked, box.adjusted(-2, -2, 2, 2))), 3.0);

    ASSERT_TRUE(spin([&] { return !shell().sync().syncing(); }));
    for (const char* name : {"popup-light-adwaita", "popup-dark-adwaita"}) {
        if (QByteArray(name).contains("dark"))
            QApplication::setPalette(*ShellSettings::palette(ShellSettings::Appearance::Dark));
        shell().showPanel(QRect(10, 10, 24, 24));
        look(shell().popup(), name);
        const QImage icon = iconOn(
            shell().popup()->findChild<QPushButton*>(QStringLiteral("refresh")), QPalette::Button);
        EXPECT_GE(contrast(icon, icon.rect()), 3.0) << name;
        shell().popup()->hide();
    }
    QApplication::setPalette(desktop);
    QIcon::setThemeSearchPaths(desktopPaths);
    QIcon::setThemeName({});
}

TEST_F(Shell, StartWaitsForALateTrayThenFallsBackToTheDashboard) {
    bool tray = false;
    TesselWidgetApp::Options o = options();
    o.trayWait = 1h;
    o.trayAvailable = [&] { return tray; };
    {
        // The panel comes up during the wait and says so: the tray's loop runs, no window opens,
        // and none will when the wait would have ended.
        TesselWidgetApp login(o);
        login.start();
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
        tray = true;
        ASSERT_TRUE(QDBusConnection::sessionBus().registerService("org.kde.StatusNotifierWatcher"));
        ASSERT_TRUE(spin([&] { return login.tray().isVisible(); }));
        EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 1; }));
        EXPECT_FALSE(login.findChild<QTimer*>(QStringLiteral("trayWait"))->isActive());
        EXPECT_EQ(login.dashboard(), nullptr);
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
        QDBusConnection::sessionBus().unregisterService("org.kde.StatusNotifierWatcher");
    }
    // No panel comes: the window, once the wait is over.
    tray = false;
    o.trayWait = 100ms;
    TesselWidgetApp late(o);
    late.start();
    EXPECT_EQ(late.dashboard(), nullptr);
    ASSERT_TRUE(spin([&] { return late.dashboard() != nullptr; }));
    EXPECT_TRUE(late.dashboard()->isVisible());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());

    // The offscreen platform never has a tray: nothing to wait for.
    ASSERT_FALSE(shell().tray().isVisible());
    shell().start();
    ASSERT_NE(shell().dashboard(), nullptr);
    EXPECT_TRUE(shell().dashboard()->isVisible());
}

// Qt's own texts are Chinese beside ours whatever the locale says.
TEST_F(Shell, QtsOwnTextsAreChineseInAnyLocale) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    shell();
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));

    QLineEdit field;
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList actions;
    for (const QAction* action : menu->actions())
        actions.append(action->text());
    EXPECT_TRUE(actions.join(u' ').contains(QStringLiteral("复制")))
        << actions.join(u' ').toStdString();

    // The update check's answer closes with the same button as every other dialog.
    UpdateController updates(QString(), QStringLiteral("0.1.0"));
    updates.checkForUpdates();
    QMessageBox* answer = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w))
            answer = b;
    ASSERT_NE(answer, nullptr);
    QStringList buttons;
    for (const QAbstractButton* b : answer->buttons())
        buttons.append(b->text());
    EXPECT_EQ(buttons, QStringList{QStringLiteral("确定")});
    answer->close();
}

TEST(PopupPlacement, StaysOnTheScreenBesideTheIcon) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(330, 480);
    // Top panel: below the icon (clear of it), pulled in from the right edge.
    EXPECT_EQ(TrayPopup::placement({1890, 2, 24, 24}, size, screen), QRect(1590, 30, 330, 480));
    // Bottom panel: above the icon.
    EXPECT_EQ(TrayPopup::placement({90, 1054, 24, 24}, size, screen), QRect(0, 570, 330, 480));
    // Taller than the room above the icon: as tall as that room, from the screen's top.
    EXPECT_EQ(TrayPopup::placement({500, 900, 24, 24}, {330, 2000}, screen),
              QRect(346, 0, 330, 896));
    // Scale 2 on 1280 x 800 under a 28-pixel panel: within the 640 x 386, clear of the icon.
    const QRect area(0, 14, 640, 386);
    const QRect top = TrayPopup::placement({600, 1, 12, 12}, size, area);
    EXPECT_TRUE(area.contains(top));
    EXPECT_EQ(top.top(), 17);
}

int count(const QImage& image, const QRect& area, const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool orange(QColor c) {
    return c.alpha() > 200 && c.red() > 220 && c.green() > 110 && c.green() < 180 && c.blue() < 60;
}

// The icon as a panel of that colour shows it.
QImage onPanel(const QImage& icon, QColor panel) {
    QImage out(icon.size(), QImage::Format_RGB32);
    out.fill(panel);
    QPainter(&out).drawImage(0, 0, icon);
    return out;
}

TEST(TrayIconStates, MarkAndDimmingAtEveryPanelSizeWithTheNumberLegible) {
    test::app();
    for (const int size : {16, 22, 24, 32}) {
        for (const QString& title : {QStringLiteral("62%"), QStringLiteral("Tessel")}) {
            SCOPED_TRACE(QStringLiteral("%1 px, %2").arg(size).arg(title).toStdString());
            const QRect corner(size / 2, 0, size - size / 2, size / 2);
            const QRect bird(0, 0, size / 2, size * 4 / 10);
            // The middle of the badge: digits and their background only.
            const QRect digits(size / 5, size * 3 / 4 - 1, size * 3 / 5, 3);
            std::map<State, QImage> images;
            for (const State state : {State::Current, State::Stale, State::Issue})
                images[state] = TrayIcon::render(title, size, 1.0, state);

            const auto opaque = [](QColor c) { return c.alpha() > 200; };
            EXPECT_EQ(count(images[State::Current], corner, orange), 0);
            EXPECT_GT(count(images[State::Current], bird, opaque), 0);
            for (const State state : {State::Stale, State::Issue}) {
                const QImage& image = images[state];
                EXPECT_GE(count(image, corner, orange), size * size / 25);
                // The bird shows through at half strength: no opaque pixel of it is left.
                EXPECT_EQ(count(image, bird, opaque), 0);
                if (title != u"62%")
                    continue;
                for (const QColor panel : {QColor(0x24, 0x24, 0x24), QColor(0xf0, 0xf0, 0xf0)}) {
                    const QImage shown = onPanel(image, panel);
                    int light = 0, dark = 255;
                    for (int y = digits.top(); y <= digits.bottom(); ++y)
                        for (int x = digits.left(); x <= digits.right(); ++x) {
                            light = std::max(light, shown.pixelColor(x, y).lightness());
                            dark = std::min(dark, shown.pixelColor(x, y).lightness());
                        }
                    EXPECT_GE(light - dark, 120) << panel.name().toStdString();
                }
            }
            // From 22 px the sign inside the mark tells a failure from old data.
            if (size >= 22) {
                EXPECT_NE(images[State::Stale], images[State::Issue]);
            }
        }
    }
}

class TrayState : public test::GatewayTest {
protected:
    Tray& tray(const Snapshot& stored) {
        SnapshotStore(dir.path() / "container").save(stored);
        DataSyncService::Options o;
        o.container = dir.path() / "container";
        o.settingsPath = settingsPath();
        service_ = std::make_unique<DataSyncService>(o);
        settings_ = std::make_unique<ShellSettings>(settingsPath());
        tray_ = std::make_unique<Tray>(service_.get(), settings_.get(), [] { return false; });
        return *tray_;
    }
    static Snapshot snapshot(std::chrono::seconds age) {
        Snapshot s;
        s.updatedAt =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) - age;
        for (const char* name : {"主力订阅", "备用"}) {
            Quota q;
            q.provider = q.name = name;
            q.windows = std::vector<QuotaWindow>{{.name = "5 小时", .remaining = 62.5}};
            s.quotas.push_back(q);
        }
        return s;
    }

    std::unique_ptr<DataSyncService> service_;
    std::unique_ptr<ShellSettings> settings_;
    std::unique_ptr<Tray> tray_;
};

TEST_F(TrayState, IssueAndOldDataShowInTheIconAndTheTooltipNamesTheSubscription) {
    EXPECT_EQ(tray(Snapshot{}).state(), State::Current); // nothing synced yet is no warning
    EXPECT_EQ(tray(snapshot(10s)).state(), State::Current);
    EXPECT_EQ(tray_->title(), QStringLiteral("62%"));
    EXPECT_EQ(tray_->toolTip(), QStringLiteral("Tessel 62%\n主力订阅 · 5 小时\n已同步"));

    setting(AppSettings::menuQuota, QString::fromStdString(snapshot(0s).quotas[1].id()));
    EXPECT_EQ(tray(snapshot(10min)).state(), State::Stale);
    EXPECT_EQ(tray_->toolTip(), QStringLiteral("Tessel 62%\n备用 · 5 小时\n数据已过期"));

    Snapshot failed = snapshot(10s);
    failed.issue = "网络连接失败（-1004），请确认 Tessel 正在运行。";
    EXPECT_EQ(tray(failed).state(), State::Issue);
    EXPECT_TRUE(tray_->toolTip().endsWith(
        QStringLiteral("离线 / 同步异常\n网络连接失败（-1004），请确认 Tessel 正在运行。")));
}

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

std::string feed(const std::string& items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>" + items +
           "</channel></rss>";
}

std::string item(const std::string& version, const std::string& extra = {}) {
    return "<item><title>Tessel Widget " + version + "</title><version>" + version + "</version>" +
           extra + "</item>";
}

TEST(Versions, OrderNumbersPrereleasesAndRejectGarbageAndTheFeedKeepsOnlySafeLinks) {
    using UpdateFeed::compareVersions;
    EXPECT_EQ(compareVersions(u"0.10.0", u"0.9.9"), 1);
    EXPECT_EQ(compareVersions(u"1.2", u"1.2.0"), 0);
    EXPECT_EQ(compareVersions(u"v1.2.0", u"1.2.0+build7"), 0);
    EXPECT_EQ(compareVersions(u"1.2.0-beta.2", u"1.2.0"), -1);
    EXPECT_EQ(compareVersions(u"1.2.0-beta.10", u"1.2.0-beta.9"), 1);
    EXPECT_EQ(compareVersions(u"1.2.0-beta", u"1.2.0-alpha"), 1);
    EXPECT_EQ(compareVersions(u"1.2.0-1", u"1.2.0-alpha"), -1);
    EXPECT_EQ(compareVersions(u"1.2.0-rc", u"1.2.0-rc.1"), -1);
    EXPECT_EQ(compareVersions(u"99999999999999999999999.0", u"99999999999999999999998.9"), 1);
    for (const char16_t* bad : {u"", u"1..2", u"1.x", u"latest", u"1.2-", u"١.٢"})
        EXPECT_EQ(compareVersions(bad, u"1.0"), std::nullopt);

    // The feed's items, with only safe links kept.
    const auto releases = UpdateFeed::parse(QByteArray::fromStdString(
        feed(item("0.2.0", "<description>修复 &amp; 改进</description>"
                           "<enclosure url=\"https://example.org/t-0.2.0.tar.gz\"/>") +
             "<item><title>x</title><enclosure url=\"https://example.org/x\" "
             "version=\"0.3.0\"/></item>" +
             item("0.4.0", "<link>javascript:alert(1)</link>") + item("not-a-version") +
             item("0.5.0", "<link>file:///etc/passwd</link>"))));
    ASSERT_EQ(releases.size(), 4u);
    EXPECT_EQ(releases[0].notes, QStringLiteral("修复 & 改进"));
    EXPECT_EQ(releases[0].download, QUrl("https://example.org/t-0.2.0.tar.gz"));
    EXPECT_EQ(releases[1].version, QStringLiteral("0.3.0"));
    EXPECT_TRUE(releases[2].download.isEmpty());
    EXPECT_TRUE(releases[3].download.isEmpty());
    EXPECT_EQ(UpdateFeed::newer(releases, u"0.1.0")->version, QStringLiteral("0.5.0"));
    EXPECT_FALSE(UpdateFeed::newer(releases, u"0.5.0").has_value());

    for (const char* bad : {"", "<rss><channel><item>", "<html></html>", "{\"version\":1}",
                            "<rss version=\"2.0\"></rss>"})
        EXPECT_THROW(UpdateFeed::parse(bad), UpdateFeed::FeedError) << bad;
}

class Updates : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
    UpdateController::Result check(const std::string& path, const QString& current = "0.1.0") {
        return run(QString::fromStdString(gateway.endpoint() + "/" + path), current);
    }
    UpdateController::Result run(const QString& url, const QString& current = "0.1.0") {
        UpdateController controller(url, current);
        controller.setTimeout(std::chrono::milliseconds(3000));
        QSignalSpy done(&controller, &UpdateController::finished);
        controller.check();
        EXPECT_TRUE(controller.checking());
        controller.check(); // ignored while one runs
        EXPECT_TRUE(done.wait(10000));
        EXPECT_EQ(done.count(), 1);
        EXPECT_FALSE(controller.checking());
        return done.isEmpty() ? UpdateController::Result{}
                              : done.first().first().value<UpdateController::Result>();
    }
    test::TestGateway gateway;
};

TEST_F(Updates, NewerSameAndOlderFeedsAndFailuresSayWhatWentWrong) {
    test::Route rss = test::Route::json(
        feed(item("0.1.5") + item("0.2.0", "<enclosure url=\"https://e.org/t\"/>")));
    rss.contentType = "application/rss+xml";
    gateway.on("feed.xml", rss);
    UpdateController::Result r = check("feed.xml");
    EXPECT_EQ(r.kind, Kind::Available);
    ASSERT_TRUE(r.release.has_value());
    EXPECT_EQ(r.release->version, QStringLiteral("0.2.0"));
    EXPECT_EQ(r.release->download, QUrl("https://e.org/t"));
    EXPECT_EQ(r.message, QStringLiteral("Tessel Widget 0.2.0 已发布，当前版本为 0.1.0。"));

    EXPECT_EQ(check("feed.xml", "0.2.0").kind, Kind::UpToDate);
    EXPECT_EQ(check("feed.xml", "1.0.0").kind, Kind::UpToDate);
    EXPECT_EQ(gateway.requests().front().header("User-Agent").value_or(""), "TesselWidget/0.1.0");

    // Failures say what went wrong.
    gateway.on("broken.xml", test::Route::json("<rss><channel><item>"));
    test::Route huge;
    huge.bodySize = 3 * 1024 * 1024;
    gateway.on("huge.xml", huge);
    const auto starts = [](const UpdateController::Result& r, const QString& text) {
        return r.kind == Kind::Failed && r.message == QStringLiteral("检查更新失败：") + text;
    };
    EXPECT_TRUE(starts(check("missing.xml"), QStringLiteral("更新服务器返回错误（HTTP 404）。")));
    EXPECT_TRUE(starts(check("broken.xml"), QStringLiteral("更新源格式无效。")));
    EXPECT_TRUE(starts(check("huge.xml"), QStringLiteral("更新源过大。")));

    // No feed, or one that is no web address: answered at once.
    for (const QString& url : {QString(), QStringLiteral("file:///etc/passwd")}) {
        UpdateController controller(url, QStringLiteral("0.1.0"));
        QSignalSpy done(&controller, &UpdateController::finished);
        controller.check();
        ASSERT_EQ(done.count(), 1);
        const auto result = done.first().first().value<UpdateController::Result>();
        EXPECT_EQ(result.kind, url.isEmpty() ? Kind::NoFeed : Kind::Failed);
        // Without a feed the package manager updates the build: no failure is reported.
        if (url.isEmpty()) {
            EXPECT_EQ(result.message,
                      QStringLiteral("此版本通过系统的软件包管理器更新，请在那里检查更新。"));
        }
    }

    EXPECT_EQ(
        run(QStringLiteral("http://127.0.0.1:%1/feed.xml").arg(test::TestGateway::closedPort()))
            .message,
        QStringLiteral("检查更新失败：无法连接更新服务器。"));
}

class LoginItemTest : public ::testing::Test {
protected:
    fs::path entry() const { return dir.path() / "config/autostart" / LoginItem::fileName; }
    std::string entryText() const {
        std::ifstream in(entry());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
};

TEST_F(LoginItemTest, RegisterWritesAnEnabledQuotedEntryAndUnregisterRemovesIt) {
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    const mode_t umask = ::umask(0); // the user's alone, whatever the umask
    LoginItem::registerItem(QStringLiteral("/home/a b/100%/x\"$`\\y/TesselWidget"));
    ::umask(umask);
    const std::string text = entryText();
    // Exec quoting escapes " $ ` \, then the string level doubles every backslash; % doubles.
    EXPECT_NE(text.find("Exec=\"/home/a b/100%%/x\\\\\"\\\\$\\\\`\\\\\\\\y/TesselWidget\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_EQ(fs::status(entry()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(entry().parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir.path() / "config").permissions(), fs::perms::owner_all);
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::Enabled);

    LoginItem::unregisterItem();
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    EXPECT_NO_THROW(LoginItem::unregisterItem()); // already gone counts as done
    EXPECT_THROW(LoginItem::registerItem(QStringLiteral("/bin/x\nHidden=true")), LoginItem::Error);

    // Disabled or hidden entries are not enabled.
    const auto status = [&](const std::string& keys) {
        dir.write(fs::path("config/autostart") / LoginItem::fileName, "[Desktop Entry]\n" + keys);
        return LoginItem::status();
    };
    EXPECT_EQ(status("Type=Application\nExec=x\nHidden=true\n"), LoginItem::Status::NotRegistered);
    EXPECT_EQ(status("Exec=x\nX-GNOME-Autostart-enabled=false\n"),
              LoginItem::Status::NotRegistered);
    // Keys of an action group do not count for the entry.
    EXPECT_EQ(status("Exec=x\n[Desktop Action a]\nHidden=true\n"), LoginItem::Status::Enabled);
}

TEST_F(LoginItemTest, FailuresGiveTheMessageAndTheRealState) {
    // A file where the directory should be: no user (root included) can create the entry.
    dir.write("config/autostart", "not a directory");
    QString message;
    EXPECT_FALSE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败："))) << message.toStdString();
    EXPECT_GT(message.size(), QStringLiteral("登录项设置失败：").size());

    fs::remove(dir.path() / "config/autostart");
    message.clear();
    EXPECT_TRUE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.isEmpty());

    // An entry that cannot be removed: the switch stays on, because the status still says so.
    if (geteuid() != 0) {
        fs::permissions(dir.path() / "config/autostart",
                        fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(LoginItem::apply(false, {}, message));
        EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败：")));
        fs::permissions(dir.path() / "config/autostart", fs::perms::owner_all);
    }
    EXPECT_FALSE(LoginItem::apply(false, {}, message));

    // Without a home: refused with a reason.
    test::ScopedEnv noConfig{"XDG_CONFIG_HOME", std::nullopt}, noHome{"HOME", std::nullopt};
    EXPECT_TRUE(LoginItem::entryPath().isEmpty());
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    message.clear();
    EXPECT_FALSE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败：")));
}

} // namespace

#include "shell_test.moc"
