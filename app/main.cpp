// TesselWidget [URL]: the tray application. A start while another instance runs hands the URL
// (or nothing) to it and exits.
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/test_hooks.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "session/instance_channel.h"
#include "session/quit_on_signals.h"
#include "sync/app_support.h"
#include "sync/workers.h"

using namespace tessel;

namespace {

// Longest URL handed over; anything longer is no URL of ours.
constexpr std::size_t maxUrl = 64 * 1024;

// The manual page (data/man/TesselWidget.1.in) says the same.
constexpr char usage[] = "用法：TesselWidget [tesselwidget://URL]\n"
                         "      TesselWidget --version | --help\n";

struct Start {
    std::string url;
    std::optional<int> exitStatus; // set when the arguments end the run here
};

Start parseArguments(QCommandLineParser& parser, int argc, char** argv) {
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version});
    TestHooks::addOptions(parser);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool parsed = parser.parse(arguments);
    const QStringList urls = parser.positionalArguments();
    if (!parsed || urls.size() > 1 || urls.value(0).startsWith(u'-')) {
        std::fputs(usage, stderr);
        return {{}, 2};
    }
    if (parser.isSet(help)) {
        std::fputs(usage, stdout);
        return {{}, 0};
    }
    if (parser.isSet(version)) {
        std::puts("TesselWidget " TESSEL_VERSION);
        return {{}, 0};
    }
    Start start{urls.value(0).toLocal8Bit().toStdString(), {}};
    if (start.url.size() > maxUrl) {
        std::fputs("TesselWidget：URL 过长，已忽略。\n", stderr);
        start.url.clear();
    }
    return start;
}

// The exit status when a running instance took the URL or did not answer; nothing once this
// process holds the instance lock.
std::optional<int> handOver(InstanceChannel& channel, const std::string& url) {
    switch (channel.claim(url)) {
    case InstanceChannel::Start::HandedOver:
        return 0;
    case InstanceChannel::Start::NoAnswer:
        std::fputs("TesselWidget：正在运行的实例没有应答。\n", stderr);
        return 1;
    case InstanceChannel::Start::Claimed:
        break;
    }
    if (!channel.valid())
        std::fputs("TesselWidget：没有可用的运行目录，无法保证只运行一个实例。\n", stderr);
    return std::nullopt;
}

void describeApplication() {
    QApplication::setApplicationName(QStringLiteral("TesselWidget"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessel Widget"));
    QApplication::setOrganizationName(QStringLiteral("quorvane"));
    QApplication::setApplicationVersion(QStringLiteral(TESSEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("net.quorvane.TesselWidget"));
    QApplication::setWindowIcon(TrayIcon::bird());
}

} // namespace

int main(int argc, char** argv) {
    // Every cycle holds the gateway key for a moment.
    AppSupport::forbidCoreDumps();
    QCommandLineParser parser;
    const Start start = parseArguments(parser, argc, argv);
    if (start.exitStatus)
        return *start.exitStatus;

    // A test run goes beside a normal instance, so it skips the channel.
    const bool testRun = TestHooks::replacesStart(parser);
    InstanceChannel channel("net.quorvane.TesselWidget", maxUrl);
    if (!testRun)
        if (const std::optional<int> status = handOver(channel, start.url))
            return *status;

    QApplication app(argc, argv);
    describeApplication();
    quitOnSignals(app);

    TesselWidgetApp shell;
    QObject::connect(&shell, &TesselWidgetApp::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    if (!testRun) {
        QObject::connect(&channel, &InstanceChannel::received, &shell,
                         &TesselWidgetApp::handleMessage);
        if (!channel.listen())
            std::fputs("TesselWidget：无法监听实例通道，后续启动将另开实例。\n", stderr);
    } else {
        TestHooks::run(shell, parser);
        return app.exec();
    }
    shell.start();
    TestHooks::started(shell);
    if (!start.url.empty())
        shell.openUrl(QString::fromLocal8Bit(start.url.data(), qsizetype(start.url.size())));
    const int status = app.exec();
    letWorkersFinish(status, {Workers::pool()});
    return status;
}
