// Realistic answers of a running gateway, for the demo and for tests that need a full set.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::sample {

using Clock = std::chrono::system_clock;

// JSON bodies as the gateway sends them; instants are relative to `now`.
std::string hello(std::string_view version = "1.4.2");
std::string quotas(Clock::time_point now = Clock::now());
// `period` is the value sent on the wire: "today", "7d" or "30d"; nullopt for anything else.
std::optional<std::string> usage(std::string_view period, Clock::time_point now = Clock::now());

} // namespace tessel::sample
