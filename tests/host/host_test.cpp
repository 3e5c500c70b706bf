// The host in-process with the real plug-in on the offscreen platform, and its render mode
// (`tessel-widget-host render`: --describe, the image, refusals) over prepared shared files.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "host/autostart.h"
#include "host/config_sheet.h"
#include "host/desktop_route.h"
#include "host/gallery.h"
#include "host/host.h"
#include "host/widget_window.h"
#include "session/instance_channel.h"
#include "session/quit_on_signals.h"
#include "session/reload_signal.h"
#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"

using namespace std::chrono_literals;
using namespace tessel;
using namespace tessel::host;
namespace fs = std::filesystem;

namespace {

Quota quota(std::string provider, std::string name, double remaining) {
    Quota q;
    q.provider = std::move(provider);
    q.name = std::move(name);
    q.windows = std::vector<QuotaWindow>{{.name = "5h", .remaining = remaining}};
    return q;
}

// Whether any visible text of the widget contains `text`.
bool shows(const WidgetWindow* w, const QString& text) {
    for (const widget::ViewItem& item : w->view()->items())
        if (item.text.contains(text))
            return true;
    return false;
}

// Takes the host's tesselwidget:// links while it lives.
class UrlSink : public QObject {
    Q_OBJECT
public:
    UrlSink() { QDesktopServices::setUrlHandler("tesselwidget", this, "open"); }
    ~UrlSink() override { QDesktopServices::unsetUrlHandler("tesselwidget"); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        writeSnapshot(
            {quota("alpha", "Alpha", 80), quota("beta", "Beta", 50), quota("gamma", "Gamma", 10)});
        plugins = Plugins::load(Plugins::searchPath());
        ASSERT_EQ(plugins.size(), 1) << "plug-in missing in " PLUGIN_DIR;
    }
    void writeSnapshot(std::vector<Quota> quotas, std::chrono::seconds age = {}) {
        Snapshot s;
        s.endpoint = "http://127.0.0.1:3425";
        s.updatedAt =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) - age;
        s.quotas = std::move(quotas);
        SnapshotStore(SharedContainer::directory()).save(s);
    }
    QString settingsPath() const { return HostSettings::path(); }
    void placeAt(const QList<PlacedWidget>& widgets) {
        ASSERT_TRUE(HostSettings::save(settingsPath(), widgets));
    }
    static void sendReload(const QString& kind, int times = 1) {
        for (int i = 0; i < times; ++i)
            ReloadSignal::send(kind.toStdString());
    }

    test::TempDir dir;
    test::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
    test::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    test::ScopedEnv path{"TESSEL_WIDGET_PLUGIN_PATH", PLUGIN_DIR};
    QList<LoadedPlugin> plugins;
};

const QString kind = "TesselDesktopWidget";

TEST_F(HostTest, RestoresWidgetsAndRepairsWhatItCannotShow) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    placeAt({{"s", kind, "small", {40, 50}, "", {}},
             {"m", kind, "medium", {300, 50}, "", {}},
             {"l", kind, "large", {-9000, 99999}, "gone", {}},
             {"x", "OtherKind", "small", {0, 0}, "", {}}});
    // An entry an earlier host elsewhere (a build from source) wrote.
    ASSERT_TRUE(Autostart::set(true, "/old/clone/tessel-widget-host"));
    {
        Host host(plugins, settingsPath());
        ASSERT_TRUE(host.restore());
        ASSERT_EQ(host.windows().size(), 3);
        EXPECT_EQ(host.window("s")->geometry(), QRect(40, 50, 170, 170));
        EXPECT_EQ(host.window("m")->geometry(), QRect(300, 50, 364, 170));
        EXPECT_TRUE(screen.contains(host.window("l")->geometry()));
        EXPECT_EQ(host.window("l")->size(), QSize(364, 382));
        // Its command runs at every login, and it is this host's.
        EXPECT_EQ(test::modeOf(Autostart::entryPath().toStdString()), 0600u);
        QFile entry(Autostart::entryPath());
        ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        EXPECT_FALSE(text.contains("/old/clone")) << text.toStdString();
        EXPECT_TRUE(text.contains(QCoreApplication::applicationFilePath())) << text.toStdString();

        host.setFamily("s", "large");
        EXPECT_EQ(host.window("s")->size(), QSize(364, 382));
        EXPECT_TRUE(screen.contains(host.window("s")->geometry()));
    }
    // The repaired position and the new family were kept; the foreign kind stays on record.
    const QList<PlacedWidget> kept = HostSettings::load(settingsPath());
    ASSERT_EQ(kept.size(), 4);
    EXPECT_EQ(kept[0].family, "large");
    EXPECT_TRUE(screen.contains(QRect(kept[2].position, QSize(364, 382))));
    EXPECT_EQ(kept[3].kind, "OtherKind");

    // Grown over its neighbour, a widget moves to a free spot of its screen.
    placeAt({{"s", kind, "small", {40, 50}, "", {}}, {"n", kind, "small", {220, 50}, "", {}}});
    Host host(plugins, settingsPath());
    ASSERT_TRUE(host.restore());
    host.setFamily("s", "medium");
    const QRect grown = host.window("s")->geometry();
    EXPECT_EQ(grown.size(), QSize(364, 170));
    EXPECT_FALSE(grown.intersects(host.window("n")->geometry()));
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(grown));
    EXPECT_EQ(HostSettings::load(settingsPath())[0].position, grown.topLeft());
    bool idle = false;
    QObject::connect(&host, &Host::idle, [&] { idle = true; });
    host.remove("n");
    EXPECT_FALSE(idle);
    host.remove("s");
    EXPECT_TRUE(idle);
    EXPECT_FALSE(QFileInfo::exists(Autostart::entryPath()));
    EXPECT_TRUE(HostSettings::load(settingsPath()).isEmpty());
}

TEST_F(HostTest, ReloadSignalsRereadTheFilesAndBurstsCoalesce) {
    placeAt({{"m", kind, "medium", {0, 0}, "", {}}, {"s", kind, "small", {400, 0}, "", {}}});
    Host host(plugins, settingsPath());
    ASSERT_TRUE(host.restore());
    WidgetWindow* medium = host.window("m");
    ASSERT_TRUE(test::spin([&] { return shows(medium, "Alpha"); }));

    writeSnapshot({quota("delta", "Delta", 70)});
    sendReload("SomeOtherWidget");
    sendReload(kind);
    ASSERT_TRUE(test::spin([&] { return shows(medium, "Delta"); }));
    EXPECT_FALSE(shows(medium, "Alpha"));

    // A flood: at most one request per widget and window, however long the flood took.
    WidgetWindow* small = host.window("s");
    const int mediumBefore = medium->timelineRequests();
    const int smallBefore = small->timelineRequests();
    QElapsedTimer clock;
    clock.start();
    sendReload(kind, 500);
    // Our signals reach the bus before this answer, and come back to us before it too.
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping"));
    ASSERT_TRUE(test::spin([&] {
        return medium->timelineRequests() > mediumBefore && medium->idle() && small->idle();
    }));
    const qint64 allowed = 2 + clock.elapsed() / WidgetWindow::reloadWindow.count();
    EXPECT_LE(medium->timelineRequests() - mediumBefore, allowed);
    EXPECT_LE(small->timelineRequests() - smallBefore, allowed);

    // No signal comes while the application is gone: the footer still turns stale on time.
    writeSnapshot({quota("delta", "Delta", 70)}, 177s);
    sendReload(kind);
    EXPECT_TRUE(test::spin([&] { return shows(medium, "· 已过期"); }, 20000));
}

TEST_F(HostTest, CyclingButtonAdvancesTheGroupAndOpensNothing) {
    placeAt({{"a", kind, "small", {0, 0}, "", {}}, {"b", kind, "small", {200, 0}, "", {}}});
    Host host(plugins, settingsPath());
    ASSERT_TRUE(host.restore());
    UrlSink sink;
    WidgetWindow* a = host.window("a");
    WidgetWindow* b = host.window("b");
    ASSERT_TRUE(test::spin([&] { return shows(a, "Alpha") && shows(b, "Alpha"); }));

    for (const widget::ViewItem& item : a->view()->items())
        if (item.role == widget::ViewItem::Role::Button) {
            QWidget* target = a->view()->widget()->childAt(item.rect.center());
            ASSERT_NE(target, nullptr);
            QTest::mouseClick(target, Qt::LeftButton, {},
                              target->mapFrom(a->view()->widget(), item.rect.center()));
        }
    // Both widgets share the group "selection.all".
    ASSERT_TRUE(test::spin([&] { return shows(a, "Beta") && shows(b, "Beta"); }));
    const QString suite =
        QString::fromStdString((*SharedContainer::directory() / "selection.ini").string());
    EXPECT_EQ(QSettings(suite, QSettings::IniFormat).value("selection.all").toInt(), 1);
    EXPECT_TRUE(sink.opened.isEmpty());

    // A drag moves the widget and is no click (the link and the tap: desktop_test).
    QWidget* view = a->view()->widget();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(85, 150));
    QMouseEvent move(QEvent::MouseMove, QPointF(125, 170), view->mapToGlobal(QPointF(125, 170)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(125, 170));
    EXPECT_EQ(a->pos(), QPoint(40, 20));
    EXPECT_TRUE(sink.opened.isEmpty());
    ASSERT_TRUE(test::spin(
        [&] { return HostSettings::load(settingsPath())[0].position == QPoint(40, 20); }));
}

TEST_F(HostTest, ConfigurationSheetAppliesAtOnceAndKeepsVanishedChoices) {
    placeAt({{"m",
              kind,
              "medium",
              {0, 0},
              "",
              QJsonObject{{"followsAppSettings", false},
                          {"subscriptions", QJsonArray{"|gone||", "|beta||"}}}}});
    Host host(plugins, settingsPath());
    ASSERT_TRUE(host.restore());
    WidgetWindow* w = host.window("m");
    ASSERT_TRUE(test::spin([&] { return shows(w, "Beta"); }));
    host.edit("m");
    ConfigSheet* sheet = host.sheet("m");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), "Tessel 小组件");
    auto* follows = sheet->findChild<QCheckBox*>();
    ASSERT_NE(follows, nullptr);
    EXPECT_EQ(follows->text(), "跟随主应用设置");
    EXPECT_FALSE(follows->isChecked());
    auto* list = sheet->findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->accessibleName(), "订阅（不选则显示全部）");
    // The subscriptions are read off the GUI thread; the sheet shows before they are.
    ASSERT_TRUE(test::spin([&] { return list->isEnabled(); }));
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
    QStringList combos;
    for (QComboBox* c : sheet->findChildren<QComboBox*>()) {
        combos.append(c->accessibleName());
        for (int i = 0; i < c->count(); ++i)
            combos.append(c->itemText(i));
    }
    EXPECT_EQ(combos, QStringList({"小号指标", "剩余额度", "已用额度", "重置时间", "估算费用",
                                   "Token", "时间范围", "今日", "7 日", "30 日"}));

    // While it follows the application, the own choices have no effect, and the sheet says so.
    const QString hint = "开启时，订阅、指标和时间范围取自主应用的“小组件展示设置”。";
    EXPECT_EQ(follows->accessibleDescription(), hint);
    EXPECT_TRUE(std::ranges::any_of(sheet->findChildren<QLabel*>(),
                                    [&](const QLabel* l) { return l->text() == hint; }));
    QList<QWidget*> own{list};
    for (QComboBox* c : sheet->findChildren<QComboBox*>())
        own.append(c);
    follows->click();
    for (QWidget* control : own)
        EXPECT_FALSE(control->isEnabled()) << control->accessibleName().toStdString();
    if (!qEnvironmentVariableIsEmpty("TESSEL_SCREENSHOTS"))
        sheet->grab().save(qEnvironmentVariable("TESSEL_SCREENSHOTS") + "/config-sheet.png");
    follows->click();
    for (QWidget* control : own)
        EXPECT_TRUE(control->isEnabled()) << control->accessibleName().toStdString();

    list->item(2)->setCheckState(Qt::Checked);
    ASSERT_TRUE(test::spin([&] { return shows(w, "Gamma"); }));
    EXPECT_EQ(HostSettings::load(settingsPath())[0].configuration.value("subscriptions"),
              QJsonArray({"|gone||", "|beta||", "|gamma||"}));
    list->item(1)->setCheckState(Qt::Unchecked);
    list->item(2)->setCheckState(Qt::Unchecked);
    // Only the vanished choice is left: kept, and it shows nothing.
    EXPECT_EQ(HostSettings::load(settingsPath())[0].configuration.value("subscriptions"),
              QJsonArray({"|gone||"}));
    ASSERT_TRUE(test::spin([&] { return !shows(w, "Gamma"); }));

    // A sheet closed before its read is done must not hear the answer.
    sheet->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    host.edit("m");
    QPointer<ConfigSheet> early = host.sheet("m");
    ASSERT_TRUE(early);
    early->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(early.isNull());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

TEST_F(HostTest, GalleryPlacesEachFamily) {
    Host host(plugins, settingsPath());
    EXPECT_FALSE(host.restore());
    host.showGallery();
    Gallery* gallery = host.gallery();
    ASSERT_NE(gallery, nullptr);
    QStringList labels;
    for (QLabel* l : gallery->findChildren<QLabel*>())
        labels.append(l->text());
    EXPECT_TRUE(labels.contains("Tessel Widget"));
    EXPECT_TRUE(
        labels.contains("订阅额度、用量与趋势。点击小号组件的订阅名切换；更多窗口在主应用查看。"));
    // The previews are read off the GUI thread and then show the synced data.
    ASSERT_TRUE(test::spin([&] {
        return std::ranges::any_of(gallery->findChildren<QLabel*>(),
                                   [](const QLabel* l) { return l->text().contains("Alpha"); });
    }));
    // A preview runs nothing, also when a screen reader presses its link or its button.
    UrlSink sink;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Found afresh for each press: a reload signal from anywhere on the bus rebuilds previews.
    const auto previewButtons = [&] {
        QList<QAbstractButton*> found;
        for (QAbstractButton* b : gallery->findChildren<QAbstractButton*>())
            if (!qobject_cast<QPushButton*>(b) && b->isEnabled())
                found.append(b);
        return found;
    };
    ASSERT_EQ(previewButtons().size(), 4); // three refresh links and the small one's name button
    for (int i = 0; i < 4; ++i) {
        QPointer<QAbstractButton> b = previewButtons().value(i);
        ASSERT_TRUE(b);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        ASSERT_TRUE(a && a->actionInterface());
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(test::spin([&] { return !b || !b->isDown(); }));
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(std::filesystem::exists(*SharedContainer::directory() / "selection.ini"));
    EXPECT_TRUE(sink.opened.isEmpty());

    const QList<QPushButton*> buttons = gallery->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 3);
    for (QPushButton* b : buttons)
        b->click();
    ASSERT_EQ(host.windows().size(), 3);
    QList<QRect> taken;
    for (WidgetWindow* w : host.windows()) {
        for (const QRect& r : taken)
            EXPECT_FALSE(w->geometry().intersects(r));
        taken.append(w->geometry());
    }
    EXPECT_EQ(HostSettings::load(settingsPath()).size(), 3);

    Host empty({}, settingsPath());
    empty.showGallery();
    QStringList none;
    for (QLabel* l : empty.gallery()->findChildren<QLabel*>())
        none.append(l->text());
    EXPECT_EQ(none, QStringList({"未找到桌面小组件。请确认已安装 Tessel 小组件插件。"}));
    empty.gallery()->close();

    // Wayland without a reachable layer shell or XWayland: the gallery first says what to do.
    {
        test::ScopedEnv wayland("WAYLAND_DISPLAY", dir.path().string() + "/wayland-0"),
            platform("QT_QPA_PLATFORM", std::nullopt), x11("DISPLAY", std::nullopt);
        EXPECT_EQ(Desktop::choose(), DesktopRoute::None);
        Host bare({}, settingsPath());
        bare.showGallery();
        const QLabel* first = bare.gallery()->findChild<QLabel*>();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->text(), "这个桌面无法把小组件固定在桌面上：请安装 XWayland（软件包 "
                                 "xwayland）或改用 X11 会话登录，然后重新启动 Tessel 桌面小组件。");
        EXPECT_EQ(first->accessibleName(), first->text());
        bare.gallery()->close();
    }
    // An X session, or a platform chosen outright, is no Wayland route.
    EXPECT_EQ(Desktop::choose(), DesktopRoute::X11);
}

// The host's settings file: what a restart gets back, and what survives hand-editing.
TEST_F(HostTest, SettingsRoundTripPrivatelyAndHandEditedKeepWhatTheyCan) {
    const auto file = dir.path() / "quorvane" / "tessel-widget-host.ini";
    const QString path = QString::fromStdString(file.string());
    PlacedWidget w{"a1",
                   "TesselDesktopWidget",
                   "medium",
                   {-300, 40},
                   "HDMI-1",
                   QJsonObject{{"followsAppSettings", false},
                               {"subscriptions", QJsonArray{"b|x||", "a|y||"}},
                               {"metric", "cost"}}};
    PlacedWidget v{"b2", "TesselDesktopWidget", "small", {10, 20}, "", {}};
    ASSERT_TRUE(HostSettings::save(path, {w, v}));
    EXPECT_EQ(test::modeOf(file), 0600u);
    EXPECT_EQ(test::modeOf(file.parent_path()), 0700u);

    EXPECT_TRUE(HostSettings::load(path) == QList<PlacedWidget>({w, v}));
    // An empty chosen list differs from none chosen and must survive as such.
    w.configuration = {{"subscriptions", QJsonArray{}}};
    ASSERT_TRUE(HostSettings::save(path, {w}));
    EXPECT_TRUE(HostSettings::load(path)[0].configuration.value("subscriptions").isArray());

    // A dotfile manager's link stays; the file it leads to is replaced whole and kept private.
    const auto target = dir.write("dotfiles/host.ini", "");
    std::filesystem::permissions(target, std::filesystem::perms(0644));
    std::filesystem::remove(file);
    std::filesystem::create_symlink("../dotfiles/host.ini", file);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ASSERT_TRUE(HostSettings::save(path, {v}));
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(test::modeOf(target), 0600u);
    EXPECT_EQ(HostSettings::load(path)[0].id, "b2");
    // A link that leads to no regular file of the user's is not written through.
    std::filesystem::remove(file);
    std::filesystem::create_symlink("../dotfiles/gone.ini", file);
    EXPECT_FALSE(HostSettings::save(path, {v}));
    EXPECT_TRUE(std::filesystem::is_symlink(file));

    // Hand-edited: what can be used is kept.
    const QString edited = QString::fromStdString(dir.path().string()) + "/host.ini";
    {
        QSettings s(edited, QSettings::IniFormat);
        s.beginWriteArray("widgets", 200);
        for (int i = 0; i < 200; ++i) {
            s.setArrayIndex(i);
            s.setValue("id", i == 1 ? QString("w0") : QString("w%1").arg(i));
            s.setValue("kind", i == 2 ? QString() : QString("TesselDesktopWidget"));
            s.setValue("family", i == 3 ? QString("huge") : QString("small"));
            s.setValue("x", i == 4 ? QString("left") : QString::number(i));
            s.setValue("configuration", i == 5 ? QString("{not json") : QString("{}"));
        }
        s.endArray();
    }
    QStringList problems;
    const QList<PlacedWidget> widgets = HostSettings::load(edited, &problems);
    // Repeated id, no kind and unknown family dropped; the rest up to the limit.
    ASSERT_EQ(widgets.size(), HostSettings::maxWidgets);
    EXPECT_EQ(widgets[0].id, "w0");
    EXPECT_EQ(widgets[1].id, "w4");
    EXPECT_EQ(widgets[1].position.x(), 0);
    EXPECT_TRUE(widgets[2].configuration.isEmpty());
    EXPECT_EQ(problems.size(), 4);

    QFile garbage(edited);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x00\xff[widgets\nsize=banana\n1\\id=\n", 30);
    garbage.close();
    EXPECT_TRUE(HostSettings::load(edited).isEmpty());

    // Thousands of unusable records make a handful of lines.
    std::string broken = "[widgets]\nsize=5000\n";
    for (int i = 1; i <= 5000; ++i)
        broken += std::to_string(i) + "\\family=small\n";
    dir.write("host.ini", broken);
    problems.clear();
    EXPECT_TRUE(HostSettings::load(edited, &problems).isEmpty());
    ASSERT_LE(problems.size(), 8);
    EXPECT_TRUE(problems.last().contains("4995")) << problems.last().toStdString();

    // A size that claims billions costs what the records there cost; a huge file is not read.
    dir.write("host.ini", "[widgets]\nsize=2000000000\n7\\id=a\n7\\kind=K\n7\\family=small\n");
    const QList<PlacedWidget> one = HostSettings::load(edited);
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].id, "a");
    dir.write("host.ini", "[widgets]\nsize=1\n1\\id=a\n1\\kind=K\n1\\family=small\n" +
                              std::string(HostSettings::maxFileBytes, '#'));
    problems.clear();
    EXPECT_TRUE(HostSettings::load(edited, &problems).isEmpty());
    EXPECT_EQ(problems.size(), 1);
}

// A lock file that cannot be made is not one another process holds.
TEST(InstanceChannel, LockIsExclusiveTellsHeldFromBrokenAndTrustsOnlyAPrivateFolder) {
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::replace);
    test::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().string()};

    const InstanceChannel channel = InstanceChannel::find("net.quorvane.Test");
    ASSERT_TRUE(channel.valid());
    EXPECT_EQ(channel.socketPath, (dir.path() / "net.quorvane.Test.socket").string());
    EXPECT_EQ(channel.lockPath, (dir.path() / "net.quorvane.Test.lock").string());

    const int held = channel.tryLock();
    ASSERT_GE(held, 0);
    // flock belongs to the open file, so a second open in this process is another claimant.
    errno = 0;
    EXPECT_EQ(channel.tryLock(), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    close(held);
    const int again = channel.tryLock();
    EXPECT_GE(again, 0);
    close(again);

    fs::create_directory(dir.path() / "net.quorvane.Broken.lock");
    errno = 0;
    EXPECT_EQ(InstanceChannel::find("net.quorvane.Broken").tryLock(), -1);
    EXPECT_NE(errno, EWOULDBLOCK);

    // A socket address holds at most sun_path bytes: a longer name is no channel at all.
    const std::string longName(sizeof(sockaddr_un::sun_path), 'x');
    EXPECT_FALSE(InstanceChannel::find(longName).valid());

    // A runtime directory that others may write is not trusted for the channel.
    const fs::path fallback = "/tmp/tesselwidget-" + std::to_string(geteuid());
    const bool hadFallback = fs::exists(fallback);
    fs::permissions(dir.path(), fs::perms::all, fs::perm_options::replace);
    EXPECT_EQ(InstanceChannel::find("net.quorvane.Test").socketPath.rfind(dir.path().string(), 0),
              std::string::npos);
    if (!hadFallback)
        fs::remove(fallback);
}

QStringList warnings;

TEST_F(HostTest, PluginFoldersSkipWhatIsNoWidgetOrUntrustedWithOneLineEach) {
    namespace fs = std::filesystem;
    const fs::path folder = dir.path() / "plugins";
    dir.write("plugins/libbroken.so", "\x7f"
                                      "ELF but not really");
    fs::copy_file(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() +
                      "/platforms/libqminimal.so",
                  folder / "libqminimal.so");
    // As ssh does: a copy in a folder or file others can write, or another user's, is untrusted.
    const fs::path plugin = fs::path(PLUGIN_DIR) / "TesselWidgets.so";
    fs::create_directories(dir.path() / "open");
    fs::copy_file(plugin, dir.path() / "open/TesselWidgets.so");
    fs::permissions(dir.path() / "open", fs::perms::all);
    fs::create_directories(dir.path() / "mine");
    fs::copy_file(plugin, dir.path() / "mine/TesselWidgets.so");
    fs::permissions(dir.path() / "mine/TesselWidgets.so", fs::perms(0666));
    QStringList folders{QString::fromStdString((dir.path() / "open").string()),
                        QString::fromStdString((dir.path() / "mine").string()),
                        "plugs",
                        ".",
                        QString::fromStdString(folder.string()),
                        PLUGIN_DIR,
                        PLUGIN_DIR};
    int expected = 7;
    if (::geteuid() == 0) {
        fs::create_directories(dir.path() / "theirs");
        fs::copy_file(plugin, dir.path() / "theirs/TesselWidgets.so");
        ASSERT_EQ(::chown((dir.path() / "theirs").c_str(), 65534, 65534), 0);
        folders.prepend(QString::fromStdString((dir.path() / "theirs").string()));
        ++expected;
    }
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings.append(text); });
    const QList<LoadedPlugin> loaded = Plugins::load(folders);
    qInstallMessageHandler(previous);
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].description.kind, kind);
    EXPECT_EQ(QFileInfo(loaded[0].file).canonicalPath(), QFileInfo(PLUGIN_DIR).canonicalFilePath());
    // Each untrusted or relative entry named; the broken file, the foreign one, the second copy.
    EXPECT_EQ(warnings.size(), expected) << warnings.join('\n').toStdString();
    for (const QString& named : folders.mid(0, expected - 3))
        EXPECT_TRUE(std::ranges::any_of(warnings, [&](const QString& w) {
            return w.contains(named);
        })) << named.toStdString();
}

// A session's SIGTERM ends the host also before and after its event loop runs.
TEST(HostEnd, ASignalEndsItBeforeTheLoopThroughTheLoopAndAfterIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QCoreApplication& app = test::app();
    EXPECT_EXIT(
        {
            quitOnSignals(app);
            ::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EXIT(
        {
            quitOnSignals(app);
            QTimer::singleShot(0, [] { ::raise(SIGTERM); });
            const int status = app.exec();
            std::fprintf(stderr, "loop ended with %d\n", status);
            ::raise(SIGTERM);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "loop ended with 0");
    // A library's exit() from inside the loop (Qt's, when the X server goes away) runs no
    // static destructor under the windows and worker threads that are still alive.
    EXPECT_EXIT(
        {
            struct Static {
                ~Static() { std::_Exit(4); }
            };
            static Static made;
            quitOnSignals(app);
            QTimer::singleShot(0, [] { std::exit(3); });
            app.exec();
        },
        ::testing::ExitedWithCode(3), "");
}

struct Result {
    int status = -1;
    QJsonObject json;
    QString error;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        env.insert("XDG_DATA_HOME", root() + "/data");
        env.insert("XDG_CONFIG_HOME", root() + "/config");
        env.insert("TESSEL_WIDGET_PLUGIN_PATH", PLUGIN_DIR);
        env.insert("LC_ALL", "C.UTF-8");

        Snapshot s;
        s.updatedAt = std::chrono::system_clock::now();
        Quota alpha{.provider = "alpha", .name = "Alpha"};
        alpha.windows = std::vector<QuotaWindow>{{.name = "5h", .remaining = 64}};
        Quota beta{.provider = "beta", .name = "Beta", .plan = "Max"};
        beta.windows = std::vector<QuotaWindow>{{.name = "周", .used = 90}};
        s.quotas = {alpha, beta};
        Usage month{.period = "month", .calls = 12, .input = 1000, .output = 234, .cost = 3.5};
        month.series = std::vector<UsagePoint>{{.label = "a", .time = *s.updatedAt, .input = 5},
                                               {.label = "b", .time = *s.updatedAt, .input = 9}};
        s.usage["month"] = month;
        SnapshotStore(std::filesystem::path((root() + "/data").toStdString()) /
                      SharedContainer::groupID())
            .save(s);
    }
    QString root() const { return QString::fromStdString(dir.path().string()); }
    QString config(const QByteArray& json) {
        const auto name = "config-" + std::to_string(++configs) + ".json";
        return QString::fromStdString(dir.write(name, json.toStdString()).string());
    }
    Result run(const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(HOST_BINARY, arguments);
        p.waitForFinished(60000);
        Result r{p.exitCode(), QJsonDocument::fromJson(p.readAllStandardOutput()).object(),
                 QString::fromUtf8(p.readAllStandardError())};
        return r;
    }
    Result describe(const QString& family, const QByteArray& configuration = {}) {
        QStringList arguments{"render", "--family", family, "--describe"};
        if (!configuration.isEmpty())
            arguments << "--config" << config(configuration);
        return run(arguments);
    }
    static QJsonObject item(const QJsonObject& description, const QString& role) {
        for (const QJsonValue& v : description["items"].toArray())
            if (v["role"] == role)
                return v.toObject();
        return {};
    }
    static QStringList texts(const QJsonObject& description) {
        QStringList out;
        for (const QJsonValue& v : description["items"].toArray())
            out.append(v["text"].toString());
        return out;
    }

    test::TempDir dir;
    int configs = 0;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(RenderTest, DescribesWhatAPlacedWidgetShowsAndWritesTheImageAtTheScaleAndTheme) {
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const Result small = describe("small");
    ASSERT_EQ(small.status, 0) << small.error.toStdString();
    EXPECT_EQ(small.json.keys(), QStringList({"family", "items", "kind", "reloadAfter", "url"}));
    EXPECT_EQ(small.json["kind"], "TesselDesktopWidget");
    EXPECT_EQ(small.json["family"], "small");
    EXPECT_EQ(small.json["url"], "tesselwidget://overview");
    const QDateTime after =
        QDateTime::fromString(small.json["reloadAfter"].toString(), Qt::ISODate);
    // Fresh data: asked again when the footer would turn stale.
    EXPECT_GE(before.secsTo(after), 179);
    EXPECT_LE(before.secsTo(after), 181);
    const QJsonObject link = item(small.json, "link");
    EXPECT_EQ(link["url"], "tesselwidget://refresh");
    EXPECT_EQ(link["accessibleName"], "打开应用并刷新");
    const QJsonObject button = item(small.json, "button");
    EXPECT_EQ(button["text"], "Alpha");
    EXPECT_EQ(button["accessibleName"], "Alpha，切换到下一个订阅");
    EXPECT_EQ(button["enabled"], true);
    EXPECT_FALSE(button.contains("url"));
    EXPECT_TRUE(texts(small.json).contains("64%"));

    const Result cost = describe("small", R"({"followsAppSettings": false, "metric": "cost",
                                             "period": "month"})");
    ASSERT_EQ(cost.status, 0) << cost.error.toStdString();
    EXPECT_EQ(cost.json["url"], "tesselwidget://usage");
    EXPECT_TRUE(texts(cost.json).contains("30 日"));
    EXPECT_TRUE(texts(cost.json).contains("估算费用 · USD"));

    // Own subscriptions: only Beta; a vanished one changes nothing.
    const Result medium = describe("medium", R"({"followsAppSettings": false,
                                                "subscriptions": ["|beta||", "|gone||"]})");
    ASSERT_EQ(medium.status, 0) << medium.error.toStdString();
    EXPECT_TRUE(texts(medium.json).join('\n').contains("Beta"));
    EXPECT_FALSE(texts(medium.json).join('\n').contains("Alpha"));

    const Result large = describe("large", R"({"followsAppSettings": false, "period": "month"})");
    ASSERT_EQ(large.status, 0) << large.error.toStdString();
    EXPECT_EQ(item(large.json, "chart")["accessibleName"], "Token 用量趋势");
    EXPECT_TRUE(texts(large.json).contains("30 日估算费用"));

    // The image at the scale and theme.
    const QString light = root() + "/light.png", dark = root() + "/dark.png";
    ASSERT_EQ(
        run({"render", "--family", "medium", "--scale", "2", "--theme", "light", "--out", light})
            .status,
        0);
    ASSERT_EQ(run({"render", "--family", "medium", "--theme", "dark", "--out", dark}).status, 0);
    const QImage l(light), d(dark);
    EXPECT_EQ(l.size(), QSize(728, 340));
    EXPECT_EQ(d.size(), QSize(364, 170));
    EXPECT_GT(qGray(l.pixel(364, 300)), 180);
    EXPECT_LT(qGray(d.pixel(182, 150)), 80);

    // Standard output under its names, and a named pipe, are written as streams.
    for (const QString& out : {QStringLiteral("-"), QStringLiteral("/dev/stdout")}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(HOST_BINARY, {"render", "--family", "small", "--out", out});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_EQ(QImage::fromData(p.readAllStandardOutput(), "PNG").size(), QSize(170, 170));
    }
    const QByteArray fifo = QFile::encodeName(root() + "/fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Open first, so the writer never waits; the small image fits the pipe's buffer.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(run({"render", "--family", "small", "--out", root() + "/fifo"}).status, 0);
    QByteArray streamed(1 << 16, '\0');
    const ssize_t n = ::read(reader, streamed.data(), size_t(streamed.size()));
    ::close(reader);
    streamed.resize(std::max<ssize_t>(n, 0));
    EXPECT_EQ(QImage::fromData(streamed, "PNG").size(), QSize(170, 170));
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(RenderTest, RefusesBadInputWithExitTwo) {
    const QStringList small{"render", "--family", "small", "--describe", "--config"};
    const QList<QStringList> bad = {
        {"render", "--family", "huge", "--describe"},
        small + QStringList{root() + "/missing.json"},
        small + QStringList{config("{\"metric\": ")},
        small + QStringList{config("[1]")},
        small + QStringList{config("{\"metric\": \"weekly\"}")},
        small + QStringList{config("{\"subscriptions\": [1]}")},
        {"render", "--family", "small", "--out", root() + "/no/such/dir/x.png"},
        {"render", "--family", "small", "--scale", "nan", "--describe"},
    };
    for (const QStringList& arguments : bad) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(r.error.contains("tessel-widget-host: ")) << r.error.toStdString();
        EXPECT_TRUE(r.json.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(root() + "/no"));

    // Only a regular file or nothing is replaced; a link's target is never written through.
    const QString socketPath = root() + "/socket", link = root() + "/link.png";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(),
                 sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto target = dir.write("target.png", "mine");
    ASSERT_TRUE(QFile::link(QString::fromStdString(target.string()), link));
    for (const QString& out : {socketPath, link, QStringLiteral("-")}) {
        QStringList arguments{"render", "--family", "small", "--out", out};
        if (out == u"-")
            arguments << "--describe"; // both would go to standard output
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << out.toStdString();
        EXPECT_TRUE(r.error.contains("tessel-widget-host: ")) << r.error.toStdString();
    }
    ::close(listening);
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(socketPath).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFile(QString::fromStdString(target.string())).size(), 4);

    const Result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
}

} // namespace

#include "host_test.moc"
