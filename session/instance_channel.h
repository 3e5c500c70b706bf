// One instance of a program per user. The first start holds a lock file (flock, so a crash
// releases it) and listens on a local socket beside it, in a directory no other user can write
// to (else another user could answer for us); a later start hands its message over, waits for
// the receipt and exits. The application and the widget host each use it with their own name,
// message limit and reaction to a message.
//
// On the socket: a 4-byte big-endian length and that many bytes of UTF-8, answered by one
// receipt byte (1) once the running instance has handled the message.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace tessel {

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // <dir>/<baseName>.socket and .lock in $XDG_RUNTIME_DIR, else in a private
    // /tmp/tesselwidget-<uid>. Invalid when no safe directory exists or the socket path would
    // be too long; the program then runs on its own.
    InstanceChannel(std::string_view baseName, std::size_t maxMessage, QObject* parent = nullptr);
    ~InstanceChannel() override;

    const std::string& socketPath() const { return socket_; }
    const std::string& lockPath() const { return lock_; }
    bool valid() const { return !socket_.empty(); }

    // The lock that makes this process the one instance, as a descriptor the caller closes. -1
    // on failure, with errno EWOULDBLOCK when another process holds it.
    int tryLock() const;

    enum class Start { Claimed, HandedOver, NoAnswer };
    // Makes this process the one instance, or hands `message` to the one that runs. Also
    // Claimed when the program has to run on its own (no channel, or a lock file that cannot
    // be made: that locks nobody out). Blocks, and needs no Qt application object, so a later
    // start works without a display.
    Start claim(std::string_view message);

    enum class Handover { Delivered, NoInstance, Failed };
    // One attempt: sends `message` and waits up to `wait` for the receipt.
    Handover handOver(std::string_view message, std::chrono::milliseconds wait) const;

    // After claim() took the lock, once the application object exists: take later starts'
    // messages. False when this process holds the channel but cannot listen on it.
    bool listen();

signals:
    // A later start's message; empty when it was started without one.
    void received(const QString& message);

private:
    class Listener;
    class Peer;

    std::string socket_;
    std::string lock_;
    std::size_t maxMessage_;
    int lockFd_ = -1;
    QPointer<Listener> listener_;
};

} // namespace tessel
