#include "wire.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include <nlohmann/json.hpp>

#include "snapshot.h"

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

// Coding path as a chain on the stack; rendered only when something fails.
struct Path {
    const Path* parent = nullptr;
    const char* key = nullptr;
    std::size_t index = 0;

    Path child(const char* k) const { return Path{this, k, 0}; }
    Path element(std::size_t i) const { return Path{this, nullptr, i}; }

    std::string render() const {
        std::vector<const Path*> chain;
        for (const Path* p = this; p && p->parent; p = p->parent)
            chain.push_back(p);
        std::string out;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if ((*it)->key) {
                if (!out.empty())
                    out += '.';
                out += (*it)->key;
            } else {
                out += '[' + std::to_string((*it)->index) + ']';
            }
        }
        return out;
    }
};

[[noreturn]] void fail(Kind kind, const Path& path, std::string description) {
    throw DecodingError(kind, path.render(), std::move(description));
}

[[noreturn]] void mismatch(const Path& path, const char* expected) {
    fail(Kind::TypeMismatch, path, std::string("Expected to decode ") + expected + ".");
}

// Nesting depth outside strings, without building anything.
bool tooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

json parse(std::string_view text) {
    if (tooDeep(text))
        throw DecodingError(Kind::DataCorrupted, "", "The given data is nested too deeply.");
    json doc = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded())
        throw DecodingError(Kind::DataCorrupted, "", "The given data was not valid JSON.");
    return doc;
}

const json& object(const json& value, const Path& path) {
    if (!value.is_object())
        mismatch(path, "a dictionary");
    return value;
}

// Absent and null are the same: nothing.
const json* find(const json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end() || it->is_null())
        return nullptr;
    return &*it;
}

template <class T> T readValue(const json& v, const Path& path);

template <> std::string readValue<std::string>(const json& v, const Path& path) {
    if (!v.is_string())
        mismatch(path, "a string");
    return v.get_ref<const std::string&>();
}

template <> double readValue<double>(const json& v, const Path& path) {
    if (!v.is_number())
        mismatch(path, "a number");
    return v.get<double>();
}

template <> std::int64_t readValue<std::int64_t>(const json& v, const Path& path) {
    if (v.is_number_integer() && !v.is_number_unsigned())
        return v.get<std::int64_t>();
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return static_cast<std::int64_t>(u);
    } else if (v.is_number_float()) {
        // 3.0 and 1e3 are whole numbers written another way; 2.5 is not an integer.
        const double d = v.get<double>();
        if (std::trunc(d) == d && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)
            return static_cast<std::int64_t>(d);
    }
    mismatch(path, "an integer");
}

template <> bool readValue<bool>(const json& v, const Path& path) {
    if (!v.is_boolean())
        mismatch(path, "a boolean");
    return v.get<bool>();
}

template <> Instant readValue<Instant>(const json& v, const Path& path) {
    if (!v.is_string())
        mismatch(path, "a string");
    if (auto instant = Wire::parseInstant(v.get_ref<const std::string&>()))
        return *instant;
    fail(Kind::DataCorrupted, path, "Invalid timestamp");
}

template <class T> struct IsList : std::false_type {};
template <class T> struct IsList<std::vector<T>> : std::true_type {};

// Lists of any record or scalar.
template <class T>
requires IsList<T>::value T readList(const json& v, const Path& path) {
    using Element = typename T::value_type;
    if (!v.is_array())
        mismatch(path, "an array");
    T out;
    out.reserve(v.size());
    std::size_t i = 0;
    for (const auto& element : v)
        out.push_back(readValue<Element>(element, path.element(i++)));
    return out;
}

template <class T> T readAny(const json& v, const Path& path) {
    if constexpr (IsList<T>::value)
        return readList<T>(v, path);
    else
        return readValue<T>(v, path);
}

// Reads the fields of one object being decoded: a plain member must be there, an optional
// one may be absent or null.
struct Reader {
    const json& obj;
    const Path& path;

    template <class T> void operator()(const char* key, T& member) const {
        const Path at = path.child(key);
        const json* v = find(obj, key);
        if (!v)
            fail(Kind::KeyNotFound, at,
                 std::string("No value associated with key \"") + key + "\".");
        member = readAny<T>(*v, at);
    }
    template <class T> void operator()(const char* key, std::optional<T>& member) const {
        const json* v = find(obj, key);
        member = v ? std::optional<T>(readAny<T>(*v, path.child(key))) : std::nullopt;
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

// Every record; the scalars and the usage map are specialised.
template <class T> T readValue(const json& v, const Path& p) {
    const Reader reader{object(v, p), p};
    T record;
    fields(reader, record);
    return record;
}

template <>
std::map<std::string, Usage> readValue<std::map<std::string, Usage>>(const json& v, const Path& p) {
    std::map<std::string, Usage> out;
    for (const auto& [key, value] : object(v, p).items())
        out.emplace(key, readValue<Usage>(value, p.child(key.c_str())));
    return out;
}

// Encoding: field order kept, optional fields only when they hold a value.

ojson toJson(const std::string& v) {
    return v;
}
ojson toJson(double v) {
    return v;
}
ojson toJson(std::int64_t v) {
    return v;
}
ojson toJson(bool v) {
    return v;
}
ojson toJson(Instant v) {
    return Wire::formatInstant(v);
}

template <class T> ojson toJson(const std::vector<T>& list);
template <class T> ojson toJson(const std::map<std::string, T>& map);

struct Writer {
    ojson out = ojson::object();
    template <class T> void operator()(const char* key, const T& value) {
        out[key] = toJson(value);
    }
    template <class T> void operator()(const char* key, const std::optional<T>& value) {
        if (value)
            out[key] = toJson(*value);
    }
};

template <class T>
requires requires(Writer& w, const T& record) {
    fields(w, record);
}
ojson toJson(const T& record) {
    Writer writer;
    fields(writer, record);
    return std::move(writer.out);
}

template <class T> ojson toJson(const std::vector<T>& list) {
    ojson out = ojson::array();
    for (const auto& element : list)
        out.push_back(toJson(element));
    return out;
}

template <class T> ojson toJson(const std::map<std::string, T>& map) {
    ojson out = ojson::object();
    for (const auto& [key, value] : map)
        out[key] = toJson(value);
    return out;
}

// Texts we did not parse ourselves (a typed endpoint) may hold broken UTF-8; never throw.
std::string dump(const ojson& value) {
    return value.dump(-1, ' ', false, ojson::error_handler_t::replace);
}

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
    const json doc = parse(text);
    return readValue<T>(doc, Path{});
}

template <class T> std::string encode(const T& value) {
    return dump(toJson(value));
}

template QuotaWindow decode<QuotaWindow>(std::string_view);
template Quota decode<Quota>(std::string_view);
template QuotaEnvelope decode<QuotaEnvelope>(std::string_view);
template UsagePoint decode<UsagePoint>(std::string_view);
template UsageGroup decode<UsageGroup>(std::string_view);
template Usage decode<Usage>(std::string_view);
template Snapshot decode<Snapshot>(std::string_view);

template std::string encode<QuotaWindow>(const QuotaWindow&);
template std::string encode<Quota>(const Quota&);
template std::string encode<UsagePoint>(const UsagePoint&);
template std::string encode<UsageGroup>(const UsageGroup&);
template std::string encode<Usage>(const Usage&);
template std::string encode<Snapshot>(const Snapshot&);

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
