// The real program on a real X server (Xvfb): placed windows with their sizes, positions and
// desktop states, a second start's hand-over, and clicks that reach the desktop's URL handler.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <xcb/xcb.h>

#include <cstring>
#include <fcntl.h>
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

namespace {

template <class T> std::unique_ptr<T, decltype(&std::free)> own(T* reply) {
    return {reply, &std::free};
}

struct Window {
    QRect geometry;
    QString name;
    QList<quint32> states; // atoms
    QList<quint32> desktop;
};

class Display {
public:
    explicit Display(const QString& name) : c_(xcb_connect(name.toLatin1().constData(), nullptr)) {}
    ~Display() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_); }

    xcb_atom_t atom(const char* name) {
        const auto r = own(xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The mapped top-level windows.
    QList<Window> windows() {
        QList<Window> out;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        const auto tree = own(xcb_query_tree_reply(c_, xcb_query_tree(c_, root), nullptr));
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t id = xcb_query_tree_children(tree.get())[i];
            const auto a = own(
                xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, id), nullptr));
            const auto g = own(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, id), nullptr));
            if (!a || a->map_state != XCB_MAP_STATE_VIEWABLE || !g)
                continue;
            const QByteArray name = property(id, "_NET_WM_NAME");
            out.append({QRect(g->x, g->y, g->width, g->height), QString::fromUtf8(name),
                        values(property(id, "_NET_WM_STATE")),
                        values(property(id, "_NET_WM_DESKTOP"))});
        }
        return out;
    }

private:
    QByteArray property(xcb_window_t w, const char* name) {
        const auto r = own(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            nullptr));
        return r ? QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                              xcb_get_property_value_length(r.get()))
                 : QByteArray();
    }
    static QList<quint32> values(const QByteArray& bytes) {
        QList<quint32> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.constData(), size_t(out.size()) * 4);
        return out;
    }

    xcb_connection_t* c_;
};

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        xvfb.setProgram("Xvfb");
        xvfb.setArguments({"-displayfd", "1", "-screen", "0", "1280x900x24", "-nolisten", "tcp"});
        xvfb.start();
        ASSERT_TRUE(xvfb.waitForStarted());
        ASSERT_TRUE(test::spin([&] { return xvfb.canReadLine(); }, 20000));
        display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();

        const QString root = QString::fromStdString(dir.path().string());
        QDir().mkpath(root + "/runtime");
        ::chmod((root + "/runtime").toLocal8Bit().constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
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
        for (QProcess* p : {&host, &xvfb}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished();
        }
    }
    QList<Window> hostWindows(Display& x) {
        QList<Window> out;
        for (const Window& w : x.windows())
            if (w.name.startsWith("Tessel Widget"))
                out.append(w);
        return out;
    }
    QStringList openedUrls() const {
        QFile f(opened);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    int xdotool(const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start("xdotool", arguments);
        p.waitForFinished(10000);
        return p.exitCode();
    }

    test::TempDir dir;
    // This process reads the same shared files, to find where the views put their items.
    test::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
    QProcess xvfb;
    QProcess host;
    QString display;
    QString opened;
    QProcessEnvironment env;
};

TEST_F(DesktopTest, PlacedWidgetsLiveOnTheDesktop) {
    const QString settings =
        QString::fromStdString(dir.path().string()) + "/config/quorvane/tessel-widget-host.ini";
    ASSERT_TRUE(
        HostSettings::save(settings, {{"s", "TesselDesktopWidget", "small", {20, 30}, "", {}},
                                      {"m", "TesselDesktopWidget", "medium", {220, 30}, "", {}},
                                      {"l", "TesselDesktopWidget", "large", {620, 30}, "", {}}}));
    host.setProcessEnvironment(env);
    host.start(HOST_BINARY, {});
    Display x(display);
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(test::spin([&] { return hostWindows(x).size() == 3; }, 30000));
    QList<QRect> geometries;
    for (const Window& w : hostWindows(x)) {
        geometries.append(w.geometry);
        for (const char* state : {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                                  "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
            EXPECT_TRUE(w.states.contains(x.atom(state))) << state;
        EXPECT_EQ(w.desktop, QList<quint32>{0xFFFFFFFF});
    }
    std::sort(geometries.begin(), geometries.end(),
              [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
    EXPECT_EQ(geometries, QList<QRect>({QRect(20, 30, 170, 170), QRect(220, 30, 364, 170),
                                        QRect(620, 30, 364, 382)}));

    // Items where the plug-in's own layout puts them: the large widget's refresh link, the
    // small one's cycling button; a click elsewhere is the widget's tap.
    const QList<LoadedPlugin> plugins = Plugins::load({PLUGIN_DIR});
    ASSERT_EQ(plugins.size(), 1);
    auto centre = [&](widget::Family family, widget::ViewItem::Role role, QPoint origin) {
        const auto view =
            plugins[0].plugin->createView(plugins[0].plugin->snapshot({}, {family}), family, {});
        view->widget()->show();
        for (const widget::ViewItem& item : view->items())
            if (item.role == role)
                return origin + item.rect.center();
        return QPoint();
    };
    auto click = [&](QPoint at) {
        ASSERT_FALSE(at.isNull());
        ASSERT_EQ(
            xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}),
            0);
    };
    click(centre(widget::Family::Large, widget::ViewItem::Role::Link, {620, 30}));
    ASSERT_TRUE(test::spin([&] { return openedUrls().size() == 1; }, 20000));
    click({800, 300});
    ASSERT_TRUE(test::spin([&] { return openedUrls().size() == 2; }, 20000));
    EXPECT_EQ(openedUrls(), QStringList({"tesselwidget://refresh", "tesselwidget://overview"}));

    click(centre(widget::Family::Small, widget::ViewItem::Role::Button, {20, 30}));
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
    auto galleries = [&] {
        const QList<Window> all = x.windows();
        return std::count_if(all.begin(), all.end(),
                             [](const Window& w) { return w.name.startsWith("添加小组件"); });
    };
    ASSERT_TRUE(test::spin([&] { return galleries() > 0; }, 20000));
    EXPECT_EQ(galleries(), 1);
    EXPECT_EQ(host.state(), QProcess::Running);
}

// A button's intent that waits for the selection lock another process holds must not keep the
// host from ending when the session does.
TEST_F(DesktopTest, AnIntentStuckOnALockDoesNotHoldTheEnd) {
    const QString settings =
        QString::fromStdString(dir.path().string()) + "/config/quorvane/tessel-widget-host.ini";
    ASSERT_TRUE(
        HostSettings::save(settings, {{"s", "TesselDesktopWidget", "small", {20, 30}, "", {}}}));
    host.setProcessEnvironment(env);
    host.start(HOST_BINARY, {});
    Display x(display);
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(test::spin([&] { return hostWindows(x).size() == 1; }, 30000));

    const auto lockFile = *SharedContainer::directory() / ".selection.lock";
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const QList<LoadedPlugin> plugins = Plugins::load({PLUGIN_DIR});
    ASSERT_EQ(plugins.size(), 1);
    const auto view = plugins[0].plugin->createView(
        plugins[0].plugin->snapshot({}, {widget::Family::Small}), widget::Family::Small, {});
    view->widget()->show();
    QPoint button;
    for (const widget::ViewItem& item : view->items())
        if (item.role == widget::ViewItem::Role::Button)
            button = QPoint(20, 30) + item.rect.center();
    ASSERT_FALSE(button.isNull());
    // The click's intent is stuck once the kernel lists the host among the lock's waiters.
    const QByteArray waiting =
        QStringLiteral(" -> FLOCK  ADVISORY  WRITE %1 ").arg(host.processId()).toLatin1();
    auto stuck = [&] {
        QFile locks("/proc/locks");
        return locks.open(QIODevice::ReadOnly) && locks.readAll().contains(waiting);
    };
    ASSERT_EQ(xdotool({"mousemove", QString::number(button.x()), QString::number(button.y()),
                       "click", "1"}),
              0);
    ASSERT_TRUE(test::spin(stuck, 20000));
    host.terminate();
    EXPECT_TRUE(host.waitForFinished(30000));
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(host.exitCode(), 0);
    ::close(lock);
}

} // namespace
