// The few calls the application's own code (not the service) makes into the layers below the
// sync library, so that the windows and the program reach them only through sync/.
#pragma once

#include <QByteArray>
#include <QString>

namespace tessel::AppSupport {

// No core dump of a process that holds gateway keys.
void forbidCoreDumps();

// A folder (and missing parents) with mode 0700. Throws std::system_error.
void makePrivateDirectory(const QString& directory);

// Replaces `file` atomically with a 0600 file holding `bytes`. Throws std::system_error.
void writePrivateFile(const QString& file, const QByteArray& bytes);

} // namespace tessel::AppSupport
