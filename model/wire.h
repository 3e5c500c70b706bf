// The one JSON configuration of every gateway record and of the snapshot.
#pragma once

#include <concepts>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "records.h"

namespace tessel {

struct Snapshot;
struct WidgetPreferences;

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

// Every JSON text the program reads goes through one of these two, which share the parser and
// its limit of 256 levels of nesting. Text that is not JSON, or nested deeper, throws
// DecodingError (DataCorrupted, empty path).

// Bytes a text's buffer may have beyond its end for the parser to read it in place; a
// std::string of 1 MiB or more with this much spare capacity is not copied before it is parsed.
inline constexpr std::size_t padding = 64;

// Strict decoding straight into the record, without a document tree: required keys, JSON null
// as absent, no coercion, unknown keys ignored. Throws DecodingError. A large document is
// followed by handing freed memory back to the system.
template <class T> T decode(std::string_view json);
// The same for a std::string, which is parsed where it is when it is large and has `padding`
// spare bytes of capacity (else copied).
template <class T, class S>
requires std::same_as<S, std::string> T decode(const S& json);
// The same for a std::string given away: it is freed once parsed, before the records are made,
// so that a large answer is not held beside them.
template <class T, class S>
requires std::same_as<S, std::string> T decode(S&& json);

// Decodes as decode<T> does, with the same failures, but keeps only the last element of each
// list: whether a large document is usable, at the memory cost of a small one.
template <class T> T check(std::string_view json);
template <class T, class S>
requires std::same_as<S, std::string> T check(const S& json);

// The document as a tree, for the few small documents that have no record (the gateway's
// handshake answer, its settings file).
nlohmann::json parse(std::string_view json);

// Compact JSON, fields in declaration order, optional fields left out, instants in
// whole seconds UTC with "Z". Texts that are not UTF-8 are replaced, except in
// WidgetPreferences, where they throw std::system_error (EILSEQ).
template <class T> std::string encode(const T& value);

// The same text handed to `write` in pieces, so that a large snapshot is never whole in memory.
using Write = std::function<void(std::string_view)>;
template <class T> void encode(const T& value, const Write& write);

// The reader keeps a few parsers, each sized by the last document it read, so that a burst of
// reads does not fault its buffers in again; a program about to idle hands them back.
void releaseKeptParsers();

// Instant texts: RFC 3339 date-time with or without fractional seconds.
std::optional<Instant> parseInstant(std::string_view text);
std::string formatInstant(Instant instant);

} // namespace Wire

} // namespace tessel
