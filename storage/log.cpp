#include "storage/log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tessel::Log {

namespace {

constexpr const char* subsystem = "net.quorvane.TesselWidget";

// Native journal protocol: KEY=value lines; a value with a newline goes as KEY, newline,
// 64-bit little-endian length, the bytes, newline.
void appendField(std::string& out, const char* key, const std::string& value) {
    out += key;
    if (value.find('\n') == std::string::npos) {
        out += '=';
        out += value;
    } else {
        out += '\n';
        std::uint64_t size = value.size();
        for (int i = 0; i < 8; ++i, size >>= 8)
            out += static_cast<char>(size & 0xff);
        out += value;
    }
    out += '\n';
}

bool sendToJournal(const std::filesystem::path& socket, const Record& record) {
    // Without the socket the journal is not there: sending would vanish without an error.
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.native().size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, socket.c_str(), socket.native().size());

    std::string entry;
    appendField(entry, "MESSAGE", record.message);
    appendField(entry, "PRIORITY", "3");
    appendField(entry, "SUBSYSTEM", record.subsystem);
    appendField(entry, "CATEGORY", record.category);
    appendField(entry, "SYSLOG_IDENTIFIER", "TesselWidget");

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = ::sendto(fd, entry.data(), entry.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    ::close(fd);
    return sent == static_cast<ssize_t>(entry.size());
}

void standardError(const Record& record) {
    std::fprintf(stderr, "%s[%s] error: %s\n", record.subsystem.c_str(), record.category.c_str(),
                 record.message.c_str());
}

std::mutex mutex;
// Never destroyed, as a reader on a worker thread may log while the program ends.
Sink& current() {
    static Sink& sink = *new Sink(journalOrStandardError());
    return sink;
}

} // namespace

Sink journalOrStandardError(std::filesystem::path socket) {
    return [socket = std::move(socket)](const Record& record) {
        if (!sendToJournal(socket, record))
            standardError(record);
    };
}

void error(std::string category, std::string message) {
    Record record{subsystem, std::move(category), std::move(message)};
    // The widget host calls readers from several threads; copy the sink under the lock and
    // call it outside, so a sink may log itself without deadlocking.
    Sink sink;
    {
        std::lock_guard lock(mutex);
        sink = current();
    }
    sink(record);
}

Sink setSink(Sink sink) {
    std::lock_guard lock(mutex);
    Sink previous = std::move(current());
    current() = sink ? std::move(sink) : journalOrStandardError();
    return previous;
}

} // namespace tessel::Log
