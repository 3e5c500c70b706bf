// A Secret Service that never answers: a real gnome-keyring on a bus of its own, stopped with
// SIGSTOP once it owns its name. While this lives, the process's session bus is that bus, so
// every key-store call made after its construction waits until the caller gives up.
#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <optional>

#include <csignal>

#include "support/event_loop.h"
#include "support/temp_dir.h"

namespace tessel::test {

class SilentKeyring {
public:
    SilentKeyring() {
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!bus_.waitForReadyRead(10000))
            return;
        const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        env.insert("XDG_DATA_HOME", QString::fromStdString((dir_.path() / "data").string()));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.path().string()));
        keyring_.setProcessEnvironment(env);
        keyring_.start("gnome-keyring-daemon", {"--foreground", "--components=secrets"});
        QDBusConnection probe = QDBusConnection::connectToBus(address, "silent-keyring");
        const bool owned =
            probe.isConnected() && spin([&] {
                return probe.interface()->isServiceRegistered("org.freedesktop.secrets").value();
            });
        QDBusConnection::disconnectFromBus("silent-keyring");
        if (!owned)
            return;
        ::kill(pid_t(keyring_.processId()), SIGSTOP);
        session_.emplace("DBUS_SESSION_BUS_ADDRESS", address.toStdString());
    }
    ~SilentKeyring() {
        session_.reset();
        for (QProcess* process : {&keyring_, &bus_})
            if (process->state() != QProcess::NotRunning) {
                ::kill(pid_t(process->processId()), SIGKILL); // also ends a stopped process
                process->waitForFinished(5000);
            }
    }
    SilentKeyring(const SilentKeyring&) = delete;
    SilentKeyring& operator=(const SilentKeyring&) = delete;

    bool ready() const { return session_.has_value(); }

private:
    TempDir dir_;
    QProcess bus_;
    QProcess keyring_;
    std::optional<ScopedEnv> session_;
};

} // namespace tessel::test
