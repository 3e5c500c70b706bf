#include "host/instance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessel::host {

namespace {

constexpr char baseName[] = "net.quorvane.TesselWidget.WidgetHost";

// Only a directory no other user can write to keeps someone else from answering for us.
QString runtimeDirectory() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!dir.startsWith(u'/')) {
        dir = QStringLiteral("/tmp/tesselwidget-%1").arg(::geteuid());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return dir;
}

QString socketPath() {
    const QString dir = runtimeDirectory();
    return dir.isEmpty() ? QString()
                         : dir + u'/' + QLatin1StringView(baseName) + QStringLiteral(".socket");
}

} // namespace

Instance::Instance(QObject* parent) : QObject(parent) {}

Instance::~Instance() {
    if (lock_ >= 0)
        ::close(lock_);
}

bool Instance::claim() {
    const QString socket = socketPath();
    if (socket.isEmpty())
        return true;
    const QString lockPath = socket.chopped(7) + QStringLiteral(".lock");
    lock_ = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0)
        return true;
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_);
        lock_ = -1;
        return false;
    }
    socket_ = socket;
    return true;
}

void Instance::listen() {
    if (socket_.isEmpty() || server_)
        return;
    server_ = new QLocalServer(this);
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
