// Records of the gateway's answers: plain values, copied freely.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "optional_text.h"

namespace tessel {

using Instant = std::chrono::system_clock::time_point;

// `to` minus `from`, saturated at the range of the duration instead of overflowing: instants
// centuries apart are still ordered correctly.
Instant::duration elapsed(Instant from, Instant to);

struct QuotaWindow {
    std::string name;
    std::optional<double> used{};
    std::optional<double> remaining{};
    std::optional<bool> unlimited{};
    std::optional<Instant> resetsAt{};
    OptionalText display{};
    std::optional<double> amount{};
    std::optional<double> limit{};
    OptionalText unit{};
    OptionalText pool{};

    // Remaining share in percent; absent for unlimited windows or when nothing is known.
    std::optional<double> remainingPercent() const;

    bool operator==(const QuotaWindow&) const = default;
};

struct Quota {
    std::string provider;
    std::string name;
    OptionalText kind{};
    OptionalText user{};
    OptionalText alias{};
    OptionalText plan{};
    OptionalText from{};
    std::optional<std::vector<QuotaWindow>> windows{};
    OptionalText balance{};
    OptionalText error{};
    std::optional<Instant> readAt{};
    std::optional<Instant> asOf{};
    std::optional<bool> readDeferred{};

    // Identity of a subscription everywhere: from|provider|kind|user.
    std::string id() const;
    std::string title() const;
    std::string measurementState() const;

    bool operator==(const Quota&) const = default;
};

struct QuotaEnvelope {
    std::vector<Quota> data;
};

struct UsagePoint {
    std::string label;
    Instant time;
    std::optional<std::int64_t> input{};
    std::optional<std::int64_t> output{};
    std::optional<double> cost{};

    std::int64_t tokens() const;
    Instant id() const { return time; }
};

struct UsageGroup {
    std::string id;
    OptionalText name{};
    OptionalText provider{};
    OptionalText sub{};
    std::optional<std::int64_t> calls{};
    std::optional<std::int64_t> input{};
    std::optional<std::int64_t> output{};
    std::optional<double> cost{};
};

struct Usage {
    std::string period;
    std::optional<Instant> since{};
    std::optional<std::int64_t> calls{};
    std::optional<std::int64_t> input{};
    std::optional<std::int64_t> output{};
    std::optional<std::int64_t> cache_read{};
    std::optional<std::int64_t> cache_write{};
    std::optional<double> cost{};
    std::optional<std::int64_t> unpriced{};
    std::optional<std::vector<UsagePoint>> series{};
    std::optional<std::vector<UsageGroup>> agents{};
    std::optional<std::vector<UsageGroup>> models{};

    std::optional<std::int64_t> tokens() const;
    // Per-provider roll-up of `models`, most calls first.
    std::vector<UsageGroup> providers() const;
};

} // namespace tessel
