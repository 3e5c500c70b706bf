#include "app/shortcuts.h"

namespace tessel::Shortcuts {

QList<QKeySequence> of(const QList<QKeySequence>& own, QKeySequence::StandardKey standard) {
    QList<QKeySequence> keys;
    for (const QKeySequence& key : own + QKeySequence::keyBindings(standard))
        if (!key.isEmpty() && !keys.contains(key))
            keys << key;
    return keys;
}

} // namespace tessel::Shortcuts
