// The shipped program: no hooks.
#include "app/test_hooks.h"

namespace tessel::TestHooks {

void addOptions(QCommandLineParser&) {}

bool replacesStart(const QCommandLineParser&) {
    return false;
}

void run(TesselWidgetApp&, const QCommandLineParser&) {}

void started(TesselWidgetApp&) {}

} // namespace tessel::TestHooks
