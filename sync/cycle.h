// The merge of one sync cycle's answers into the last snapshot: a pure function, so that each
// outcome can be checked without a network.
#pragma once

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/snapshot.h"

namespace tessel::Cycle {

struct Period {
    std::string_view key;  // key in Snapshot::usage and in failure lines
    std::string_view wire; // value of the "period" query
};
inline constexpr std::array<Period, 3> periods{
    {{"today", "today"}, {"week", "7d"}, {"month", "30d"}}};

inline constexpr std::string_view quotasPrefix = "额度：";
inline constexpr std::string_view periodSeparator = "：";

// An answer or the error that took its place.
template <class T> using Outcome = std::variant<T, std::exception_ptr>;

struct Answers {
    // The handshake's version, or the error of making the client or of the handshake; in the
    // latter case nothing else was asked.
    Outcome<std::string> handshake = std::exception_ptr{};
    std::optional<Outcome<std::vector<Quota>>> quotas;
    std::array<std::optional<Outcome<Usage>>, periods.size()> usage;
    // When the quotas answer and the last usage answer arrived: what they are fresh as of.
    Instant quotasArrived{};
    Instant usageArrived{};
};

struct Result {
    Snapshot snapshot;
    bool failed = false; // counts towards the back-off
};

// The starting snapshot: `previous` when it came from `endpoint`, otherwise nothing at all, so
// that another gateway's data can never survive. Parts that `answers` replace are left out: with
// large answers, a copy of the old records beside the new ones would double the peak.
Snapshot start(const Snapshot& previous, std::string_view endpoint, Instant attemptedAt,
               const Answers& answers);
// The same, moving the parts it keeps out of `previous`.
Snapshot start(Snapshot&& previous, std::string_view endpoint, Instant attemptedAt,
               const Answers& answers);

// Whether start() takes any records from `previous`; false when the answers replace all of them
// (or it is another gateway's). The small fields and the usage keys decide it: a
// SnapshotStore::summary() will do.
bool keepsRecords(const Snapshot& previous, std::string_view endpoint, const Answers& answers);

// Every part is replaced only by a fresh answer for that part, stamped with its arrival; each
// failure is one line. `now` stamps the cycle as a whole. The answers are moved into the result.
Result merge(Snapshot start, Answers answers, Instant now);

} // namespace tessel::Cycle
