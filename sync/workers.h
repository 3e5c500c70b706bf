// Threads for the program's own long work: a sync cycle's requests and decoding, and deriving
// from or freeing a large snapshot. Not Qt's global pool: Qt's raster paint engine splits large
// fills over that pool and waits for them on the GUI thread, so long tasks there stall painting.
#pragma once

class QThreadPool;

namespace tessel::Workers {

// Made on first use (on the GUI thread) and owned by the application object, whose end waits
// for the tasks still running.
QThreadPool* pool();

} // namespace tessel::Workers
