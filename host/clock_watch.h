// Tells when waits measured so far may be wrong: the wall clock was set, or the computer woke
// from suspend (logind's PrepareForSleep on the system bus; without that bus only clock changes).
#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tessel::host {

class ClockWatch : public QObject {
    Q_OBJECT
public:
    explicit ClockWatch(QObject* parent = nullptr);
    ~ClockWatch() override;

signals:
    void changed();

private slots:
    void prepareForSleep(bool sleeping);

private:
    void arm();
    void cancelled();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace tessel::host
