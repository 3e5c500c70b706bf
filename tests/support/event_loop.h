// Waiting on the Qt event loop, for the tests that run the real service or widgets.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tessel::test {

// Runs the event loop until done() holds; the limit only keeps a fault from hanging the run.
template <class F> bool spin(F done, int limitMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

} // namespace tessel::test
