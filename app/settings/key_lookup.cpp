#include "app/settings/key_lookup.h"

#include <utility>

#include "sync/data_sync_service.h"

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
    // Heard only while this object lives; a lookup still running then finishes unheard.
    DataSyncService::findKey(endpoint, this, [this, endpoint](const QString& key, bool known) {
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
}

} // namespace tessel
