#include "session/instance_channel.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace tessel {

namespace {

using namespace std::chrono_literals;

// A running instance can be inside a key-store call with its own 5 s limit when a message
// arrives.
constexpr auto receiptWait = 15s;
// A start that finds the lock held but nobody listening yet (the holder is starting, or ending)
// tries again for about 10 s.
constexpr int startAttempts = 200;
constexpr auto startPause = 50ms;
// A peer that connects and never finishes its message must not hold a connection for ever.
constexpr int peerLimitMs = 5000;

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

InstanceChannel::InstanceChannel(std::string_view baseName, std::size_t maxMessage, QObject* parent)
    : QObject(parent), maxMessage_(maxMessage) {
    const std::string dir = directory();
    if (dir.empty())
        return;
    const std::string base = dir + "/" + std::string(baseName);
    if (base.size() + std::strlen(".socket") >= sizeof(sockaddr_un::sun_path))
        return;
    socket_ = base + ".socket";
    lock_ = base + ".lock";
}

InstanceChannel::~InstanceChannel() {
    // The socket goes before the lock, so it never removes the next instance's.
    delete server_;
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

int InstanceChannel::tryLock() const {
    const int fd = open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

InstanceChannel::Start InstanceChannel::claim(std::string_view message) {
    if (!valid() || lockFd_ >= 0)
        return Start::Claimed;
    for (int attempt = 0; attempt < startAttempts; ++attempt) {
        lockFd_ = tryLock();
        if (lockFd_ >= 0 || errno != EWOULDBLOCK)
            return Start::Claimed;
        switch (handOver(message, receiptWait)) {
        case Handover::Delivered:
            return Start::HandedOver;
        case Handover::Failed:
            return Start::NoAnswer;
        case Handover::NoInstance:
            break;
        }
        std::this_thread::sleep_for(startPause);
    }
    return Start::NoAnswer;
}

InstanceChannel::Handover InstanceChannel::handOver(std::string_view message,
                                                    std::chrono::milliseconds wait) const {
    if (!valid() || message.size() > maxMessage_)
        return Handover::Failed;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Handover::Failed;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket_.c_str(), socket_.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
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
    ::close(fd);
    return result;
}

bool InstanceChannel::listen() {
    if (lockFd_ < 0 || server_)
        return true;
    // Owned by the application, which main() makes after this object: the server and its
    // sockets go while the event dispatcher still exists.
    server_ = new QLocalServer(QCoreApplication::instance());
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    const QString path = QString::fromStdString(socket_);
    // We hold the lock, so a socket still there is a crashed instance's.
    QLocalServer::removeServer(path);
    return server_->listen(path);
}

void InstanceChannel::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        QTimer::singleShot(peerLimitMs, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void InstanceChannel::read(QLocalSocket* socket) {
    if (socket->bytesAvailable() < 4)
        return;
    const QByteArray header = socket->peek(4);
    const std::uint32_t length = (std::uint32_t(std::uint8_t(header[0])) << 24) |
                                 (std::uint32_t(std::uint8_t(header[1])) << 16) |
                                 (std::uint32_t(std::uint8_t(header[2])) << 8) |
                                 std::uint32_t(std::uint8_t(header[3]));
    if (length > maxMessage_) {
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

} // namespace tessel
