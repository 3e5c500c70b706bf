// The keys of a command: its own, then the key scheme's standard ones for the same command.
#pragma once

#include <QKeySequence>
#include <QList>

namespace tessel::Shortcuts {

// `own` first (a menu shows the first), then the bindings of `standard` under the running key
// scheme, each sequence once: Qt takes a sequence listed twice for an ambiguous overload and
// acts on neither, and which standard keys repeat ours depends on the scheme (Ctrl+W is the
// X11 "Close", Ctrl+R GNOME's "Refresh").
QList<QKeySequence> of(const QList<QKeySequence>& own, QKeySequence::StandardKey standard);

} // namespace tessel::Shortcuts
