// tessel-widget-host: keeps the placed desktop widgets; also draws one widget off-screen.
//   tessel-widget-host [--gallery]
//   tessel-widget-host render --family small|medium|large [--config FILE] [--scale S]
//                             [--theme light|dark] [--out FILE.png] [--describe]
#include "host/desktop_route.h"
#include "host/host.h"
#include "host/plugins.h"
#include "host/render.h"
#include "host/test_hooks.h"
#include "host/widget_window.h"
#include "session/instance_channel.h"
#include "session/quit_on_signals.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>
#include <optional>

using namespace tessel::host;

namespace {

constexpr char usage[] =
    "用法：tessel-widget-host [--gallery]\n"
    "      tessel-widget-host render --family small|medium|large [--config FILE] [--scale S]\n"
    "                                [--theme light|dark] [--out FILE.png] [--describe]\n"
    "      tessel-widget-host --version | --help\n";

QStringList argumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int renderMain(int argc, char** argv) {
    RenderOptions options;
    QString error;
    if (parseRender(argumentList(argc, argv).mid(2), options, error) != 0) {
        std::fprintf(stderr, "tessel-widget-host: %s\n%s", qPrintable(error), usage);
        return 2;
    }
    // No window system is needed, nor used when one is there.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return render(options, Plugins::load(Plugins::searchPath()), stdout, stderr);
}

// The exit status when the arguments end the run here.
std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& arguments) {
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version, QCommandLineOption(QStringLiteral("gallery"))});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tessel-widget-host: %s\n%s",
                     qPrintable(argumentError(parser, arguments)), usage);
        return 2;
    }
    if (parser.isSet(version)) {
        std::printf("tessel-widget-host %s\n", TESSEL_VERSION);
        return 0;
    }
    if (parser.isSet(help)) {
        std::fputs(usage, stdout);
        return 0;
    }
    return std::nullopt;
}

void describeApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("tessel-widget-host"));
    app.setApplicationDisplayName(QStringLiteral("Tessel 桌面小组件"));
    app.setDesktopFileName(QStringLiteral("net.quorvane.TesselWidget.WidgetHost"));
    app.setQuitOnLastWindowClosed(false);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "render") == 0)
        return renderMain(argc, argv);
    QCommandLineParser parser;
    if (const std::optional<int> status = parseArguments(parser, argumentList(argc, argv)))
        return *status;
    const bool gallery = parser.isSet(QStringLiteral("gallery"));

    // A later start's message: "" (started again) or "gallery"; anything longer is nobody we
    // know.
    tessel::InstanceChannel instance("net.quorvane.TesselWidget.WidgetHost", 1024);
    switch (instance.claim(gallery ? "gallery" : "")) {
    case tessel::InstanceChannel::Start::HandedOver:
        return 0;
    case tessel::InstanceChannel::Start::NoAnswer:
        std::fprintf(stderr, "tessel-widget-host: 正在运行的实例没有响应\n");
        return 1;
    case tessel::InstanceChannel::Start::Claimed:
        break;
    }

    // Picks the Qt platform, so it comes before the application object.
    Desktop::choose();
    QApplication app(argc, argv);
    describeApplication(app);
    tessel::quitOnSignals(app);
    if (const QString limitation = Desktop::limitation(); !limitation.isEmpty())
        std::fprintf(stderr, "tessel-widget-host: %s\n", qPrintable(limitation));

    Host host(Plugins::load(Plugins::searchPath()), HostSettings::path());
    QObject::connect(&instance, &tessel::InstanceChannel::received, &host, &Host::handle);
    instance.listen();
    QObject::connect(&host, &Host::idle, &app, &QCoreApplication::quit);
    // Nothing placed yet: the gallery is the only thing to show.
    if (!host.restore() || gallery)
        host.showGallery();
    TestHooks::started(host);
    const int status = app.exec();
    tessel::letWorkersFinish(status);
    return status;
}
