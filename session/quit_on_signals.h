// SIGTERM (the session ending), SIGINT and SIGHUP end the program through its event loop, so
// that queued writes finish and nothing is lost mid-file.
#pragma once

class QCoreApplication;

namespace tessel {

// Once per process, after the application object exists.
void quitOnSignals(QCoreApplication& app);

} // namespace tessel
