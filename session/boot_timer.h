// A one-shot timer on CLOCK_BOOTTIME: time spent suspended counts, so a wait that became
// overdue during a suspend ends as soon as the computer wakes.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <chrono>
#include <memory>

namespace tessel {

class BootClockTimer : public QObject {
    Q_OBJECT
public:
    explicit BootClockTimer(QObject* parent = nullptr);
    ~BootClockTimer() override;

    // Restarts the countdown; a zero or negative duration fires on the next event-loop pass.
    void start(std::chrono::milliseconds duration);
    void stop();
    bool isActive() const { return active_; }

signals:
    void timeout();

private:
    void expired();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool active_ = false;
};

} // namespace tessel
