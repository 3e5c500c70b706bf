// Settings files the session's programs write through QSettings: the user's alone (0600 in 0700
// folders) whatever the umask, also when the file is a link that a dotfile manager made.
#pragma once

#include <QString>

namespace tessel::PrivateFile {

// Readies `path` for a QSettings write. QSettings replaces the file through QSaveFile, which
// keeps the mode of the file it replaces: missing folders are made 0700, the file's own folder
// is set to 0700 when the user owns it, and the file is created 0600 or set to 0600. A symbolic
// link is followed only to a regular file the user owns; QSaveFile then writes beside that
// target and renames over it, so the link stays. False when the file cannot be written that way
// (no folder, a link to anything else, a file that is not regular).
bool prepare(const QString& path);

} // namespace tessel::PrivateFile
