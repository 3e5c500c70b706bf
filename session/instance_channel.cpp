#include "session/instance_channel.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tessel {

namespace {

bool privateDirectory(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string directory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        if (privateDirectory(runtime))
            return runtime;
    const std::string fallback = "/tmp/tesselwidget-" + std::to_string(geteuid());
    if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return privateDirectory(fallback) ? fallback : std::string();
}

} // namespace

InstanceChannel InstanceChannel::find(std::string_view baseName) {
    const std::string dir = directory();
    if (dir.empty())
        return {};
    const std::string base = dir + "/" + std::string(baseName);
    InstanceChannel c{base + ".socket", base + ".lock"};
    if (c.socketPath.size() >= sizeof(sockaddr_un::sun_path))
        return {};
    return c;
}

int InstanceChannel::tryLock() const {
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace tessel
