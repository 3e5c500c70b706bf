// One instance per user. The first start holds a lock file and listens on a local socket in
// $XDG_RUNTIME_DIR; a later start sends its URL (or nothing) there, waits for the receipt and
// exits. The sending side needs no Qt application object, so it works without a display.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <string>
#include <string_view>

#include "session/instance_channel.h"

class QLocalServer;
class QLocalSocket;

namespace tessel::SingleInstance {

// Longest URL handed over; anything longer is no URL of ours.
inline constexpr std::size_t maxMessage = 64 * 1024;

using Channel = InstanceChannel;

// The application's channel (see InstanceChannel::find); its lock is Channel::tryLock().
Channel channel();

enum class Handover { Delivered, NoInstance, Failed };

// Sends `message` to the running instance and waits up to `wait` for its receipt.
Handover send(const Channel& channel, std::string_view message, std::chrono::milliseconds wait);

// The running instance's end of the channel.
class Server : public QObject {
    Q_OBJECT
public:
    explicit Server(QObject* parent = nullptr);
    ~Server() override;
    // Replaces a stale socket left by a crashed instance; call only while holding the lock.
    bool listen(const Channel& channel);

signals:
    // An empty text: started again without a URL.
    void received(const QString& message);

private:
    void accept();
    void read(QLocalSocket* socket);

    QLocalServer* server_;
};

} // namespace tessel::SingleInstance
