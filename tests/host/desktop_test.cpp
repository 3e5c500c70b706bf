// The real host on real X11 and Wayland desktops: placed windows, hand-over, clicks, drags.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QRegularExpression>
#include <QStandardPaths>

#ifdef TESSEL_HAVE_LAYER_SHELL
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include <linux/input-event-codes.h>
#include <wayland-client.h>
// The protocol's glue, compiled here as the host's is (see host/layer_shell_protocols.cpp).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#include "wlr-virtual-pointer-unstable-v1-protocol.c"
#pragma GCC diagnostic pop
#endif

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/host_settings.h"
#include "host/plugins.h"
#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"

using namespace tessel;
using namespace tessel::host;
using widget::Family;

namespace {

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        // -noreset: a tool that connects and leaves before the host has connected would make
        // the server reset, and drop the host connecting meanwhile.
        // A display from 200 on: low numbers are what every other X server of a run (sway's
        // XWayland, xvfb-run) tries first, and one once took ours.
        for (int attempt = 0; attempt < 20 && display.isEmpty(); ++attempt) {
            const QString n = QString::number(QRandomGenerator::global()->bounded(200, 1000));
            xvfb.start("Xvfb", {":" + n, "-displayfd", "1", "-screen", "0", "1280x900x24",
                                "-nolisten", "tcp", "-noreset"});
            if (test::spin(
                    [&] { return xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning; },
                    20000) &&
                xvfb.canReadLine())
                display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
            else
                xvfb.waitForFinished();
        }
        ASSERT_FALSE(display.isEmpty());
        prepare();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
    }
    // A private home for the host: settings, data, a URL handler, a snapshot with two quotas.
    void prepare() {
        const QString root = QString::fromStdString(dir.path().string());
        QDir().mkpath(root + "/runtime");
        ::chmod((root + "/runtime").toLocal8Bit().constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("XDG_DATA_HOME", root + "/data");
        env.insert("XDG_RUNTIME_DIR", root + "/runtime");
        env.insert("TESSEL_WIDGET_PLUGIN_PATH", PLUGIN_DIR);
        env.remove("XDG_CURRENT_DESKTOP");
        env.remove("DESKTOP_SESSION");
        // No session bus: the host still runs, and a button's reload stays in the process.
        env.remove("DBUS_SESSION_BUS_ADDRESS");

        // A URL handler of our own, found the way any desktop program finds one.
        opened = root + "/opened.txt";
        const auto handler =
            dir.write("handler.sh", "#!/bin/sh\necho \"$1\" >> '" + opened.toStdString() + "'\n");
        ::chmod(handler.c_str(), 0700);
        dir.write("data/applications/tessel-test-handler.desktop",
                  "[Desktop Entry]\nType=Application\nName=Handler\nNoDisplay=true\n"
                  "MimeType=x-scheme-handler/tesselwidget;\nExec=" +
                      root.toStdString() + "/handler.sh %u\n");
        dir.write(
            "config/mimeapps.list",
            "[Default Applications]\nx-scheme-handler/tesselwidget=tessel-test-handler.desktop\n");

        Snapshot s;
        s.updatedAt = std::chrono::system_clock::now();
        Quota a{.provider = "alpha", .name = "Alpha"}, b{.provider = "beta", .name = "Beta"};
        a.windows = std::vector<QuotaWindow>{{.name = "5h", .remaining = 64}};
        s.quotas = {a, b};
        SnapshotStore(SharedContainer::directory()).save(s);
    }
    void TearDown() override {
        for (QProcess* p : {&host, &xvfb, &compositor}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished();
        }
    }
    // The mapped windows whose name starts with `name`.
    QStringList windows(const QString& name) {
        return run("xdotool", {"search", "--onlyvisible", "--name", "^" + name})
            .split('\n', Qt::SkipEmptyParts);
    }
    QStringList openedUrls() const {
        QFile f(opened);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // Where the plug-in's own layout puts the first item of `role` in a widget at `origin`.
    static QPoint centre(widget::Family family, widget::ViewItem::Role role, QPoint origin) {
        static const QList<LoadedPlugin> plugins = Plugins::load({PLUGIN_DIR});
        if (plugins.size() != 1)
            return {};
        const auto view =
            plugins[0].plugin->createView(plugins[0].plugin->snapshot({}, {family}), family, {});
        view->widget()->show();
        for (const widget::ViewItem& item : view->items())
            if (item.role == role)
                return origin + item.rect.center();
        return {};
    }
    // What an X11 tool prints on this display.
    QString run(const QString& program, const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // Places `widgets` and starts the host without waiting for it.
    void startPlain(const QList<PlacedWidget>& widgets) {
        ASSERT_TRUE(HostSettings::save(settingsPath(), widgets));
        host.setProcessEnvironment(env);
        host.start(HOST_BINARY, {});
    }
    static PlacedWidget placedAt(Family family, QPoint at) {
        const QString id = family == Family::Small ? "s" : family == Family::Medium ? "m" : "l";
        return {id, "TesselDesktopWidget", family, at, "", {}};
    }
    void click(QPoint at) {
        ASSERT_FALSE(at.isNull());
        run("xdotool",
            {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }
    QList<PlacedWidget> placed() { return HostSettings::load(settingsPath()); }
    QString settingsPath() const {
        return QString::fromStdString(dir.path().string()) +
               "/config/quorvane/tessel-widget-host.ini";
    }

    test::TempDir dir;
    // This process reads the same shared files, to find where the views put their items.
    test::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
    QProcess xvfb;
    QProcess compositor; // sway, for the Wayland tests
    QProcess host;
    QString display;
    QString opened;
    QProcessEnvironment env;
};

TEST_F(DesktopTest, PlacedWidgetsLiveOnTheDesktop) {
    startPlain({placedAt(Family::Small, {20, 30}), placedAt(Family::Medium, {220, 30}),
                placedAt(Family::Large, {620, 30})});
    ASSERT_TRUE(test::spin([&] { return windows("Tessel Widget").size() == 3; }, 30000))
        << windows("Tessel Widget").size() << " windows; host " << host.state() << ": "
        << host.readAllStandardError().toStdString();
    QList<QRect> geometries;
    for (const QString& id : windows("Tessel Widget")) {
        QMap<QString, int> at;
        for (const QString& line : run("xdotool", {"getwindowgeometry", "--shell", id}).split('\n'))
            at[line.section(u'=', 0, 0)] = line.section(u'=', 1).toInt();
        geometries.append(QRect(at["X"], at["Y"], at["WIDTH"], at["HEIGHT"]));
        const QString properties = run("xprop", {"-id", id, "_NET_WM_STATE", "_NET_WM_DESKTOP"});
        for (const char* state : {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                                  "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
            EXPECT_TRUE(properties.contains(state)) << state;
        EXPECT_TRUE(properties.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295"))
            << properties.toStdString();
    }
    std::sort(geometries.begin(), geometries.end(),
              [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
    EXPECT_EQ(geometries, QList<QRect>({QRect(20, 30, 170, 170), QRect(220, 30, 364, 170),
                                        QRect(620, 30, 364, 382)}));

    // The large widget's refresh link, a tap elsewhere, then the small one's cycling button.
    click(centre(Family::Large, widget::ViewItem::Role::Link, {620, 30}));
    ASSERT_TRUE(test::spin([&] { return openedUrls().size() == 1; }, 20000));
    click({800, 300});
    ASSERT_TRUE(test::spin([&] { return openedUrls().size() == 2; }, 20000));
    EXPECT_EQ(openedUrls(), QStringList({"tesselwidget://refresh", "tesselwidget://overview"}));

    click(centre(Family::Small, widget::ViewItem::Role::Button, {20, 30}));
    const QString suite =
        QString::fromStdString((*SharedContainer::directory() / "selection.ini").string());
    ASSERT_TRUE(test::spin(
        [&] { return QSettings(suite, QSettings::IniFormat).value("selection.all").toInt() == 1; },
        20000));
    EXPECT_EQ(openedUrls().size(), 2);

    // Later starts hand "gallery" over and leave, all at once too; one gallery opens.
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 12; ++i) {
        starts.push_back(std::make_unique<QProcess>());
        starts.back()->setProcessEnvironment(env);
        starts.back()->start(HOST_BINARY, {"--gallery"});
    }
    for (auto& start : starts) {
        ASSERT_TRUE(start->waitForFinished(30000));
        EXPECT_EQ(start->exitCode(), 0);
    }
    ASSERT_TRUE(test::spin([&] { return !windows("添加小组件").isEmpty(); }, 20000));
    EXPECT_EQ(windows("添加小组件").size(), 1);
    EXPECT_EQ(host.state(), QProcess::Running);
}

// A button's intent that waits for the selection lock another process holds must not keep the
// host from ending when the session does.
TEST_F(DesktopTest, AnIntentStuckOnALockDoesNotHoldTheEnd) {
    startPlain({placedAt(Family::Small, {20, 30})});
    ASSERT_TRUE(test::spin([&] { return windows("Tessel Widget").size() == 1; }, 30000))
        << "host " << host.state() << ": " << host.readAllStandardError().toStdString();
    const auto lockFile = *SharedContainer::directory() / ".selection.lock";
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    click(centre(Family::Small, widget::ViewItem::Role::Button, {20, 30}));
    // The click's intent is stuck once the kernel lists the host among the lock's waiters.
    const QByteArray waiting =
        QStringLiteral(" -> FLOCK  ADVISORY  WRITE %1 ").arg(host.processId()).toLatin1();
    ASSERT_TRUE(test::spin(
        [&] {
            QFile locks("/proc/locks");
            return locks.open(QIODevice::ReadOnly) && locks.readAll().contains(waiting);
        },
        20000));
    host.terminate();
    EXPECT_TRUE(host.waitForFinished(30000));
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(host.exitCode(), 0);
    ::close(lock);
}

#ifdef TESSEL_HAVE_LAYER_SHELL

// A pointer the test moves and clicks on a compositor without input devices.
class Pointer {
public:
    explicit Pointer(const QString& socket, QSize extent)
        : display_(wl_display_connect(socket.toLocal8Bit().constData())), extent_(extent) {
        if (!display_)
            return;
        wl_registry* registry = wl_display_get_registry(display_);
        static const wl_registry_listener listener = {
            [](void* data, wl_registry* r, std::uint32_t name, const char* interface,
               std::uint32_t) {
                auto* self = static_cast<Pointer*>(data);
                if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
                    self->manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
                        wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
            },
            [](void*, wl_registry*, std::uint32_t) {},
        };
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(display_);
        if (manager_)
            pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager_, nullptr);
        wl_display_roundtrip(display_);
    }
    ~Pointer() {
        if (display_)
            wl_display_disconnect(display_);
    }
    bool ok() const { return pointer_; }
    void moveTo(QPoint at) {
        zwlr_virtual_pointer_v1_motion_absolute(pointer_, ++time_, std::uint32_t(at.x()),
                                                std::uint32_t(at.y()), extent_.width(),
                                                extent_.height());
        wl_display_roundtrip(display_);
    }
    void button(std::uint32_t button, bool down) {
        zwlr_virtual_pointer_v1_button(pointer_, ++time_, button, down ? 1 : 0);
        wl_display_roundtrip(display_);
    }
    void click(QPoint at, std::uint32_t b = BTN_LEFT) {
        moveTo(at);
        button(b, true);
        button(b, false);
    }

private:
    wl_display* display_;
    QSize extent_;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    std::uint32_t time_ = 0;
};

// The host on sway, headless, run as an unprivileged user (it refuses to run as root).
class WaylandDesktopTest : public DesktopTest {
protected:
    static constexpr QSize screen{1280, 800};

    void SetUp() override {
        test::app();
        if (QStandardPaths::findExecutable("sway").isEmpty() ||
            QStandardPaths::findExecutable("grim").isEmpty())
            GTEST_SKIP() << "sway or grim is not installed (scripts/install-deps installs them)";
        prepare();
    }
    // Starts sway; false, with its words in `why`, when it does not come up.
    bool startSway(bool xwayland, int scale = 1) {
        const QString root = QString::fromStdString(dir.path().string()) + "/sway";
        QDir().mkpath(root + "/run");
        QString text = QStringLiteral("output HEADLESS-1 resolution %1x%2 position 0 0 scale %3\n")
                           .arg(screen.width())
                           .arg(screen.height())
                           .arg(scale);
        // XWayland lets only its own user in; root's host is let in by that user.
        text += xwayland ? QStringLiteral("xwayland enable\nexec sh -c '%1echo $DISPLAY > "
                                          "%2/display'\n")
                               .arg(::geteuid() == 0 ? "xhost +si:localuser:root; " : "", root)
                         : QStringLiteral("xwayland disable\n");
        dir.write("sway/config", text.toStdString());
        QStringList command{QStandardPaths::findExecutable("sway"), "-c", root + "/config"};
        if (::geteuid() == 0) {
            // Root runs it as nobody, in a folder that user owns and can reach.
            ::chmod(dir.path().c_str(), 0711);
            for (const QString& path : {root, root + "/run", root + "/config"})
                EXPECT_EQ(::chown(path.toLocal8Bit().constData(), 65534, 65534), 0);
            command =
                QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"} +
                command;
        }
        ::chmod((root + "/run").toLocal8Bit().constData(), 0700);
        QProcessEnvironment swayEnv;
        swayEnv.insert("PATH", qEnvironmentVariable("PATH"));
        swayEnv.insert("HOME", root);
        swayEnv.insert("XDG_RUNTIME_DIR", root + "/run");
        swayEnv.insert("WLR_BACKENDS", "headless");
        swayEnv.insert("WLR_LIBINPUT_NO_DEVICES", "1");
        swayEnv.insert("WLR_RENDERER", "pixman");
        compositor.setProcessEnvironment(swayEnv);
        compositor.setProcessChannelMode(QProcess::MergedChannels);
        compositor.start(command.takeFirst(), command);
        // Its own runtime folder: the first socket name is free.
        socket = root + "/run/wayland-1";
        auto listening = [&] {
            return QFile::exists(socket) || compositor.state() == QProcess::NotRunning;
        };
        if (!compositor.waitForStarted() || !test::spin(listening, 20000) ||
            !QFile::exists(socket)) {
            why = "sway did not start headless: " + compositor.readAll().toStdString();
            return false;
        }
        env.insert("WAYLAND_DISPLAY", socket);
        env.insert("XDG_SESSION_TYPE", "wayland");
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        if (xwayland) {
            QFile file(root + "/display");
            if (!test::spin([&] { return file.size() > 0; }, 20000)) {
                why = "sway's XWayland did not start: " + compositor.readAll().toStdString();
                return false;
            }
            file.open(QIODevice::ReadOnly);
            display = QString::fromLatin1(file.readAll()).trimmed();
        }
        return true;
    }
    QImage screenshot() {
        const QString file = QString::fromStdString(dir.path().string()) + "/shot.png";
        QProcess grim;
        grim.setProcessEnvironment(env);
        grim.start("grim", {file});
        grim.waitForFinished(10000);
        // TESSEL_SCREENSHOTS=DIR keeps every picture, to look at.
        if (const QString keep = qEnvironmentVariable("TESSEL_SCREENSHOTS"); !keep.isEmpty())
            QFile::copy(file,
                        QStringLiteral("%1/sway-%2.png").arg(keep).arg(++shots, 3, 10, QChar('0')));
        return QImage(file);
    }
    // Share of the rectangle's pixels that pass `test`.
    template <class Test> static double share(const QImage& image, QRect rect, Test test) {
        int hits = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                hits += test(image.pixelColor(x, y));
        return double(hits) / (rect.width() * rect.height());
    }
    // A widget (light, on sway's dark grey) fills most of `rect`.
    bool widgetAt(QRect rect) {
        return share(screenshot(), rect, [](QColor c) { return c.lightness() > 200; }) > 0.8;
    }
    // Returns once every widget shows its first timeline, so no click lands on a view replaced.
    void startHost() {
        QProcessEnvironment e = env;
        e.insert("TESSEL_REPORT_READY", "1");
        host.setProcessEnvironment(e);
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        host.start(HOST_BINARY, {});
        QByteArray out;
        ASSERT_TRUE(test::spin(
            [&] {
                out += host.readAllStandardOutput();
                return out.contains("ready");
            },
            30000));
    }
    void stopHost() {
        host.terminate();
        ASSERT_TRUE(host.waitForFinished(10000));
    }
    // Whether the host says `text` on its standard error within a while.
    bool says(const char* text) {
        QByteArray said;
        return test::spin(
            [&] {
                said += host.readAllStandardError();
                return said.contains(text);
            },
            20000);
    }

    QString socket;
    std::string why;
    int shots = 0;
};

TEST_F(WaylandDesktopTest, LayerShellWidgetsStayBelowWindowsAndComeBackWhereDragged) {
    if (!startSway(false))
        GTEST_SKIP() << why;
    ASSERT_TRUE(HostSettings::save(
        settingsPath(), {placedAt(Family::Small, {100, 80}), placedAt(Family::Large, {700, 200})}));
    // The seat has a pointer before the host asks it for one.
    Pointer pointer(socket, screen);
    ASSERT_TRUE(pointer.ok());
    startHost();
    ASSERT_TRUE(test::spin([&] { return widgetAt({100, 80, 170, 170}); }, 30000));
    ASSERT_TRUE(test::spin([&] { return widgetAt({700, 200, 364, 382}); }, 30000));

    // A click on the large widget's refresh link reaches the desktop's URL handler.
    pointer.click(centre(Family::Large, widget::ViewItem::Role::Link, {700, 200}));
    ASSERT_TRUE(test::spin([&] { return openedUrls().size() == 1; }, 20000));
    EXPECT_EQ(openedUrls(), QStringList{"tesselwidget://refresh"});

    // Dragged by its empty lower part, the small widget moves and its place is saved.
    pointer.moveTo({120, 230});
    pointer.button(BTN_LEFT, true);
    pointer.moveTo({320, 430});
    pointer.button(BTN_LEFT, false);
    ASSERT_TRUE(test::spin([&] { return placed().value(0).position == QPoint(300, 280); }, 20000));
    EXPECT_TRUE(test::spin([&] { return widgetAt({300, 280, 170, 170}); }, 20000));

    // Its menu opens beside the pointer (already there: grim shows it); "中号" makes it medium.
    const QPoint at(385, 365);
    pointer.moveTo(at);
    const QImage before = screenshot();
    pointer.click(at, BTN_RIGHT);
    QMenu menu; // laid out as the host lays out its own
    for (const char* text :
         {"编辑小组件…", "", "小号", "中号", "大号", "", "移除小组件", "添加小组件…", "", "退出"})
        *text ? (void)menu.addAction(QString::fromUtf8(text)) : (void)menu.addSeparator();
    const QPoint medium = at + QPoint(1, 1) + menu.actionGeometry(menu.actions()[3]).center();
    const QRect shown(at + QPoint(1, 1), menu.sizeHint());
    ASSERT_TRUE(test::spin([&] { return screenshot().copy(shown) != before.copy(shown); }, 20000));
    pointer.click(medium);
    ASSERT_TRUE(test::spin([&] { return placed().value(0).family == Family::Medium; }, 20000));
    EXPECT_EQ(openedUrls().size(), 1);

    // Started again, it comes back where it was dragged to.
    stopHost();
    ASSERT_TRUE(test::spin([&] { return !widgetAt({300, 280, 364, 170}); }, 20000));
    startHost();
    ASSERT_TRUE(test::spin([&] { return widgetAt({300, 280, 364, 170}); }, 30000));
    EXPECT_FALSE(widgetAt({100, 80, 170, 170}));

    // A normal window opened over it covers it: the widgets live below every window.
    QProcess window;
    window.setProcessEnvironment(env);
    window.start("foot", {"-o", "colors.background=c00000"});
    if (!window.waitForStarted(10000))
        GTEST_SKIP() << "foot (a terminal) is not installed";
    EXPECT_TRUE(test::spin(
        [&] {
            return share(screenshot(), {300, 280, 364, 170}, [](QColor c) {
                       return c.red() > 150 && c.green() < 60 && c.blue() < 60;
                   }) > 0.8;
        },
        20000));
    window.terminate();
    window.waitForFinished(5000);
}

// Without a layer shell (forced here) the windows are XWayland's; without XWayland, a sentence.
TEST_F(WaylandDesktopTest, WithoutTheLayerShellXWaylandElseOneSentence) {
    if (!startSway(true))
        GTEST_SKIP() << why;
    env.insert("TESSEL_DESKTOP_ROUTE", "xwayland");
    env.insert("DISPLAY", display);
    startPlain({placedAt(Family::Small, {100, 80}), placedAt(Family::Medium, {400, 80})});
    ASSERT_TRUE(test::spin([&] { return windows("Tessel Widget").size() == 2; }, 30000));
    stopHost();

    env.insert("TESSEL_DESKTOP_ROUTE", "none");
    env.remove("DISPLAY");
    startPlain({placedAt(Family::Small, {100, 80})});
    EXPECT_TRUE(says("这个桌面无法把小组件固定在桌面上：请安装 XWayland"));
}

// weston has no layer shell and keeps nothing below: XWayland, and the host says so.
TEST_F(WaylandDesktopTest, OnWestonXWaylandAndOneSentence) {
    const QString root = QString::fromStdString(dir.path().string()) + "/weston";
    QDir().mkpath(root);
    ::chmod(root.toLocal8Bit().constData(), 0700);
    QProcessEnvironment westonEnv;
    westonEnv.insert("PATH", qEnvironmentVariable("PATH"));
    westonEnv.insert("XDG_RUNTIME_DIR", root);
    compositor.setProcessEnvironment(westonEnv);
    compositor.setProcessChannelMode(QProcess::MergedChannels);
    compositor.start("weston", {"--backend=headless-backend.so", "--xwayland", "--socket=wayland-1",
                                "--width=1280", "--height=800"});
    QByteArray out;
    test::spin(
        [&] {
            out += compositor.readAll();
            return out.contains("xserver listening") || compositor.state() == QProcess::NotRunning;
        },
        20000);
    const auto listening = QRegularExpression("xserver listening on display (:\\d+)").match(out);
    if (!listening.hasMatch())
        GTEST_SKIP() << "weston did not start headless with XWayland: " << out.toStdString();
    env.insert("WAYLAND_DISPLAY", root + "/wayland-1");
    env.insert("XDG_SESSION_TYPE", "wayland");
    env.insert("DISPLAY", listening.captured(1));
    env.remove("QT_QPA_PLATFORM");
    startPlain({placedAt(Family::Small, {100, 80})});
    EXPECT_TRUE(says("这个桌面无法把小组件固定在桌面上：请改用 X11 会话登录，或使用 KDE Plasma"));
}

#ifdef APP_BINARY
// The tray popup on a tiling compositor at scale 2: a floating panel of its own size, not tiled.
TEST_F(WaylandDesktopTest, TrayPopupFloatsAtThePanelsSize) {
    if (!startSway(false, 2))
        GTEST_SKIP() << why;
    const QString root = QString::fromStdString(dir.path().string());
    QProcess app;
    QProcessEnvironment appEnv = env;
    appEnv.insert("XDG_STATE_HOME", root + "/state");
    appEnv.remove("DBUS_SESSION_BUS_ADDRESS");
    app.setProcessEnvironment(appEnv);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The picture mode opens the dashboard and the popup beside a would-be tray icon; its first
    // picture goes into a pipe that holds both open until this test reads it.
    QDir().mkpath(root + "/shots");
    const QByteArray held = QFile::encodeName(root + "/shots/dashboard.png");
    ASSERT_EQ(::mkfifo(held.constData(), 0600), 0);
    app.start(APP_BINARY, {"--screenshots", root + "/shots"});
    const QString ipc = QDir(root + "/sway/run")
                            .entryInfoList({"sway-ipc.*"}, QDir::System | QDir::Files)
                            .value(0)
                            .filePath();
    QRect popup;
    std::function<void(const QJsonObject&, bool)> find = [&](const QJsonObject& node,
                                                             bool floating) {
        if (floating && node["name"].toString() == "Tessel Widget") {
            const QJsonObject r = node["rect"].toObject();
            popup = QRect(r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt());
        }
        for (const QJsonValue& child : node["nodes"].toArray())
            find(child.toObject(), floating);
        for (const QJsonValue& child : node["floating_nodes"].toArray())
            find(child.toObject(), true);
    };
    EXPECT_TRUE(test::spin(
        [&] {
            QProcess tree;
            tree.start("swaymsg", {"-s", ipc, "-t", "get_tree"});
            tree.waitForFinished(5000);
            find(QJsonDocument::fromJson(tree.readAllStandardOutput()).object(), false);
            return !popup.isNull() || app.state() == QProcess::NotRunning;
        },
        60000));
    ASSERT_FALSE(popup.isNull()) << "no floating popup";
    EXPECT_LE(popup.width(), 330 + 20);
    EXPECT_LE(popup.height(), screen.height() / 2);
    // Read without blocking, the pipe always has its reader: the pictures go on to the end.
    const int picture = ::open(held.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(picture, 0);
    char buffer[1 << 16];
    ASSERT_TRUE(test::spin(
        [&] {
            while (::read(picture, buffer, sizeof buffer) > 0) {
            }
            return app.state() == QProcess::NotRunning;
        },
        120000));
    ::close(picture);
    EXPECT_EQ(app.exitCode(), 0);
}
#endif

#endif

} // namespace
