#include "app/single_instance.h"

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tessel::SingleInstance {

namespace {

constexpr char baseName[] = "net.quorvane.TesselWidget";

// A directory only this user can enter; anything else could let another user answer for us.
bool privateDirectory(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string directory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        if (privateDirectory(runtime))
            return runtime;
    const std::string fallback = "/tmp/tesselwidget-" + std::to_string(geteuid());
    if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return privateDirectory(fallback) ? fallback : std::string();
}

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
    const std::string dir = directory();
    if (dir.empty())
        return {};
    Channel c{dir + "/" + baseName + ".socket", dir + "/" + baseName + ".lock"};
    if (c.socketPath.size() >= sizeof(sockaddr_un::sun_path))
        return {};
    return c;
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

int tryLock(const Channel& channel) {
    const int fd = open(channel.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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
