#include "session/private_file.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessel::PrivateFile {

namespace {

// mkdir's mode passes through the umask; ours must not (0277 would leave 0500).
bool makeFolders(const QByteArray& folder) {
    for (qsizetype end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/')
            continue;
        const QByteArray partial = folder.left(end);
        if (::mkdir(partial.constData(), 0700) == 0) {
            if (::chmod(partial.constData(), 0700) != 0)
                return false;
        } else if (errno != EEXIST) {
            return false;
        }
    }
    struct stat info {};
    return ::stat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool prepare(const QString& path) {
    QByteArray file = QFile::encodeName(path);
    const qsizetype slash = file.lastIndexOf('/');
    if (file.isEmpty() || slash < 0)
        return false;
    const QByteArray folder = slash == 0 ? QByteArray("/") : file.left(slash);
    if (!makeFolders(folder))
        return false;
    // The folder is the program's own (unlike ~/.config above it), so one made under a lax
    // umask is tightened too.
    struct stat info {};
    if (::stat(folder.constData(), &info) == 0 && info.st_uid == ::geteuid() &&
        (info.st_mode & 07777) != 0700)
        ::chmod(folder.constData(), 0700);

    if (::lstat(file.constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char* target = ::realpath(file.constData(), nullptr);
        if (!target)
            return false; // dangling, or a loop
        file = target;
        std::free(target);
        // Another user's file, or a device behind the link, is not ours to replace.
        if (::stat(file.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid())
            return false;
    }
    // O_NONBLOCK: a FIFO put in its place fails here instead of blocking the caller.
    const int fd =
        ::open(file.constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

} // namespace tessel::PrivateFile
