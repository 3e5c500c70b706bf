#include "host/clock_watch.h"

#include <QDBusConnection>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tessel::host {

ClockWatch::ClockWatch(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &ClockWatch::cancelled);
        arm();
    }
    QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

ClockWatch::~ClockWatch() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

// An absolute timer far ahead that the kernel cancels whenever the clock is set: a read then
// fails with ECANCELED and nothing ever fires on its own.
void ClockWatch::arm() {
    itimerspec when{};
    when.it_value.tv_sec = time_t(1) << 40;
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr);
}

void ClockWatch::cancelled() {
    std::uint64_t expirations = 0;
    const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    if (n < 0 && errno == ECANCELED) {
        arm();
        emit changed();
    }
}

void ClockWatch::prepareForSleep(bool sleeping) {
    if (!sleeping)
        emit changed();
}

} // namespace tessel::host
