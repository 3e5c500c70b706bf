// The program's only log line goes through here so tests can capture it.
#pragma once

#include <functional>
#include <string>

namespace tessel::Log {

struct Record {
    std::string subsystem;
    std::string category;
    std::string message;
};

using Sink = std::function<void(const Record&)>;

// Error level: the systemd journal, or stderr without a journal.
void error(std::string category, std::string message);
// Replaces the sink; an empty sink restores the default. Returns the previous one.
Sink setSink(Sink sink);

} // namespace tessel::Log
