#include "app/test_hooks.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

#include "app/application.h"
#include "app/test_hooks/screenshots.h"
#include "app/tray.h"

namespace tessel::TestHooks {

namespace {

const QCommandLineOption screenshots(QStringLiteral("screenshots"), {}, QStringLiteral("DIR"));

} // namespace

void addOptions(QCommandLineParser& parser) {
    parser.addOption(screenshots);
}

bool replacesStart(const QCommandLineParser& parser) {
    return parser.isSet(screenshots);
}

void run(TesselWidgetApp& app, const QCommandLineParser& parser) {
    takeScreenshots(app, parser.value(screenshots));
}

// The tray icon has no signal for being placed, so this looks every millisecond.
void started(TesselWidgetApp& app) {
    if (!qEnvironmentVariableIsSet("TESSEL_REPORT_READY"))
        return;
    auto* poll = new QTimer(&app);
    poll->setInterval(1);
    QObject::connect(poll, &QTimer::timeout, &app, [poll, &app] {
        if (app.tray().isVisible() && app.tray().geometry().isEmpty())
            return;
        poll->stop();
        std::puts("ready");
        std::fflush(stdout);
    });
    poll->start();
}

} // namespace tessel::TestHooks
