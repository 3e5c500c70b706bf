#include "storage/log.h"

#include <cstdio>
#include <mutex>

#include <systemd/sd-journal.h>

namespace tessel::Log {

namespace {

constexpr const char* subsystem = "net.quorvane.TesselWidget";

void journal(const Record& record) {
    const int sent =
        sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=3", "SUBSYSTEM=%s",
                        record.subsystem.c_str(), "CATEGORY=%s", record.category.c_str(),
                        "SYSLOG_IDENTIFIER=TesselWidget", nullptr);
    if (sent < 0)
        std::fprintf(stderr, "%s[%s] error: %s\n", record.subsystem.c_str(),
                     record.category.c_str(), record.message.c_str());
}

std::mutex mutex;
Sink& current() {
    static Sink sink = journal;
    return sink;
}

} // namespace

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
    current() = sink ? std::move(sink) : Sink(journal);
    return previous;
}

} // namespace tessel::Log
