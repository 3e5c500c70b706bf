#include "session/boot_timer.h"

#include <QTimer>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tessel {

BootClockTimer::BootClockTimer(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0)
        return; // start() then falls back to a plain Qt timer
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &BootClockTimer::expired);
}

BootClockTimer::~BootClockTimer() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void BootClockTimer::start(std::chrono::milliseconds duration) {
    active_ = true;
    const auto ms = std::max<std::int64_t>(duration.count(), 0);
    if (fd_ < 0 || ms == 0) {
        // A zero it_value would disarm the timerfd instead of firing it.
        QTimer::singleShot(std::chrono::milliseconds(ms), this, [this] {
            if (active_) {
                active_ = false;
                emit timeout();
            }
        });
        return;
    }
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
    when.it_value.tv_nsec = static_cast<long>((ms % 1000) * 1'000'000);
    ::timerfd_settime(fd_, 0, &when, nullptr);
}

void BootClockTimer::stop() {
    active_ = false;
    if (fd_ >= 0) {
        itimerspec off{};
        ::timerfd_settime(fd_, 0, &off, nullptr);
    }
}

void BootClockTimer::expired() {
    std::uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations)
        return; // EAGAIN: a stop() or restart raced the notification
    if (!active_)
        return;
    active_ = false;
    emit timeout();
}

} // namespace tessel
