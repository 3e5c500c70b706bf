#include "app/single_instance.h"

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tessel::SingleInstance {

namespace {

constexpr char baseName[] = "net.quorvane.TesselWidget";

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

Channel channel() {
    return InstanceChannel::find(baseName);
}

Handover send(const Channel& channel, std::string_view message, std::chrono::milliseconds wait) {
    if (!channel.valid() || message.size() > maxMessage)
        return Handover::Failed;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Handover::Failed;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, channel.socketPath.c_str(), channel.socketPath.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        return error == ENOENT || error == ECONNREFUSED ? Handover::NoInstance : Handover::Failed;
    }
    const auto length = static_cast<std::uint32_t>(message.size());
    const char header[4] = {char(length >> 24), char(length >> 16), char(length >> 8),
                            char(length)};
    Handover result = Handover::Failed;
    if (writeAll(fd, header, sizeof header) && writeAll(fd, message.data(), message.size())) {
        pollfd p{fd, POLLIN, 0};
        int ready;
        do
            ready = poll(&p, 1, static_cast<int>(wait.count()));
        while (ready < 0 && errno == EINTR);
        char receipt = 0;
        if (ready == 1 && recv(fd, &receipt, 1, 0) == 1 && receipt == 1)
            result = Handover::Delivered;
    }
    close(fd);
    return result;
}

Server::Server(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    connect(server_, &QLocalServer::newConnection, this, &Server::accept);
}

Server::~Server() = default;

bool Server::listen(const Channel& channel) {
    const QString path = QString::fromStdString(channel.socketPath);
    QLocalServer::removeServer(path);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    return server_->listen(path);
}

void Server::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // A sender that never finishes must not hold a connection forever.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void Server::read(QLocalSocket* socket) {
    if (socket->bytesAvailable() < 4)
        return;
    const QByteArray header = socket->peek(4);
    const std::uint32_t length = (std::uint32_t(std::uint8_t(header[0])) << 24) |
                                 (std::uint32_t(std::uint8_t(header[1])) << 16) |
                                 (std::uint32_t(std::uint8_t(header[2])) << 8) |
                                 std::uint32_t(std::uint8_t(header[3]));
    if (length > maxMessage) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < 4 + qint64(length))
        return;
    socket->read(4);
    const QString message = QString::fromUtf8(socket->read(length));
    socket->disconnect(this);
    emit received(message);
    socket->write("\x01", 1);
    socket->disconnectFromServer();
}

} // namespace tessel::SingleInstance
