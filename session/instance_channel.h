// Where the one instance of a program per user listens: a socket and a lock file named after
// the program, in a directory no other user can write to (else another user could answer for
// us). The application and the widget host each speak their own hand-over over it.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

struct InstanceChannel {
    std::string socketPath;
    std::string lockPath;
    bool valid() const { return !socketPath.empty(); }

    // <dir>/<baseName>.socket and .lock in $XDG_RUNTIME_DIR, else in a private
    // /tmp/tesselwidget-<uid>. Invalid (empty) when no safe directory exists or the socket path
    // would be too long; the program then runs on its own.
    static InstanceChannel find(std::string_view baseName);

    // The lock that makes this process the one instance; held until the process ends (also when
    // it crashes, so a stale socket never blocks the next start). -1 on failure, with errno
    // EWOULDBLOCK when another process holds it.
    int tryLock() const;
};

} // namespace tessel
