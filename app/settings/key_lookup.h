// Reads the gateway key of an address off the GUI thread: the Secret Service may take seconds
// (activation, an unlock prompt) and the form must keep answering meanwhile.
#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace tessel {

class KeyLookup : public QObject {
    Q_OBJECT
public:
    explicit KeyLookup(QObject* parent = nullptr);

    // Asks for the key of `endpoint`. At most one lookup runs; while it runs only the newest
    // request waits, and only the answer for the newest request is delivered.
    void request(const QString& endpoint);
    bool pending() const { return running_ || waiting_.has_value(); }
    // The address of the last request.
    const QString& endpoint() const { return latest_; }

signals:
    // The key stored for the newest requested address, empty when there is none; `known` is
    // false when the store gave no answer, and then the key is empty but not known to be absent.
    void found(const QString& endpoint, const QString& key, bool known);

private:
    void run(const QString& endpoint);

    bool running_ = false;
    std::optional<QString> waiting_;
    QString latest_;
};

} // namespace tessel
