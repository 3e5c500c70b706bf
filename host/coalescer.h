// Turns a burst of requests into one run: the first runs on the next event-loop pass, later
// ones wait until `window` has passed since the last run, and any number of them meanwhile
// make a single run.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tessel::host {

class Coalescer : public QObject {
    Q_OBJECT
public:
    Coalescer(std::chrono::milliseconds window, std::function<void()> run,
              QObject* parent = nullptr);

    void request();
    bool pending() const { return timer_.isActive(); }

private:
    std::chrono::milliseconds window_;
    std::function<void()> run_;
    QTimer timer_;
    QElapsedTimer sinceRun_;
};

} // namespace tessel::host
