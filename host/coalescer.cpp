#include "host/coalescer.h"

namespace tessel::host {

Coalescer::Coalescer(std::chrono::milliseconds window, std::function<void()> run, QObject* parent)
    : QObject(parent), window_(window), run_(std::move(run)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        sinceRun_.start();
        run_();
    });
}

void Coalescer::request() {
    if (timer_.isActive())
        return;
    std::chrono::milliseconds wait{0};
    if (sinceRun_.isValid())
        wait = std::max(std::chrono::milliseconds(0),
                        window_ - std::chrono::milliseconds(sinceRun_.elapsed()));
    timer_.start(wait);
}

} // namespace tessel::host
