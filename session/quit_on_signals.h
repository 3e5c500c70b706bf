// SIGTERM (the session ending), SIGINT and SIGHUP end the program through its event loop, so
// that queued writes finish and nothing is lost mid-file.
#pragma once

class QCoreApplication;

namespace tessel {

// Once per process, after the application object exists. Until the event loop first runs
// (while the program loads), once it has ended, and for a second signal that comes before the
// loop took the first, a signal ends the program at once, as it would by default: every file is
// replaced atomically, so nothing is torn, and a program that never reaches or leaves its loop
// still ends.
void quitOnSignals(QCoreApplication& app);

} // namespace tessel
