// SIGTERM (the session ending), SIGINT and SIGHUP end the program through its event loop, so
// that queued writes finish and nothing is lost mid-file.
#pragma once

#include <chrono>
#include <initializer_list>

class QCoreApplication;
class QThreadPool;

namespace tessel {

// Once per process, after the application object exists. Until the event loop first runs
// (while the program loads), once it has ended, and for a second signal that comes before the
// loop took the first, a signal ends the program at once, as it would by default: every file is
// replaced atomically, so nothing is torn, and a program that never reaches or leaves its loop
// still ends. A library that calls exit() from inside the loop (Qt does when the X server goes
// away) ends the program at once too: the windows and the worker threads are still alive, and
// static destructors must not run under them.
void quitOnSignals(QCoreApplication& app);

// After the event loop, before anything is torn down: the workers of Qt's global thread pool
// and of the program's own pools `more` (a timeline read, a button's intent, a sync cycle) get
// `grace` in all to finish, so that none runs while what it reports to, and Qt itself, goes
// away. One still busy then (a hung gateway, a lock held elsewhere) is not waited for: the
// program ends at once with `status`.
void letWorkersFinish(int status, std::initializer_list<QThreadPool*> more = {},
                      std::chrono::milliseconds grace = std::chrono::seconds(2));

} // namespace tessel
