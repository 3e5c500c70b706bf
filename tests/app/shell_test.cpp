// The shell over a real sync service: URL routing, tray, dashboard window and appearance.
#include <gtest/gtest.h>

#include <cmath>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyleOption>
#include <QTest>
#include <QToolButton>

#include <QCoro/QCoroTask>

#include "app/application.h"
#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/sidebar.h"
#include "app/dashboard/toolbar.h"
#include "app/dashboard_window.h"
#include "app/menu_panel.h"
#include "app/settings/settings_window.h"
#include "app/shell_settings.h"
#include "app/tray.h"
#include "app/tray_popup.h"
#include "app/update_controller.h"
#include "app/url_router.h"
#include "support/app_fixture.h"
#include "sync/data_sync_service.h"
#include "ui/style.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::spin;

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

TEST_F(Shell, UrlBringsTheOneDashboardForwardAndStartsTheLoop) {
    EXPECT_FALSE(shell().openUrl(QStringLiteral("https://usage")));
    EXPECT_EQ(shell().dashboard(), nullptr);
    EXPECT_TRUE(shell().openUrl(QStringLiteral("tesselwidget://usage")));
    DashboardWindow* window = shell().dashboard();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessel Widget"));
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
}

TEST_F(Shell, TrayTitleFollowsSnapshotAndMenuQuota) {
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

// Adwaita's dark symbolic icons, recoloured, on dark and light. TESSEL_SCREENSHOTS=DIR keeps them.
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

TEST_F(Shell, TrayMenuHoldsEveryPanelAction) {
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

TEST_F(Shell, PanelOpensTheSameDashboardAtItsSection) {
    shell().showPanel(QRect(10, 10, 24, 24));
    TrayPopup* popup = shell().popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    auto* panel = qobject_cast<MenuPanel*>(popup->panel());
    ASSERT_NE(panel, nullptr);

    QPushButton* settings = panel->findChild<QPushButton*>("settings");
    ASSERT_NE(settings, nullptr);
    settings->click();
    DashboardWindow* first = shell().dashboard();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(shell().sync().screen(), QStringLiteral("settings"));

    shell().showPanel(QRect(10, 10, 24, 24));
    emit panel->dashboardRequested();
    EXPECT_EQ(shell().dashboard(), first);
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(),
                            [](QWidget* w) { return qobject_cast<DashboardWindow*>(w); }),
              1);
}

TEST_F(Shell, StartWaitsForALateTrayThenFallsBackToTheDashboard) {
    bool tray = false;
    TesselWidgetApp::Options o = options();
    o.trayWait = 300ms;
    o.trayAvailable = [&] { return tray; };
    {
        // The panel comes up during the wait: the tray's loop runs and no window opens.
        TesselWidgetApp login(o);
        login.start();
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
        tray = true;
        ASSERT_TRUE(spin([&] { return login.tray().isVisible(); }));
        EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 1; }));
        QTest::qWait(2 * 300);
        EXPECT_EQ(login.dashboard(), nullptr);
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    }
    // No panel comes: the window, once the wait is over.
    tray = false;
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

} // namespace
