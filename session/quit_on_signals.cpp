#include "session/quit_on_signals.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace tessel {

namespace {

int signalPipe[2] = {-1, -1};
// The event loop takes signals; otherwise they end the program.
std::atomic<bool> loopRunning{false};
std::atomic<bool> pending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Only async-signal-safe calls here. errno is kept: the handler may interrupt code between a
// failing call and its errno check.
void onSignal(int signal) {
    const int saved = errno;
    if (!loopRunning.load() || pending.exchange(true)) {
        // The default action, once this handler returns and the signal is unblocked.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        raise(signal);
    } else {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
    }
    errno = saved;
}

// Registered at the loop's first turn, so it runs before the destructors of every static made
// until then.
void endAtOnce(int status, void*) {
    if (!loopRunning.load())
        return; // main returned: an orderly end
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

void quitOnSignals(QCoreApplication& app) {
    // Non-blocking: a burst of signals that fills the buffer must not hang the handler.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        while (read(signalPipe[0], &byte, 1) > 0) {
        }
        app.quit();
    });
    // The first timer event comes from the loop; aboutToQuit is its end.
    QTimer::singleShot(0, &app, [] {
        loopRunning = true;
        on_exit(endAtOnce, nullptr);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { loopRunning = false; });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void letWorkersFinish(int status, std::initializer_list<QThreadPool*> more,
                      std::chrono::milliseconds grace) {
    const QDeadlineTimer deadline(grace);
    auto settled = [&deadline](QThreadPool* pool) {
        return pool->waitForDone(int(std::max<qint64>(deadline.remainingTime(), 0)));
    };
    bool done = settled(QThreadPool::globalInstance());
    for (QThreadPool* pool : more)
        done = settled(pool) && done;
    if (done)
        return;
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace tessel
