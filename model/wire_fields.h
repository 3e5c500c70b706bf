// The field list of every record, in wire order, and the per-type tables the readers build
// from it once. Shared by the encoder and the reader; not part of the model's interface.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot.h"
#include "widget_preferences.h"
#include "wire.h"

namespace tessel::wire {

using Kind = DecodingError::Kind;

struct Failure {
    Kind kind;
    std::string path;
    std::string description;
};

// One scalar of the document; `owned`, when given, holds `text` and may be moved from.
struct Scalar {
    enum Type { Null, Boolean, Integer, Unsigned, Float, String } type;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double number = 0;
    std::string_view text{};
    std::string* owned = nullptr;
};

// What is wrong with a scalar; the position is added by the decoder.
struct Problem {
    Kind kind;
    std::string description;
};

struct RecordInfo;

// How to read into a value of one type, without knowing the type.
struct Ops {
    enum Shape { Value, Record, List, Map } shape;
    const char* expected; // "a string", for type mismatches
    // Value: the target's type, for the reader's direct path for well-formed values.
    enum Direct { Other, String, Text, Number, Integer, Time, Flag } direct = Other;
    // Value: reads the scalar into the target, or tells what is wrong.
    std::optional<Problem> (*scalar)(void* target, Scalar& value) = nullptr;
    void (*reset)(void* target) = nullptr;
    const RecordInfo& (*record)() = nullptr;
    const Ops* element = nullptr;                             // List and Map
    void* (*append)(void* list) = nullptr;                    // List
    void (*reserve)(void* list, std::size_t count) = nullptr; // List
    void* (*replaceLast)(void* list) = nullptr;               // List, when only checking
    void* (*slot)(void* map, std::string&& key) = nullptr;    // Map
};

// One entry of a record's field list, as an offset into the record.
struct Field {
    std::string_view name;
    std::ptrdiff_t offset;
    const Ops* ops;
    // Optional members: make a value to read into, or drop it.
    void* (*emplace)(void* member) = nullptr;
    void (*clear)(void* member) = nullptr;
    // The member's type for the reader's direct path, known per field so that reading a
    // well-formed value takes one switch; `optional`: the member is a std::optional of it.
    Ops::Direct direct = Ops::Other;
    bool optional = false;
};

struct RecordInfo {
    std::vector<Field> fields;
    std::uint64_t required = 0; // a bit per field that must be present
    // Each name's first 16 bytes as two words, zero beyond its end (names are that short), and
    // the masks that keep as much of a key of the name's length.
    struct Name {
        std::uint64_t words[2]{};
        std::uint64_t masks[2]{};
        std::size_t size = 0;
    };
    std::vector<Name> names;

    void index() {
        names.resize(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string_view name = fields[i].name;
            Name& n = names[i];
            n.size = name.size();
            std::memcpy(n.words, name.data(), std::min(name.size(), sizeof n.words));
            n.masks[0] = keptBytes(name.size());
            n.masks[1] = keptBytes(name.size() > 8 ? name.size() - 8 : 0);
        }
    }

    // Keys mostly come in field order: the search starts after the previous key's field.
    // `key` must be followed by at least 16 readable bytes, as simdjson's string buffer is:
    // its first 16 bytes are compared as two words, masked to the name's length.
    int find(std::string_view key, int previous = -1) const {
        std::uint64_t words[2];
        std::memcpy(words, key.data(), sizeof words);
        const int n = static_cast<int>(fields.size());
        for (int k = 0, i = previous + 1; k < n; ++k, ++i) {
            if (i == n)
                i = 0;
            const Name& name = names[static_cast<std::size_t>(i)];
            if (name.size == key.size() && ((words[0] ^ name.words[0]) & name.masks[0]) == 0 &&
                ((words[1] ^ name.words[1]) & name.masks[1]) == 0 &&
                (name.size <= 16 || fields[static_cast<std::size_t>(i)].name == key))
                return i;
        }
        return -1;
    }
};

// The dates of the last instants read, with their day numbers: the instants of a document
// mostly fall on a few days (two kinds interleaved: a subscription's reset and its reading),
// and a date seen before needs neither its check nor its arithmetic again.
struct KnownDays {
    char dates[2][10]{};
    std::int64_t days[2]{};
    bool known[2]{};
    unsigned next = 0; // the one to replace
};
// Into `out`, or false: a returned std::optional would be built in memory a byte at a time
// and read back whole, which stalls.
bool readInstant(std::string_view text, KnownDays& known, Instant& out);

inline std::optional<Problem> mismatchOf(const char* expected) {
    return Problem{Kind::TypeMismatch, std::string("Expected to decode ") + expected + "."};
}

template <class T> std::optional<Problem> readScalar(void* target, Scalar& v);

template <> inline std::optional<Problem> readScalar<std::string>(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    auto& out = *static_cast<std::string*>(target);
    if (v.owned)
        out = std::move(*v.owned);
    else
        out.assign(v.text);
    return std::nullopt;
}

template <> inline std::optional<Problem> readScalar<OptionalText>(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    static_cast<OptionalText*>(target)->assign(v.text);
    return std::nullopt;
}

template <> inline std::optional<Problem> readScalar<double>(void* target, Scalar& v) {
    auto& out = *static_cast<double*>(target);
    switch (v.type) {
    case Scalar::Integer:
        out = static_cast<double>(v.integer);
        return std::nullopt;
    case Scalar::Unsigned:
        out = static_cast<double>(v.unsignedInteger);
        return std::nullopt;
    case Scalar::Float:
        out = v.number;
        return std::nullopt;
    default:
        return mismatchOf("a number");
    }
}

// Integers as written: no fraction part, within the signed 64-bit range.
inline std::optional<Problem> readExactInteger(void* target, Scalar& v) {
    auto& out = *static_cast<std::int64_t*>(target);
    if (v.type == Scalar::Integer) {
        out = v.integer;
        return std::nullopt;
    }
    if (v.type == Scalar::Unsigned &&
        v.unsignedInteger <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        out = static_cast<std::int64_t>(v.unsignedInteger);
        return std::nullopt;
    }
    return mismatchOf("an integer");
}

template <> inline std::optional<Problem> readScalar<std::int64_t>(void* target, Scalar& v) {
    if (v.type == Scalar::Float) {
        // 3.0 and 1e3 are whole numbers written another way; 2.5 is not an integer.
        const double d = v.number;
        if (std::trunc(d) == d && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18) {
            *static_cast<std::int64_t*>(target) = static_cast<std::int64_t>(d);
            return std::nullopt;
        }
        return mismatchOf("an integer");
    }
    return readExactInteger(target, v);
}

template <> inline std::optional<Problem> readScalar<bool>(void* target, Scalar& v) {
    if (v.type != Scalar::Boolean)
        return mismatchOf("a boolean");
    *static_cast<bool*>(target) = v.boolean;
    return std::nullopt;
}

template <> inline std::optional<Problem> readScalar<Instant>(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    const auto instant = Wire::parseInstant(v.text);
    if (!instant)
        return Problem{Kind::DataCorrupted, "Invalid timestamp"};
    *static_cast<Instant*>(target) = *instant;
    return std::nullopt;
}

template <class T> void resetTo(void* target) {
    *static_cast<T*>(target) = T{};
}

template <class T> struct IsList : std::false_type {};
template <class T> struct IsList<std::vector<T>> : std::true_type {};
template <class T> struct IsMap : std::false_type {};
template <class T> struct IsMap<std::map<std::string, T>> : std::true_type {};

template <class R> const RecordInfo& recordInfo();

// Records whose integers must be written as integers (no 3.0).
template <class R> constexpr bool exactIntegers = std::is_same_v<R, WidgetPreferences>;

template <class T, class Owner = void> const Ops* opsOf() {
    static const Ops ops = [] {
        if constexpr (IsList<T>::value) {
            using E = typename T::value_type;
            return Ops{.shape = Ops::List,
                       .expected = "an array",
                       .reset = &resetTo<T>,
                       .element = opsOf<E>(),
                       .append = [](void* list) -> void* {
                           auto& l = *static_cast<T*>(list);
                           if constexpr (std::is_class_v<E>) {
                               // emplace_back() would value-initialize: the whole record
                               // zeroed first (a slow `rep stos`), then constructed.
                               E element;
                               return &l.emplace_back(std::move(element));
                           } else {
                               return &l.emplace_back();
                           }
                       },
                       .reserve = [](void* list,
                                     std::size_t count) { static_cast<T*>(list)->reserve(count); },
                       .replaceLast = [](void* list) -> void* {
                           auto& l = *static_cast<T*>(list);
                           l.clear();
                           return &l.emplace_back();
                       }};
        } else if constexpr (IsMap<T>::value) {
            using E = typename T::mapped_type;
            return Ops{.shape = Ops::Map,
                       .expected = "a dictionary",
                       .reset = &resetTo<T>,
                       .element = opsOf<E>(),
                       .slot = [](void* map, std::string&& key) -> void* {
                           auto& value = (*static_cast<T*>(map))[std::move(key)];
                           value = E{};
                           return &value;
                       }};
        } else if constexpr (std::is_same_v<T, std::int64_t> && exactIntegers<Owner>) {
            return Ops{.shape = Ops::Value, .expected = "an integer", .scalar = &readExactInteger};
        } else if constexpr (std::is_same_v<T, OptionalText>) {
            return Ops{.shape = Ops::Value,
                       .expected = "a string",
                       .direct = Ops::Text,
                       .scalar = &readScalar<OptionalText>};
        } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, double> ||
                             std::is_same_v<T, std::int64_t> || std::is_same_v<T, bool> ||
                             std::is_same_v<T, Instant>) {
            const char* expected = std::is_same_v<T, double>         ? "a number"
                                   : std::is_same_v<T, std::int64_t> ? "an integer"
                                   : std::is_same_v<T, bool>         ? "a boolean"
                                                                     : "a string";
            const Ops::Direct direct = std::is_same_v<T, std::string>    ? Ops::String
                                       : std::is_same_v<T, double>       ? Ops::Number
                                       : std::is_same_v<T, std::int64_t> ? Ops::Integer
                                       : std::is_same_v<T, Instant>      ? Ops::Time
                                                                         : Ops::Flag;
            return Ops{.shape = Ops::Value,
                       .expected = expected,
                       .direct = direct,
                       .scalar = &readScalar<T>};
        } else {
            return Ops{.shape = Ops::Record,
                       .expected = "a dictionary",
                       .reset = &resetTo<T>,
                       .record = &recordInfo<T>};
        }
    }();
    return &ops;
}

template <class R> struct Collector {
    const R* base;
    RecordInfo info;

    std::ptrdiff_t offset(const void* member) const {
        return static_cast<const char*>(member) - reinterpret_cast<const char*>(base);
    }
    template <class T> void operator()(const char* key, T& member) {
        const Ops* ops = opsOf<T, R>();
        info.fields.push_back({key, offset(&member), ops, nullptr, nullptr, ops->direct});
    }
    // Read in place: the value is assigned only once it is known to be a text.
    void operator()(const char* key, OptionalText& member) {
        info.fields.push_back({key, offset(&member), opsOf<OptionalText, R>(),
                               [](void* m) -> void* { return m; },
                               [](void* m) { static_cast<OptionalText*>(m)->reset(); }, Ops::Text});
    }
    template <class T> void operator()(const char* key, std::optional<T>& member) {
        const Ops* ops = opsOf<T, R>();
        info.fields.push_back(
            {key, offset(&member), ops,
             [](void* m) -> void* { return &static_cast<std::optional<T>*>(m)->emplace(); },
             [](void* m) { static_cast<std::optional<T>*>(m)->reset(); }, ops->direct, true});
    }
};

// One field list per record, in wire order, for decoding and encoding alike: a plain member
// is a required key, an optional one may be absent or null.
template <class R, class T>
concept Is = std::same_as<std::remove_const_t<R>, T>;

template <class Io, Is<QuotaWindow> R> void fields(Io& io, R& w) {
    io("name", w.name);
    io("used", w.used);
    io("remaining", w.remaining);
    io("unlimited", w.unlimited);
    io("resetsAt", w.resetsAt);
    io("display", w.display);
    io("amount", w.amount);
    io("limit", w.limit);
    io("unit", w.unit);
    io("pool", w.pool);
}

template <class Io, Is<Quota> R> void fields(Io& io, R& q) {
    io("provider", q.provider);
    io("name", q.name);
    io("kind", q.kind);
    io("user", q.user);
    io("alias", q.alias);
    io("plan", q.plan);
    io("from", q.from);
    io("windows", q.windows);
    io("balance", q.balance);
    io("error", q.error);
    io("readAt", q.readAt);
    io("asOf", q.asOf);
    io("readDeferred", q.readDeferred);
}

template <class Io, Is<QuotaEnvelope> R> void fields(Io& io, R& e) {
    io("data", e.data);
}

template <class Io, Is<UsagePoint> R> void fields(Io& io, R& u) {
    io("label", u.label);
    io("time", u.time);
    io("input", u.input);
    io("output", u.output);
    io("cost", u.cost);
}

template <class Io, Is<UsageGroup> R> void fields(Io& io, R& g) {
    io("id", g.id);
    io("name", g.name);
    io("provider", g.provider);
    io("sub", g.sub);
    io("calls", g.calls);
    io("input", g.input);
    io("output", g.output);
    io("cost", g.cost);
}

template <class Io, Is<Usage> R> void fields(Io& io, R& u) {
    io("period", u.period);
    io("since", u.since);
    io("calls", u.calls);
    io("input", u.input);
    io("output", u.output);
    io("cache_read", u.cache_read);
    io("cache_write", u.cache_write);
    io("cost", u.cost);
    io("unpriced", u.unpriced);
    io("series", u.series);
    io("agents", u.agents);
    io("models", u.models);
}

template <class Io, Is<Snapshot> R> void fields(Io& io, R& s) {
    io("schema", s.schema);
    io("updatedAt", s.updatedAt);
    io("attemptedAt", s.attemptedAt);
    io("quotaUpdatedAt", s.quotaUpdatedAt);
    io("usageUpdatedAt", s.usageUpdatedAt);
    io("endpoint", s.endpoint);
    io("version", s.version);
    io("issue", s.issue);
    io("quotas", s.quotas);
    io("usage", s.usage);
}

template <class Io, Is<WidgetPreferences> R> void fields(Io& io, R& p) {
    io("providerIDs", p.providerIDs);
    io("quotaCount", p.quotaCount);
    io("metric", p.metric);
    io("period", p.period);
    io("showQuotas", p.showQuotas);
    io("showWindowName", p.showWindowName);
    io("showReset", p.showReset);
    io("showSync", p.showSync);
    io("showCost", p.showCost);
    io("showTokens", p.showTokens);
    io("showChart", p.showChart);
    io("chartMetric", p.chartMetric);
    io("showRequests", p.showRequests);
    io("showAgents", p.showAgents);
}

// Never destroyed: a program may end (exit() from a library, or main returning) while a worker
// thread still decodes, and the table must not be freed under it.
template <class R> const RecordInfo& recordInfo() {
    static const RecordInfo& info = *new RecordInfo([] {
        const R probe{};
        Collector<R> collector{&probe, {}};
        fields(collector, const_cast<R&>(probe));
        for (std::size_t i = 0; i < collector.info.fields.size(); ++i)
            if (!collector.info.fields[i].emplace)
                collector.info.required |= std::uint64_t{1} << i;
        collector.info.index();
        return std::move(collector.info);
    }());
    return info;
}

} // namespace tessel::wire
