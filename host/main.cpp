// tessel-widget-host: keeps the placed desktop widgets; also draws one widget off-screen.
//   tessel-widget-host [--gallery]
//   tessel-widget-host render --family small|medium|large [--config FILE] [--scale S]
//                             [--theme light|dark] [--out FILE.png] [--describe]
#include "host/desktop_route.h"
#include "host/host.h"
#include "host/plugins.h"
#include "host/render.h"
#include "host/widget_window.h"
#include "session/instance_channel.h"
#include "session/quit_on_signals.h"

#include <QApplication>
#include <QIcon>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace tessel::host;

namespace {

constexpr char usage[] =
    "用法：tessel-widget-host [--gallery]\n"
    "      tessel-widget-host render --family small|medium|large [--config FILE] [--scale S]\n"
    "                                [--theme light|dark] [--out FILE.png] [--describe]\n"
    "      tessel-widget-host --version | --help\n";

int renderMain(int argc, char** argv) {
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    RenderOptions options;
    QString error;
    if (parseRender(arguments, options, error) != 0) {
        std::fprintf(stderr, "tessel-widget-host: %s\n%s", qPrintable(error), usage);
        return 2;
    }
    // No window system is needed, nor used when one is there.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return render(options, Plugins::load(Plugins::searchPath()), stdout, stderr);
}

} // namespace

int main(int argc, char** argv) {
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (first == u"render")
        return renderMain(argc, argv);
    if (first == u"--version") {
        std::printf("tessel-widget-host %s\n", TESSEL_VERSION);
        return 0;
    }
    if (first == u"--help" || first == u"-h") {
        std::fputs(usage, stdout);
        return 0;
    }
    const bool gallery = first == u"--gallery";
    if (argc > 2 || (argc == 2 && !gallery)) {
        std::fprintf(stderr, "tessel-widget-host: 未知参数“%s”\n%s", argv[argc - 1], usage);
        return 2;
    }

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
    app.setApplicationName(QStringLiteral("tessel-widget-host"));
    app.setApplicationDisplayName(QStringLiteral("Tessel 桌面小组件"));
    app.setDesktopFileName(QStringLiteral("net.quorvane.TesselWidget.WidgetHost"));
    // The gallery and the sheets are windows of the application, and look it in task bars.
    app.setWindowIcon(QIcon(QStringLiteral(":/host/icon.svg")));
    app.setQuitOnLastWindowClosed(false);
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
    // For the benchmark: one line once every placed widget shows its first timeline.
    if (qEnvironmentVariableIsSet("TESSEL_REPORT_READY")) {
        auto waiting = std::make_shared<QSet<QString>>();
        for (WidgetWindow* w : host.windows()) {
            waiting->insert(w->record().id);
            QObject::connect(w, &WidgetWindow::timelineApplied, &app, [waiting](const QString& id) {
                if (waiting->remove(id) && waiting->isEmpty()) {
                    std::puts("ready");
                    std::fflush(stdout);
                }
            });
        }
        if (waiting->isEmpty())
            QTimer::singleShot(0, [] {
                std::puts("ready");
                std::fflush(stdout);
            });
    }
    const int status = app.exec();
    tessel::letWorkersFinish(status);
    return status;
}
