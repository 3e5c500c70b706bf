// The program's only log line goes through here so tests can capture it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace tessel::Log {

struct Record {
    std::string subsystem;
    std::string category;
    std::string message;
};

using Sink = std::function<void(const Record&)>;

inline constexpr const char* journalSocket = "/run/systemd/journal/socket";

// Error level through the current sink.
void error(std::string category, std::string message);
// Replaces the sink; an empty sink restores the default. Returns the previous one.
Sink setSink(Sink sink);

// The default sink, for the journal listening on `socket`: a native journal entry when that
// socket exists and takes it, else one line on standard error.
Sink journalOrStandardError(std::filesystem::path socket = journalSocket);

} // namespace tessel::Log
