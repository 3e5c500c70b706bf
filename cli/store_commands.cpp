// tesselctl snapshot (and status without the sync library): what the stores hold, from a shell.
#include <ostream>

#include "cli/command.h"
#include "model/snapshot.h"
#include "model/wire.h"
#include "storage/snapshot_store.h"

namespace tessel::cli {

namespace {

// As the widgets see it: the store's fallbacks applied, the empty snapshot when nothing is usable.
int snapshot(const QCommandLineParser& line, Io& io) {
    if (!line.positionalArguments().isEmpty())
        return usageError("snapshot", io);
    io.out << Wire::encode(SnapshotStore().load()) << '\n';
    return 0;
}

#ifndef TESSEL_HAVE_SYNC
void printStatus(const Snapshot& stored, std::ostream& out) {
    out << stored.status() << '\n';
}

int status(const QCommandLineParser& line, Io& io) {
    if (!line.positionalArguments().isEmpty()) {
        io.err << "tesselctl：status 不支持参数 " << line.positionalArguments()[0].toStdString()
               << '\n';
        return usageError("status", io);
    }
    printStatus(SnapshotStore().load(), io.out);
    return 0;
}
#endif

const bool registered =
    registerCommand({"snapshot", "snapshot", "打印已保存的快照（JSON），不联系 Gateway", &snapshot})
#ifndef TESSEL_HAVE_SYNC
    && registerCommand({"status", "status", "已保存快照的状态", &status})
#endif
    ;

} // namespace

} // namespace tessel::cli
