#include "session/instance_channel.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
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
constexpr int backlog = 50;
// Out of descriptors, accepting again at once would only spin.
constexpr int acceptPauseMs = 1000;

// The constructor has checked that `path` fits.
sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

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

// The listening side on plain sockets and Qt Core's notifiers, so that neither program needs
// Qt Network (and the libraries it brings) for it.
class InstanceChannel::Listener : public QObject {
public:
    Listener(InstanceChannel& channel, int fd, QObject* parent)
        : QObject(parent), channel_(&channel), path_(channel.socket_), fd_(fd),
          notifier_(fd, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, &Listener::accept);
    }
    ~Listener() override {
        notifier_.setEnabled(false);
        ::close(fd_);
        ::unlink(path_.c_str());
    }

private:
    void accept();

    QPointer<InstanceChannel> channel_;
    std::string path_;
    int fd_;
    QSocketNotifier notifier_;
};

// One later start's connection: its message is read as it comes, handled once complete and
// answered by the receipt; the connection is closed after that, on any error, at the end of
// its stream or after peerLimitMs.
class InstanceChannel::Peer : public QObject {
public:
    Peer(InstanceChannel& channel, int fd, QObject* parent)
        : QObject(parent), channel_(&channel), fd_(fd), notifier_(fd, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, &Peer::read);
        QTimer::singleShot(peerLimitMs, this, &Peer::drop);
    }
    ~Peer() override {
        notifier_.setEnabled(false);
        if (fd_ >= 0)
            ::close(fd_);
    }
    void read();

private:
    void drop() {
        notifier_.setEnabled(false);
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        deleteLater();
    }

    QPointer<InstanceChannel> channel_;
    int fd_;
    QSocketNotifier notifier_;
    QByteArray data_;
};

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
    delete listener_;
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
    const sockaddr_un address = socketAddress(socket_);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
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

void InstanceChannel::Listener::accept() {
    while (channel_) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                notifier_.setEnabled(false);
                QTimer::singleShot(acceptPauseMs, this, [this] { notifier_.setEnabled(true); });
            }
            return;
        }
        (new Peer(*channel_, fd, this))->read();
    }
}

void InstanceChannel::Peer::read() {
    if (fd_ < 0 || !channel_)
        return drop();
    for (;;) {
        std::size_t want = 4;
        if (data_.size() >= 4) {
            const std::uint32_t length = (std::uint32_t(std::uint8_t(data_[0])) << 24) |
                                         (std::uint32_t(std::uint8_t(data_[1])) << 16) |
                                         (std::uint32_t(std::uint8_t(data_[2])) << 8) |
                                         std::uint32_t(std::uint8_t(data_[3]));
            if (length > channel_->maxMessage_)
                return drop();
            want += length;
            if (std::size_t(data_.size()) == want)
                break;
        }
        // Never more than the message: whatever follows it is not read.
        const qsizetype have = data_.size();
        data_.resize(qsizetype(want));
        const ssize_t n = ::recv(fd_, data_.data() + have, want - std::size_t(have), 0);
        data_.resize(have + std::max<qsizetype>(n, 0));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0)
            return drop();
    }
    // Handling may run an event loop: this connection is read no more meanwhile.
    notifier_.setEnabled(false);
    const QPointer<Peer> alive(this);
    emit channel_->received(QString::fromUtf8(data_.constData() + 4, data_.size() - 4));
    if (!alive)
        return;
    if (fd_ >= 0) {
        const char receipt = 1;
        ::send(fd_, &receipt, 1, MSG_NOSIGNAL);
    }
    drop();
}

bool InstanceChannel::listen() {
    if (lockFd_ < 0 || listener_)
        return true;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const sockaddr_un address = socketAddress(socket_);
    // We hold the lock, so a socket still there is a crashed instance's.
    ::unlink(socket_.c_str());
    // Linux makes the socket file with the mode of the unbound socket (less the umask): it is
    // never open to others, not even between bind and chmod.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    if (::chmod(socket_.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        ::unlink(socket_.c_str());
        return false;
    }
    // Owned by the application, which main() makes after this object: the notifiers go while
    // the event dispatcher still exists. The socket file goes before the lock, so it never
    // removes the next instance's.
    listener_ = new Listener(*this, fd, QCoreApplication::instance());
    return true;
}

} // namespace tessel
