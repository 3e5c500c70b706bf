#include "session/quit_on_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
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
    QTimer::singleShot(0, &app, [] { loopRunning = true; });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { loopRunning = false; });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace tessel
