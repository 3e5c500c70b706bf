// TesselWidget [URL]: the tray application. A start while another instance runs hands the URL
// (or nothing) to it and exits.
#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/application.h"
#include "app/screenshots.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "gateway/secret_memory.h"
#include "session/instance_channel.h"
#include "session/quit_on_signals.h"
#include "sync/workers.h"

using namespace tessel;

namespace {

// Longest URL handed over; anything longer is no URL of ours.
constexpr std::size_t maxUrl = 64 * 1024;

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
    SecretMemory::forbidCoreDumps();
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
    if (args.url.size() > maxUrl) {
        std::fputs("TesselWidget：URL 过长，已忽略。\n", stderr);
        args.url.clear();
    }

    InstanceChannel channel("net.quorvane.TesselWidget", maxUrl);
    // Screenshots run beside a normal instance, so they skip the channel.
    if (args.screenshots.empty()) {
        switch (channel.claim(args.url)) {
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
    QObject::connect(&channel, &InstanceChannel::received, &shell, &TesselWidgetApp::handleMessage);
    if (!channel.listen())
        std::fputs("TesselWidget：无法监听实例通道，后续启动将另开实例。\n", stderr);
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
