// One host per user. The first start holds a lock (flock, released even on a crash) and listens
// on a local socket in $XDG_RUNTIME_DIR; a later start hands its request over and exits.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace tessel::host {

class Instance : public QObject {
    Q_OBJECT
public:
    // Longest request taken; anything longer is nobody we know.
    static constexpr int maxRequest = 1024;

    explicit Instance(QObject* parent = nullptr);
    ~Instance() override;

    // True when this process is (now) the one host. Without a private runtime directory every
    // start runs on its own, which is better than none starting. Needs no application object.
    bool claim();
    // After claim() won, once the application object exists: take later starts' requests.
    void listen();

    // From a start that found the lock held: delivers `request` and waits for the receipt.
    // Needs a QCoreApplication. False when nobody took it in time.
    static bool handOver(const QString& request, int waitMs = 10000);

signals:
    // A later start's request: "" (started again) or "gallery".
    void received(const QString& request);

private:
    void accept();
    void read(QLocalSocket* socket);

    QPointer<QLocalServer> server_;
    QString socket_;
    int lock_ = -1;
};

} // namespace tessel::host
