// The real program as a process: the hand-over, and real keys, wheel and tray menu on X11.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>

#include <csignal>
#include <filesystem>

#include "support/app_fixture.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::spin;
namespace fs = std::filesystem;

namespace {

class Instances : public test::GatewayTest {
protected:
    static void set(QProcessEnvironment& env, const QStringList& variables) {
        for (const QString& variable : variables) {
            const QString name = variable.section(u'=', 0, 0), value = variable.section(u'=', 1);
            value.isEmpty() ? env.remove(name) : env.insert(name, value);
        }
    }
    void SetUp() override {
        GatewayTest::SetUp();
        setting(AppSettings::interval, 3600);
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    }
    void TearDown() override {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }
    fs::path runtime() const { return dir.path() / "runtime"; }
    fs::path socket() const { return runtime() / "net.quorvane.TesselWidget.socket"; }
    fs::path snapshot() const {
        return dir.path() / "data/group.net.quorvane.TesselWidget/snapshot.json";
    }
    // The program; `variables` ("NAME=value") are set, or removed when the value is empty.
    QProcess& launch(const QStringList& arguments, const QStringList& variables = {}) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString root = QString::fromStdString(dir.path().string());
        env.insert("HOME", root + "/home");
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("XDG_DATA_HOME", root + "/data");
        env.insert("XDG_RUNTIME_DIR", root + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        set(env, variables);
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(TESSELWIDGET), arguments);
        EXPECT_TRUE(p->waitForStarted(10000));
        processes.push_back(std::move(p));
        return *processes.back();
    }
    // A start that must hand over and leave with 0.
    void handOver(const QString& argument) {
        QProcess& second = launch({argument});
        EXPECT_TRUE(second.waitForFinished(15000)) << argument.left(40).toStdString();
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << argument.left(40).toStdString();
    }
    // The first instance has no tray here, so it opens the dashboard and polls once at start.
    QProcess& startFirst() {
        QProcess& first = launch({});
        EXPECT_TRUE(spin([&] { return fs::exists(snapshot()); }));
        EXPECT_TRUE(spin([&] { return fs::exists(socket()); }));
        EXPECT_EQ(gateway.requestCount("api/hello"), 1u);
        return first;
    }

    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(Instances, SecondStartHandsItsUrlOverAndACrashLeavesNothingInTheWay) {
    QProcess& first = startFirst();
    handOver(QStringLiteral("tesselwidget://refresh"));
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") == 2; }));

    // Odd arguments reach the running instance without harming it.
    handOver(QString::fromUtf8("\xff\xfe binary \x01"));
    handOver(QStringLiteral("tesselwidget://") + QString(100000, u'r'));
    handOver(QStringLiteral("https://refresh"));
    handOver(QString());
    ASSERT_EQ(first.state(), QProcess::Running);
    handOver(QStringLiteral("tesselwidget://refresh"));
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") == 3; }));

    first.kill(); // SIGKILL: the socket file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(fs::exists(socket()));
    // The next start with a URL finds no one to hand it to and handles it itself.
    QProcess& next = launch({QStringLiteral("tesselwidget://refresh")});
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 4; }));
    EXPECT_EQ(next.state(), QProcess::Running);
    handOver(QStringLiteral("tesselwidget://usage"));
    EXPECT_EQ(next.state(), QProcess::Running);

    // A session's SIGTERM ends it normally, also while a cycle waits for a gateway that hangs.
    gateway.on("api/hello", test::Route::json(R"({"name":"tessel","version":"1.4.2"})", 200, 120s));
    handOver(QStringLiteral("tesselwidget://refresh"));
    ASSERT_TRUE(spin([&] { return gateway.requestCount("api/hello") == 5; }));
    const auto pid = static_cast<pid_t>(next.processId());
    ASSERT_GT(pid, 0); // kill(0) would end the whole test run
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    EXPECT_EQ(next.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.exitCode(), 0);
}

// A panel's StatusNotifierWatcher, which makes Qt export its tray icon and menu over D-Bus.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
};

// What a method, or a property with "get-property", answers on the bus at `address`.
QJsonValue busctl(const QString& address, const QStringList& command) {
    QProcess p;
    p.start("busctl", QStringList{"--address=" + address, "--json=short", "--"} + command);
    p.waitForFinished(10000);
    return QJsonDocument::fromJson(p.readAllStandardOutput())["data"];
}

// The properties of every labelled item of a dbusmenu layout ([id, {name: variant}, [variant]]).
void readLayout(const QJsonArray& node, QList<QJsonObject>& items) {
    if (node[1].toObject().contains("label"))
        items << node[1].toObject();
    for (const QJsonValue& child : node[2].toArray())
        readLayout(child["data"].toArray(), items);
}

// Every name a screen reader finds from the node `path` of `service` down.
void spokenNames(const QString& bus, const QString& service, const QString& path,
                 QStringList& names) {
    const QString accessible = "org.a11y.atspi.Accessible";
    names << busctl(bus, {"get-property", service, path, accessible, "Name"}).toString();
    for (const QJsonValue& child :
         busctl(bus, {"call", service, path, accessible, "GetChildren"})[0].toArray())
        spokenNames(bus, child[0].toString(), child[1].toString(), names);
}

// Xvfb under openbox for real focus; a session bus that starts no keyring (no key, at once).
class OnDesktop : public Instances {
protected:
    void SetUp() override {
        Instances::SetUp();
        // The dashboard opens at once, and closing it ends the program.
        setting(AppSettings::showMenuBar, false);
        const auto config = dir.write(
            "session-bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\"><busconfig>"
            "<type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        busAddress = firstLine(bus, "dbus-daemon",
                               {"--config-file=" + QString::fromStdString(config.string()),
                                "--nofork", "--print-address=1"});
        ASSERT_FALSE(busAddress.isEmpty());
        windowManager.setProcessChannelMode(QProcess::MergedChannels);
        // An X server on a display number of its own, far from the low ones other servers take
        // and free, managed by openbox once `_NET_SUPPORTING_WM_CHECK` is set. An X server that
        // openbox cannot open or manage within a while is replaced by another, at most twice.
        bool managed = false;
        for (int round = 0; round < 3 && !managed; ++round) {
            for (QProcess* p : {&windowManager, &xvfb})
                if (p->state() != QProcess::NotRunning) {
                    p->kill();
                    p->waitForFinished();
                }
            display.clear();
            for (int attempt = 0; attempt < 20 && display.isEmpty(); ++attempt) {
                const QString number =
                    QString::number(QRandomGenerator::global()->bounded(200, 1000));
                if (const QString ready =
                        firstLine(xvfb, "Xvfb",
                                  {":" + number, "-displayfd", "1", "-screen", "0", "1280x900x24",
                                   "-nolisten", "tcp", "-noreset"});
                    ready == number)
                    display = ":" + number;
                else
                    xvfb.waitForFinished();
            }
            ASSERT_FALSE(display.isEmpty());
            windowManager.setProcessEnvironment(environment());
            windowManager.start("openbox", {});
            managed = spin(
                [&] {
                    return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"})
                        .contains("window id");
                },
                10000);
        }
        ASSERT_TRUE(managed) << windowManager.readAll().toStdString();
    }
    void TearDown() override {
        Instances::TearDown();
        for (QProcess* p : {&trayHost, &accessibility, &windowManager, &xvfb, &bus}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished();
        }
    }
    // The first line `program` prints once it is ready; empty when it ends first.
    static QString firstLine(QProcess& process, const QString& program, const QStringList& args) {
        process.start(program, args);
        spin([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
             20000);
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    // This desktop's variables, then those of a key scheme.
    QStringList desktop(const QStringList& scheme = {}) const {
        return QStringLiteral("XDG_CURRENT_DESKTOP= DESKTOP_SESSION= KDE_SESSION_VERSION= "
                              "QT_QPA_PLATFORMTHEME= QT_STYLE_OVERRIDE= WAYLAND_DISPLAY= "
                              "QT_QPA_PLATFORM=xcb")
                   .split(u' ') +
               QStringList{"DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + busAddress} + scheme;
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        set(env, desktop({"HOME=" + QString::fromStdString((dir.path() / "home").string())}));
        return env;
    }
    // What a tool prints on this desktop; empty after 20 s.
    QString run(const QString& program, const QStringList& args) const {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, args);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // The dashboard window once it is shown, activated by the window manager; its id.
    QString dashboard() {
        const QString id =
            run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Tessel Widget$"})
                .section(u'\n', 0, 0);
        if (!id.isEmpty())
            run("xdotool", {"windowactivate", "--sync", id});
        return id;
    }
    void press(const QString& key) { run("xdotool", {"key", "--clearmodifiers", key}); }
    // Whether the program ended by itself, normally; otherwise it is ended here.
    static bool ended(QProcess& process) {
        if (process.waitForFinished(15000))
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        process.kill();
        process.waitForFinished();
        return false;
    }

    QProcess bus, xvfb, windowManager, accessibility, trayHost;
    QString busAddress, display;
};

TEST_F(OnDesktop, MenuKeysActUnderEveryKeySchemeAndTheWheelChangesNoSetting) {
    const fs::path preferences = dir.path() / "data/group.net.quorvane.TesselWidget";
    const QStringList schemes[] = {
        {}, {"XDG_CURRENT_DESKTOP=GNOME"}, {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5"}};
    for (const auto& scheme : schemes) {
        SCOPED_TRACE(scheme.isEmpty() ? "generic" : scheme.front().toStdString());
        const std::size_t before = gateway.requestCount("api/hello");
        QProcess& first = launch({"tesselwidget://settings"}, desktop(scheme));
        const QString id = dashboard();
        ASSERT_FALSE(id.isEmpty());
        ASSERT_TRUE(spin([&] { return gateway.requestCount("api/hello") > before; }));
        if (scheme.isEmpty()) {
            // Wheel notches down the pickers' column: scrolled to the end, then over what is there.
            QMap<QString, int> at;
            for (const QString& line :
                 run("xdotool", {"getwindowgeometry", "--shell", id}).split('\n'))
                at[line.section(u'=', 0, 0)] = line.section(u'=', 1).toInt();
            QStringList sweep;
            for (int pass = 0; pass < 2; ++pass)
                for (int y = at["Y"] + 70; y < at["Y"] + at["HEIGHT"] - 10; y += 12)
                    sweep << QStringLiteral("mousemove %1 %2 click --delay 0 5")
                                 .arg(at["X"] + at["WIDTH"] - 140)
                                 .arg(y)
                                 .split(u' ');
            run("xdotool", sweep);
        }
        // "刷新" (Ctrl+R) counts once the first cycle is over; a press meanwhile is ignored.
        for (int i = 0; i < 20 && gateway.requestCount("api/hello") < before + 2; ++i) {
            press("ctrl+r");
            spin([&] { return gateway.requestCount("api/hello") >= before + 2; }, 2000);
        }
        EXPECT_GE(gateway.requestCount("api/hello"), before + 2);
        press("ctrl+w"); // "关闭窗口", the last window: the program ends, after every event
        EXPECT_TRUE(ended(first));

        QProcess& second = launch({}, desktop(scheme));
        ASSERT_FALSE(dashboard().isEmpty());
        press("ctrl+q"); // "退出"
        EXPECT_TRUE(ended(second));
    }
    // The wheel changed no picker: no setting and no widget preference was written.
    EXPECT_FALSE(QSettings(settingsPath(), QSettings::IniFormat).contains("appearance"));
    EXPECT_FALSE(QSettings(settingsPath(), QSettings::IniFormat).contains("menuQuota"));
    EXPECT_FALSE(fs::exists(preferences / "widget-preferences.json"));
}

// What a panel and a screen reader get over D-Bus: the tray menu, and the popup the icon opens.
TEST_F(OnDesktop, TrayMenuAndPopupReachThePanelAndTheScreenReader) {
    setting(AppSettings::showMenuBar, true);
    QDBusConnection panel = QDBusConnection::connectToBus(busAddress, "panel");
    Watcher watcher;
    ASSERT_TRUE(panel.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAllContents));
    ASSERT_TRUE(panel.registerService("org.kde.StatusNotifierWatcher"));
    // The accessibility bus, as a desktop session starts it.
    accessibility.setProcessEnvironment(environment());
    accessibility.start("/usr/libexec/at-spi-bus-launcher", {"--launch-immediately"});
    ASSERT_TRUE(
        spin([&] { return panel.interface()->isServiceRegistered("org.a11y.Bus").value(); }));
    const QString reader = busctl(busAddress, {"call", "org.a11y.Bus", "/org/a11y/bus",
                                               "org.a11y.Bus", "GetAddress"})[0]
                               .toString();
    ASSERT_FALSE(reader.isEmpty());
    // GNOME's key scheme brings its icon theme, Adwaita.
    launch({}, desktop({"XDG_CURRENT_DESKTOP=GNOME", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"}));
    ASSERT_TRUE(spin([&] { return !watcher.items.isEmpty(); }, 20000));
    const QString item = watcher.items.front();

    // Themed icons go by name; the bird, in no theme until installed, goes as a picture.
    const QString menu = busctl(busAddress, {"get-property", item, "/StatusNotifierItem",
                                             "org.kde.StatusNotifierItem", "Menu"})
                             .toString();
    QList<QJsonObject> items;
    readLayout(busctl(busAddress, {"call", item, menu, "com.canonical.dbusmenu", "GetLayout",
                                   "iias", "0", "-1", "0"})[1]
                   .toArray(),
               items);
    QStringList labels, icons;
    for (const QJsonObject& i : items) {
        labels << i["label"]["data"].toString();
        icons << i["icon-name"]["data"].toString();
    }
    EXPECT_EQ(labels, QStringList({"打开面板", "刷新", "打开概览", "设置", "检查更新…", "退出"}));
    EXPECT_EQ(icons, QStringList({"", "view-refresh-symbolic", "view-grid-symbolic",
                                  "emblem-system-symbolic", "", ""}));
    EXPECT_TRUE(!items.isEmpty() && items.front().contains("icon-data"));

    // A click on the icon opens the popup; a screen reader finds its texts and buttons.
    busctl(busAddress, {"call", item, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                        "Activate", "ii", "600", "10"});
    QStringList names;
    EXPECT_TRUE(spin(
        [&] {
            names.clear();
            spokenNames(reader, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                        names);
            return names.contains("刷新");
        },
        20000))
        << names.join(u',').toStdString();
    for (const char* expected : {"TesselWidget", "Tessel Widget", "打开概览", "设置", "退出"})
        EXPECT_TRUE(names.contains(QString::fromUtf8(expected))) << expected;
    // The panel restarts: seen going (the dashboard replaces the popup) and back (a new icon).
    const QStringList shown{"search", "--onlyvisible", "--name", "^Tessel"};
    const QString popup = run("xdotool", shown);
    ASSERT_TRUE(panel.unregisterService("org.kde.StatusNotifierWatcher"));
    EXPECT_TRUE(spin([&] { return !QStringList{"", popup}.contains(run("xdotool", shown)); }));
    ASSERT_TRUE(panel.registerService("org.kde.StatusNotifierWatcher"));
    EXPECT_TRUE(spin([&] { return watcher.items.size() == 2; }, 20000));
    panel.unregisterService("org.kde.StatusNotifierWatcher");
    QDBusConnection::disconnectFromBus("panel");
    // Likewise an XEmbed tray that comes after the start, and goes.
    processes.front()->terminate();
    ASSERT_TRUE(ended(*processes.front()));
    launch({}, desktop());
    ASSERT_FALSE(dashboard().isEmpty()); // no tray within the wait
    trayHost.setProcessEnvironment(environment());
    trayHost.start("trayer", {});
    EXPECT_TRUE(spin([&] {
        const QString host = run("xdotool", {"search", "--classname", "^panel$"});
        return !host.isEmpty() && run("xwininfo", {"-tree", "-id", host}).contains("TesselWidget");
    }));
    ASSERT_FALSE(dashboard().isEmpty());
    press("ctrl+w"); // the tray keeps the program
    trayHost.kill();
    EXPECT_FALSE(dashboard().isEmpty()); // the program, still there, shows it has no tray
}

} // namespace

#include "program_test.moc"
