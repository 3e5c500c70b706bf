#include "host/instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

#include "session/instance_channel.h"

namespace tessel::host {

namespace {

constexpr char baseName[] = "net.quorvane.TesselWidget.WidgetHost";

QString socketPath() {
    return QString::fromStdString(InstanceChannel::find(baseName).socketPath);
}

} // namespace

Instance::Instance(QObject* parent) : QObject(parent) {}

Instance::~Instance() {
    if (lock_ >= 0)
        ::close(lock_);
}

bool Instance::claim() {
    const InstanceChannel channel = InstanceChannel::find(baseName);
    if (!channel.valid())
        return true;
    lock_ = channel.tryLock();
    // A lock file that cannot be made locks nobody out: run on our own.
    if (lock_ < 0)
        return errno != EWOULDBLOCK;
    socket_ = QString::fromStdString(channel.socketPath);
    return true;
}

void Instance::listen() {
    if (socket_.isEmpty() || server_)
        return;
    // Owned by the application, which main() makes after this object: the server and its
    // sockets go while the event dispatcher still exists.
    server_ = new QLocalServer(QCoreApplication::instance());
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &Instance::accept);
    // We hold the lock, so a socket still there is a crashed host's.
    QLocalServer::removeServer(socket_);
    server_->listen(socket_);
}

bool Instance::handOver(const QString& request, int waitMs) {
    const QString path = socketPath();
    if (path.isEmpty())
        return false;
    const QDeadlineTimer deadline(waitMs);
    // The lock is taken before the socket listens: a host that is just starting gets a moment.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(int(std::min<qint64>(deadline.remainingTime(), 1000)))) {
            socket.write(request.toUtf8().left(maxRequest - 1) + '\n');
            socket.flush();
            while (!socket.canReadLine() && !deadline.hasExpired() &&
                   socket.state() == QLocalSocket::ConnectedState)
                socket.waitForReadyRead(int(deadline.remainingTime()));
            return socket.canReadLine() && socket.readLine() == "ok\n";
        }
        QThread::msleep(50);
    }
    return false;
}

void Instance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // A peer that never finishes its line must not hold a connection for ever.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void Instance::read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() >= maxRequest)
            socket->abort();
        return;
    }
    const QString request = QString::fromUtf8(socket->readLine(maxRequest)).trimmed();
    socket->disconnect(this);
    emit received(request);
    socket->write("ok\n");
    socket->disconnectFromServer();
}

} // namespace tessel::host
