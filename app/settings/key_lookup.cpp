#include "app/settings/key_lookup.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "gateway/keychain.h"
#include "gateway/secret_memory.h"

namespace tessel {

KeyLookup::KeyLookup(QObject* parent) : QObject(parent) {}

void KeyLookup::request(const QString& endpoint) {
    latest_ = endpoint;
    if (running_) {
        // Every keystroke asks; only the text standing when the store answers matters.
        waiting_ = endpoint;
        return;
    }
    run(endpoint);
}

void KeyLookup::run(const QString& endpoint) {
    running_ = true;
    using Answer = std::pair<QString, bool>;
    auto* watcher = new QFutureWatcher<Answer>(this);
    connect(watcher, &QFutureWatcher<Answer>::finished, this, [this, watcher, endpoint] {
        const auto [key, known] = watcher->result();
        watcher->deleteLater();
        running_ = false;
        if (waiting_) {
            const QString next = *std::exchange(waiting_, std::nullopt);
            if (next != endpoint) {
                run(next);
                return;
            }
        }
        if (endpoint == latest_)
            emit found(endpoint, key, known);
    });
    // The watcher dies with this object; a lookup still running then finishes unheard.
    watcher->setFuture(QtConcurrent::run([text = endpoint.toStdString()] {
        GatewayKeychain::Lookup lookup = GatewayKeychain::find(text);
        const QString shown = lookup.key ? QString::fromStdString(*lookup.key) : QString();
        SecretMemory::wipe(lookup.key);
        return Answer(shown, lookup.answered);
    }));
}

} // namespace tessel
