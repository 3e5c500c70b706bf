#include "wire.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <system_error>

#include <malloc.h>

#include <nlohmann/json.hpp>

#include "snapshot.h"
#include "widget_preferences.h"

namespace tessel {

DecodingError::DecodingError(Kind kind, std::string codingPath, std::string description)
    : std::runtime_error(codingPath.empty() ? description : codingPath + ": " + description),
      kind_(kind), path_(std::move(codingPath)), description_(std::move(description)) {}

namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;
using Kind = DecodingError::Kind;

// Deeper than any record goes; keeps a hostile document from costing gigabytes of nodes.
constexpr int maxDepth = 256;
// Decodes at least this large end by giving their freed memory back to the system.
constexpr std::size_t largeDocument = 1u << 20;
// Free heap beyond this after a decode is what an earlier large answer left behind.
constexpr std::size_t idleFreeHeap = 8u << 20;
// Encoded text handed to a writer in pieces of about this size.
constexpr std::size_t piece = 256u << 10;

[[noreturn]] void corrupted(const char* description) {
    throw DecodingError(Kind::DataCorrupted, "", description);
}

// The one reader of JSON text: every document goes through here, so the nesting limit holds
// for all of them. Events are passed on to `Handler` as they come; no tree is built here.
template <class Handler> struct Limited {
    Handler& inner;
    int depth = 0;
    bool tooDeep = false;

    bool null() { return inner.null(); }
    bool boolean(bool v) { return inner.boolean(v); }
    bool number_integer(std::int64_t v) { return inner.number_integer(v); }
    bool number_unsigned(std::uint64_t v) { return inner.number_unsigned(v); }
    bool number_float(double v, const std::string&) { return inner.number_float(v); }
    bool string(std::string& v) { return inner.string(v); }
    bool binary(json::binary_t&) { return false; } // JSON text has none
    bool key(std::string& v) { return inner.key(v); }
    bool start_object(std::size_t) { return enter() && inner.start_object(); }
    bool end_object() {
        --depth;
        return inner.end_object();
    }
    bool start_array(std::size_t) { return enter() && inner.start_array(); }
    bool end_array() {
        --depth;
        return inner.end_array();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

private:
    bool enter() {
        if (++depth <= maxDepth)
            return true;
        tooDeep = true;
        return false;
    }
};

template <class Handler> void read(std::string_view text, Handler& handler) {
    Limited<Handler> limited{handler};
    const bool ok = json::sax_parse(text.begin(), text.end(), &limited);
    if (limited.tooDeep)
        corrupted("The given data is nested too deeply.");
    if (!ok)
        corrupted("The given data was not valid JSON.");
}

// Large answers leave megabytes of freed heap that glibc keeps; hand them back, both right
// after a large decode and at the first decode after the large records were dropped.
void giveBackMemory(std::size_t documentSize) {
    if (documentSize >= largeDocument || mallinfo2().fordblks > idleFreeHeap)
        malloc_trim(0);
}

// An untyped tree, for the few documents that have no record.
struct TreeBuilder {
    json root;
    std::vector<json*> open;
    std::string pendingKey;

    json* place(json&& value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        json& parent = *open.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        json& slot = parent[pendingKey];
        slot = std::move(value);
        return &slot;
    }
    bool null() { return place(nullptr), true; }
    bool boolean(bool v) { return place(v), true; }
    bool number_integer(std::int64_t v) { return place(v), true; }
    bool number_unsigned(std::uint64_t v) { return place(v), true; }
    bool number_float(double v) { return place(v), true; }
    bool string(std::string& v) { return place(std::move(v)), true; }
    bool key(std::string& v) {
        pendingKey = std::move(v);
        return true;
    }
    bool start_object() {
        open.push_back(place(json::object()));
        return true;
    }
    bool start_array() {
        open.push_back(place(json::array()));
        return true;
    }
    bool end_object() {
        open.pop_back();
        return true;
    }
    bool end_array() { return end_object(); }
};

// ---- Typed decoding straight from the events into the records ----
//
// Results equal a strict walk over the whole tree: the first failure in field order (lists:
// element order; maps: key order) wins, a later duplicate key replaces an earlier one with its
// failure, and text that is not JSON beats any decoding failure.

struct Failure {
    Kind kind;
    std::string path;
    std::string description;
};

// One scalar event; `text` points into the parser's buffer and may be moved from.
struct Scalar {
    enum Type { Null, Boolean, Integer, Unsigned, Float, String } type;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double number = 0;
    std::string* text = nullptr;
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
    // Value: reads the scalar into the target, or tells what is wrong.
    std::optional<Problem> (*scalar)(void* target, Scalar& value) = nullptr;
    void (*reset)(void* target) = nullptr;
    const RecordInfo& (*record)() = nullptr;
    const Ops* element = nullptr;                          // List and Map
    void* (*append)(void* list) = nullptr;                 // List
    void* (*replaceLast)(void* list) = nullptr;            // List, when only checking
    void* (*slot)(void* map, std::string&& key) = nullptr; // Map
};

// One entry of a record's field list, as an offset into the record.
struct Field {
    std::string_view name;
    std::ptrdiff_t offset;
    const Ops* ops;
    // Optional members: make a value to read into, or drop it.
    void* (*emplace)(void* member) = nullptr;
    void (*clear)(void* member) = nullptr;
};

struct RecordInfo {
    std::vector<Field> fields;

    int find(std::string_view key) const {
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name == key)
                return static_cast<int>(i);
        return -1;
    }
};

std::optional<Problem> mismatchOf(const char* expected) {
    return Problem{Kind::TypeMismatch, std::string("Expected to decode ") + expected + "."};
}

template <class T> std::optional<Problem> readScalar(void* target, Scalar& v);

template <> std::optional<Problem> readScalar<std::string>(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    *static_cast<std::string*>(target) = std::move(*v.text);
    return std::nullopt;
}

template <> std::optional<Problem> readScalar<double>(void* target, Scalar& v) {
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
std::optional<Problem> readExactInteger(void* target, Scalar& v) {
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

template <> std::optional<Problem> readScalar<std::int64_t>(void* target, Scalar& v) {
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

template <> std::optional<Problem> readScalar<bool>(void* target, Scalar& v) {
    if (v.type != Scalar::Boolean)
        return mismatchOf("a boolean");
    *static_cast<bool*>(target) = v.boolean;
    return std::nullopt;
}

template <> std::optional<Problem> readScalar<Instant>(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    const auto instant = Wire::parseInstant(*v.text);
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
                           return &static_cast<T*>(list)->emplace_back();
                       },
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
        } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, double> ||
                             std::is_same_v<T, std::int64_t> || std::is_same_v<T, bool> ||
                             std::is_same_v<T, Instant>) {
            const char* expected = std::is_same_v<T, double>         ? "a number"
                                   : std::is_same_v<T, std::int64_t> ? "an integer"
                                   : std::is_same_v<T, bool>         ? "a boolean"
                                                                     : "a string";
            return Ops{.shape = Ops::Value, .expected = expected, .scalar = &readScalar<T>};
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
        info.fields.push_back({key, offset(&member), opsOf<T, R>()});
    }
    template <class T> void operator()(const char* key, std::optional<T>& member) {
        info.fields.push_back(
            {key, offset(&member), opsOf<T, R>(),
             [](void* m) -> void* { return &static_cast<std::optional<T>*>(m)->emplace(); },
             [](void* m) { static_cast<std::optional<T>*>(m)->reset(); }});
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
        return std::move(collector.info);
    }());
    return info;
}

class Decoder {
public:
    // `keepLists` false: each list holds only the element being read, so checking a document
    // costs the memory of one element per level instead of all of them.
    Decoder(void* result, const Ops* ops, bool keepLists = true)
        : result_(result), resultOps_(ops), keepLists_(keepLists) {}

    // After the whole text was read: the failure that decoding reports, if any.
    const std::optional<Failure>& failure() const { return failure_; }

    bool null() { return scalar(Scalar{Scalar::Null}); }
    bool boolean(bool v) { return scalar(Scalar{Scalar::Boolean, v}); }
    bool number_integer(std::int64_t v) { return scalar(Scalar{Scalar::Integer, false, v}); }
    bool number_unsigned(std::uint64_t v) { return scalar(Scalar{Scalar::Unsigned, false, 0, v}); }
    bool number_float(double v) { return scalar(Scalar{Scalar::Float, false, 0, 0, v}); }
    bool string(std::string& v) { return scalar(Scalar{Scalar::String, false, 0, 0, 0, &v}); }

    bool key(std::string& k) {
        if (skipping_)
            return true;
        Frame& f = frames_.back();
        if (f.ops->shape == Ops::Record) {
            // A repeated key replaces the earlier value, and with it the earlier failure.
            f.field = f.ops->record().find(k);
            if (f.field >= 0) {
                f.seen &= ~(std::uint64_t{1} << f.field);
                std::erase_if(f.fieldFailures, [&](const auto& e) { return e.first == f.field; });
            }
        } else {
            f.key = std::move(k);
            f.keyFailures.erase(f.key);
        }
        return true;
    }

    bool start_object() { return open(Ops::Record); }
    bool start_array() { return open(Ops::List); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

private:
    struct Frame {
        const Ops* ops; // Record, List or Map
        void* target;
        int field = -1; // record: field of the value being read; -1 for an unknown key
        std::uint64_t seen = 0;
        std::vector<std::pair<int, Failure>> fieldFailures{};
        std::size_t index = 0; // list: element being read
        std::optional<Failure> firstFailure{};
        std::string key{}; // map: key of the value being read
        std::map<std::string, Failure> keyFailures{};
    };
    struct Slot {
        void* target = nullptr;
        const Ops* ops = nullptr; // none: nothing to read into, skip the value
    };

    // Where the value that starts now goes.
    Slot next(bool isNull) {
        if (frames_.empty())
            return {result_, resultOps_};
        Frame& f = frames_.back();
        switch (f.ops->shape) {
        case Ops::Record: {
            if (f.field < 0)
                return {};
            const Field& field = f.ops->record().fields[static_cast<std::size_t>(f.field)];
            void* member = static_cast<char*>(f.target) + field.offset;
            if (isNull) { // absent: required fields then count as missing
                if (field.clear)
                    field.clear(member);
                return {};
            }
            f.seen |= std::uint64_t{1} << f.field;
            return {field.emplace ? field.emplace(member) : member, field.ops};
        }
        case Ops::List:
            if (f.firstFailure)
                return {}; // a later element cannot change the outcome
            return {keepLists_ ? f.ops->append(f.target) : f.ops->replaceLast(f.target),
                    f.ops->element};
        default:
            return {f.ops->slot(f.target, std::string(f.key)), f.ops->element};
        }
    }

    bool scalar(Scalar value) {
        if (skipping_)
            return true;
        const Slot slot = next(value.type == Scalar::Null);
        if (slot.ops) {
            if (slot.ops->shape != Ops::Value)
                fail(Kind::TypeMismatch,
                     std::string("Expected to decode ") + slot.ops->expected + ".");
            else if (auto problem = slot.ops->scalar(slot.target, value))
                fail(problem->kind, std::move(problem->description));
        }
        done();
        return true;
    }

    bool open(Ops::Shape shape) {
        if (skipping_) {
            ++skipping_;
            return true;
        }
        const Slot slot = next(false);
        if (!slot.ops) {
            skipping_ = 1;
            return true;
        }
        const bool object = shape == Ops::Record;
        const Ops::Shape want = slot.ops->shape;
        if ((object && (want == Ops::Record || want == Ops::Map)) ||
            (!object && want == Ops::List)) {
            if (want != Ops::Record)
                slot.ops->reset(slot.target);
            frames_.push_back(Frame{slot.ops, slot.target});
        } else {
            fail(Kind::TypeMismatch, std::string("Expected to decode ") + slot.ops->expected + ".");
            skipping_ = 1;
        }
        return true;
    }

    bool close() {
        if (skipping_) {
            if (--skipping_ == 0)
                done();
            return true;
        }
        std::optional<Failure> failure = outcome(frames_.back());
        frames_.pop_back();
        if (failure)
            report(std::move(*failure));
        done();
        return true;
    }

    std::optional<Failure> outcome(Frame& f) const {
        switch (f.ops->shape) {
        case Ops::Record: {
            const auto& fields = f.ops->record().fields;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                for (auto& [index, failure] : f.fieldFailures)
                    if (index == static_cast<int>(i))
                        return std::move(failure);
                if (!fields[i].emplace && !(f.seen & (std::uint64_t{1} << i)))
                    return Failure{Kind::KeyNotFound, path(frames_.size() - 1, fields[i].name),
                                   "No value associated with key \"" + std::string(fields[i].name) +
                                       "\"."};
            }
            return std::nullopt;
        }
        case Ops::List:
            return std::move(f.firstFailure);
        default:
            if (f.keyFailures.empty())
                return std::nullopt;
            return std::move(f.keyFailures.begin()->second);
        }
    }

    // A value at the current position is complete.
    void done() {
        if (!frames_.empty() && frames_.back().ops->shape == Ops::List)
            ++frames_.back().index;
    }

    void fail(Kind kind, std::string description) {
        report(Failure{kind, path(frames_.size(), {}), std::move(description)});
    }

    void report(Failure failure) {
        if (frames_.empty()) {
            failure_ = std::move(failure);
            return;
        }
        Frame& f = frames_.back();
        switch (f.ops->shape) {
        case Ops::Record:
            f.fieldFailures.emplace_back(f.field, std::move(failure));
            break;
        case Ops::List:
            if (!f.firstFailure)
                f.firstFailure = std::move(failure);
            break;
        default:
            f.keyFailures.insert_or_assign(f.key, std::move(failure));
        }
    }

    // "data[2].windows[0].resetsAt": the positions of the first `count` frames, then `last`.
    std::string path(std::size_t count, std::string_view last) const {
        std::string out;
        auto key = [&out](std::string_view k) {
            if (!out.empty())
                out += '.';
            out += k;
        };
        for (std::size_t i = 0; i < count; ++i) {
            const Frame& f = frames_[i];
            if (f.ops->shape == Ops::Record)
                key(f.ops->record().fields[static_cast<std::size_t>(f.field)].name);
            else if (f.ops->shape == Ops::List)
                out += '[' + std::to_string(f.index) + ']';
            else
                key(f.key);
        }
        if (!last.empty())
            key(last);
        return out;
    }

    void* result_;
    const Ops* resultOps_;
    bool keepLists_;
    std::vector<Frame> frames_;
    int skipping_ = 0; // nesting depth inside a value nobody reads
    std::optional<Failure> failure_;
};

// ---- Encoding straight into text: field order kept, optional fields only with a value ----

// Printable, unescaped and valid UTF-8: copied as it is.
bool plainText(std::string_view v) {
    const auto* s = reinterpret_cast<const unsigned char*>(v.data());
    const std::size_t n = v.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x80) {
            if (c < 0x20 || c == '"' || c == '\\')
                return false;
            ++i;
            continue;
        }
        std::size_t more;
        std::uint32_t cp, least;
        if ((c & 0xE0) == 0xC0) {
            more = 1, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, cp = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

struct Encoder {
    std::string out;
    // Texts that are not UTF-8: replaced, or (strict) a json type_error.
    bool strict = false;
    // Given: `out` is handed over in pieces instead of growing to the whole text.
    const Wire::Write* write = nullptr;

    void text(std::string_view v) {
        if (plainText(v)) {
            out += '"';
            out += v;
            out += '"';
            return;
        }
        out += ojson(std::string(v))
                   .dump(-1, ' ', false,
                         strict ? ojson::error_handler_t::strict : ojson::error_handler_t::replace);
    }

    void put(const std::string& v) { text(v); }
    void put(double v) { out += ojson(v).dump(); }
    void put(std::int64_t v) {
        std::array<char, 24> buf{};
        const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), v).ptr;
        out.append(buf.data(), end);
    }
    void put(bool v) { out += v ? "true" : "false"; }
    void put(Instant v) {
        out += '"';
        out += Wire::formatInstant(v);
        out += '"';
    }
    template <class T> void put(const std::vector<T>& list) {
        out += '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i)
                out += ',';
            put(list[i]);
        }
        out += ']';
    }
    template <class T> void put(const std::map<std::string, T>& map) {
        out += '{';
        bool first = true;
        for (const auto& [key, value] : map) {
            if (!first)
                out += ',';
            first = false;
            text(key);
            out += ':';
            put(value);
        }
        out += '}';
    }
    template <class R>
    requires requires(Encoder& e, const R& r) { fields(e, r); }
    void put(const R& record) {
        out += '{';
        first_ = true;
        fields(*this, record);
        out += '}';
        first_ = false;
        if (write && out.size() >= piece) {
            (*write)(out);
            out.clear();
        }
    }

    template <class T> void operator()(const char* key, const T& value) {
        if (!first_)
            out += ',';
        out += '"';
        out += key; // our own names: plain ASCII
        out += "\":";
        put(value);
        first_ = false;
    }
    template <class T> void operator()(const char* key, const std::optional<T>& value) {
        if (value)
            (*this)(key, *value);
    }

private:
    bool first_ = false;
};

// Fixed-width decimal field; false unless exactly `n` digits.
bool digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
    if (at + n > s.size())
        return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

} // namespace

namespace Wire {

template <class T> T decode(std::string_view text) {
    T result{};
    Decoder decoder(&result, opsOf<T>());
    read(text, decoder);
    if (const auto& failure = decoder.failure())
        throw DecodingError(failure->kind, failure->path, failure->description);
    giveBackMemory(text.size());
    return result;
}

template <class T> T check(std::string_view text) {
    T result{};
    Decoder decoder(&result, opsOf<T>(), /*keepLists=*/false);
    read(text, decoder);
    if (const auto& failure = decoder.failure())
        throw DecodingError(failure->kind, failure->path, failure->description);
    return result;
}

template Snapshot check<Snapshot>(std::string_view);

json parse(std::string_view text) {
    TreeBuilder builder;
    read(text, builder);
    return std::move(builder.root);
}

template <class T> std::string encode(const T& value) {
    Encoder encoder;
    if constexpr (std::is_same_v<T, WidgetPreferences>) {
        encoder.strict = true;
        try {
            encoder.put(value);
        } catch (const ojson::type_error&) {
            throw std::system_error(EILSEQ, std::generic_category(), "text is not UTF-8");
        }
    } else {
        encoder.put(value);
    }
    return std::move(encoder.out);
}

template <class T> void encode(const T& value, const Write& write) {
    Encoder encoder;
    encoder.write = &write;
    encoder.put(value);
    if (!encoder.out.empty())
        write(encoder.out);
}

template void encode<Snapshot>(const Snapshot&, const Write&);

template QuotaWindow decode<QuotaWindow>(std::string_view);
template Quota decode<Quota>(std::string_view);
template QuotaEnvelope decode<QuotaEnvelope>(std::string_view);
template UsagePoint decode<UsagePoint>(std::string_view);
template UsageGroup decode<UsageGroup>(std::string_view);
template Usage decode<Usage>(std::string_view);
template Snapshot decode<Snapshot>(std::string_view);
template WidgetPreferences decode<WidgetPreferences>(std::string_view);

template std::string encode<QuotaWindow>(const QuotaWindow&);
template std::string encode<Quota>(const Quota&);
template std::string encode<UsagePoint>(const UsagePoint&);
template std::string encode<UsageGroup>(const UsageGroup&);
template std::string encode<Usage>(const Usage&);
template std::string encode<Snapshot>(const Snapshot&);
template std::string encode<WidgetPreferences>(const WidgetPreferences&);

// YYYY-MM-DDTHH:MM:SS[.f+](Z|±HH:MM), upper-case T and Z, fields in range.
std::optional<Instant> parseInstant(std::string_view s) {
    using namespace std::chrono;
    int y, mo, d, h, mi, sec;
    if (!digits(s, 0, 4, y) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, mo) ||
        s[7] != '-' || !digits(s, 8, 2, d) || s[10] != 'T' || !digits(s, 11, 2, h) ||
        s[13] != ':' || !digits(s, 14, 2, mi) || s[16] != ':' || !digits(s, 17, 2, sec))
        return std::nullopt;
    std::size_t at = 19;
    nanoseconds fraction{0};
    if (s[at] == '.') {
        const std::size_t start = ++at;
        std::int64_t scale = 100'000'000;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            fraction += nanoseconds((s[at] - '0') * scale);
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }
    if (at >= s.size())
        return std::nullopt;
    minutes offset{0};
    if (s[at] == 'Z') {
        ++at;
    } else if (s[at] == '+' || s[at] == '-') {
        int oh, om;
        if (!digits(s, at + 1, 2, oh) || at + 3 >= s.size() || s[at + 3] != ':' ||
            !digits(s, at + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offset = hours(oh) + minutes(om);
        if (s[at] == '-')
            offset = -offset;
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != s.size())
        return std::nullopt;
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)),
                              day(static_cast<unsigned>(d))};
    if (!date.ok() || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;
    // Whole seconds first: years up to 9999 fit easily, the nanosecond count may not.
    const std::int64_t whole =
        static_cast<std::int64_t>(sys_days(date).time_since_epoch().count()) * 86400 + h * 3600 +
        mi * 60 + sec - static_cast<std::int64_t>(offset.count()) * 60;
    // Refused outside what an Instant holds exactly. The lower bound is the first whole second
    // inside the range, so that the whole-second text written back reads again.
    constexpr auto range = Instant::duration::max();
    constexpr std::int64_t lastSecond = duration_cast<seconds>(range).count();
    if (whole < -lastSecond || whole > lastSecond ||
        (whole == lastSecond && fraction > range - seconds(lastSecond)))
        return std::nullopt;
    return Instant(duration_cast<Instant::duration>(seconds(whole) + fraction));
}

std::string formatInstant(Instant instant) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(instant);
    const auto days = floor<std::chrono::days>(secs);
    const year_month_day date{days};
    const hh_mm_ss time{secs - days};
    std::array<char, 40> buf{};
    std::snprintf(buf.data(), buf.size(), "%04d-%02u-%02uT%02ld:%02ld:%02ldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return buf.data();
}

} // namespace Wire

} // namespace tessel
