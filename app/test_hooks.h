// What tests, benchmarks and scripts/screenshots drive the application with: the picture run
// (--screenshots DIR) and the "ready" line (TESSEL_REPORT_READY). Builds with TESSEL_TEST_HOOKS
// link app/test_hooks/; the shipped program links the empty set, so it knows neither.
#pragma once

class QCommandLineParser;

namespace tessel {

class TesselWidgetApp;

namespace TestHooks {

void addOptions(QCommandLineParser& parser);

// The picture run replaces the normal start. It runs beside a normal instance, so it leaves the
// instance channel alone.
bool replacesStart(const QCommandLineParser& parser);
// Starts that run; it quits the application when the pictures are written.
void run(TesselWidgetApp& app, const QCommandLineParser& parser);

// After a normal start: with TESSEL_REPORT_READY set, prints "ready" once the tray host shows
// the icon, or without a tray once the first event-loop turn is through.
void started(TesselWidgetApp& app);

} // namespace TestHooks

} // namespace tessel
