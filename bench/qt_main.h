// The Qt benchmarks' main: the offscreen platform unless one is chosen, the application object
// the measured code needs, then the runs and their ratios.
#pragma once

#include <QApplication>

#include <utility>
#include <vector>

#include "bench/ratio.h"

namespace tessel::bench {

template <class Application = QApplication>
int runQtWithRatios(int argc, char** argv, std::vector<Ratio> ratios) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    return runWithRatios(argc, argv, std::move(ratios));
}

} // namespace tessel::bench
