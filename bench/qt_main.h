// The Qt benchmarks' main: the offscreen platform unless one is chosen, the application object
// the measured code needs, then the runs and their ratios.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include "bench/ratio.h"

namespace tessel::bench {

// Application: QApplication where widgets are measured, QCoreApplication elsewhere.
template <class Application> int runQtWithRatios(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    return runWithRatios(argc, argv);
}

} // namespace tessel::bench
