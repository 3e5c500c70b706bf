// TesselWidget [URL]: the tray application. A start while another instance runs hands the URL
// (or nothing) to it and exits.
#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/application.h"
#include "app/screenshots.h"
#include "app/single_instance.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "session/quit_on_signals.h"
#include "sync/app_support.h"
#include "sync/workers.h"

using namespace tessel;
using namespace std::chrono_literals;

namespace {

// The manual page (data/man/TesselWidget.1.in) says the same.
constexpr char usage[] = "用法：TesselWidget [tesselwidget://URL]\n"
                         "      TesselWidget --version | --help\n";

struct Arguments {
    std::string url;
    std::string screenshots;
    bool ok = true;
    bool version = false;
    bool help = false;
};

Arguments parse(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--screenshots" && i + 1 < argc)
            a.screenshots = argv[++i];
        else if (arg == "--version")
            a.version = true;
        else if (arg == "--help" || arg == "-h")
            a.help = true;
        else if (arg.starts_with("-") || !a.url.empty())
            a.ok = false;
        else
            a.url = arg;
    }
    return a;
}

} // namespace

int main(int argc, char** argv) {
    // Every cycle holds the gateway key for a moment.
    AppSupport::forbidCoreDumps();
    Arguments args = parse(argc, argv);
    if (!args.ok) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (args.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args.version) {
        std::puts("TesselWidget " TESSEL_VERSION);
        return 0;
    }
    if (args.url.size() > SingleInstance::maxMessage) {
        std::fputs("TesselWidget：URL 过长，已忽略。\n", stderr);
        args.url.clear();
    }

    // Screenshots run beside a normal instance, so they skip the channel.
    const SingleInstance::Channel channel =
        args.screenshots.empty() ? SingleInstance::channel() : SingleInstance::Channel{};
    if (channel.valid()) {
        // Another instance may be starting at this moment: it holds the lock before it listens.
        int lock = -1;
        for (int attempt = 0; attempt < 200 && lock < 0; ++attempt) {
            switch (SingleInstance::send(channel, args.url, 15s)) {
            case SingleInstance::Handover::Delivered:
                return 0;
            case SingleInstance::Handover::Failed:
                std::fputs("TesselWidget：正在运行的实例没有应答。\n", stderr);
                return 1;
            case SingleInstance::Handover::NoInstance:
                break;
            }
            lock = channel.tryLock();
            if (lock < 0)
                std::this_thread::sleep_for(50ms);
        }
        if (lock < 0) {
            std::fputs("TesselWidget：正在运行的实例没有应答。\n", stderr);
            return 1;
        }
    } else if (args.screenshots.empty()) {
        std::fputs("TesselWidget：没有可用的运行目录，无法保证只运行一个实例。\n", stderr);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TesselWidget"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessel Widget"));
    QApplication::setOrganizationName(QStringLiteral("quorvane"));
    QApplication::setApplicationVersion(QStringLiteral(TESSEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("net.quorvane.TesselWidget"));
    QApplication::setWindowIcon(TrayIcon::bird());
    quitOnSignals(app);

    TesselWidgetApp shell;
    QObject::connect(&shell, &TesselWidgetApp::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    SingleInstance::Server server;
    if (channel.valid()) {
        if (!server.listen(channel))
            std::fputs("TesselWidget：无法监听实例通道，后续启动将另开实例。\n", stderr);
        QObject::connect(&server, &SingleInstance::Server::received, &shell,
                         &TesselWidgetApp::handleMessage);
    }
    if (!args.screenshots.empty()) {
        takeScreenshots(shell, QString::fromLocal8Bit(args.screenshots));
        return app.exec();
    }
    shell.start();
    // For start-up measurements: one line once the tray host shows the icon, or without a tray
    // once the first event-loop turn is through.
    if (qEnvironmentVariableIsSet("TESSEL_REPORT_READY")) {
        auto* poll = new QTimer(&app);
        poll->setInterval(1);
        QObject::connect(poll, &QTimer::timeout, &app, [poll, &shell] {
            if (shell.tray().isVisible() && shell.tray().geometry().isEmpty())
                return;
            poll->stop();
            std::puts("ready");
            std::fflush(stdout);
        });
        poll->start();
    }
    if (!args.url.empty())
        shell.openUrl(QString::fromLocal8Bit(args.url.data(), qsizetype(args.url.size())));
    const int status = app.exec();
    letWorkersFinish(status, {Workers::pool()});
    return status;
}
