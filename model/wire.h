// The one JSON configuration of every gateway record and of the snapshot.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "records.h"

namespace tessel {

struct Snapshot;

class DecodingError : public std::runtime_error {
public:
    enum class Kind { KeyNotFound, TypeMismatch, DataCorrupted };

    DecodingError(Kind kind, std::string codingPath, std::string description);

    Kind kind() const { return kind_; }
    // Dotted path to the failing value, e.g. "data[2].windows[0].resetsAt".
    const std::string& codingPath() const { return path_; }
    const std::string& description() const { return description_; }

private:
    Kind kind_;
    std::string path_;
    std::string description_;
};

namespace Wire {

// Strict decoding: required keys, JSON null as absent, no coercion, unknown keys ignored.
// Throws DecodingError (also for text that is not JSON at all: DataCorrupted).
template <class T> T decode(std::string_view json);

// Compact JSON, fields in declaration order, optional fields left out, instants in
// whole seconds UTC with "Z".
template <class T> std::string encode(const T& value);

// Instant texts: RFC 3339 date-time with or without fractional seconds.
std::optional<Instant> parseInstant(std::string_view text);
std::string formatInstant(Instant instant);

} // namespace Wire

} // namespace tessel
