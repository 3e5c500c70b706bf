// The former reader, on nlohmann/json's SAX parser: the baseline of the decode benchmark and
// the reference the differential fuzz target holds the reader to.
#include "reference_reader.h"

#include <nlohmann/json.hpp>

#include "model/wire_fields.h"

namespace tessel::reference {

namespace {

using json = nlohmann::json;
using namespace tessel::wire;

constexpr int maxDepth = 256;

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

// The former instant reader, on the standard calendar types: the reference of the reader's own.
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
    const std::int64_t whole =
        static_cast<std::int64_t>(sys_days(date).time_since_epoch().count()) * 86400 + h * 3600 +
        mi * 60 + sec - static_cast<std::int64_t>(offset.count()) * 60;
    constexpr auto range = Instant::duration::max();
    constexpr std::int64_t lastSecond = duration_cast<seconds>(range).count();
    if (whole < -lastSecond || whole > lastSecond ||
        (whole == lastSecond && fraction > range - seconds(lastSecond)))
        return std::nullopt;
    return Instant(duration_cast<Instant::duration>(seconds(whole) + fraction));
}

std::optional<Problem> readInstant(void* target, Scalar& v) {
    if (v.type != Scalar::String)
        return mismatchOf("a string");
    const auto instant = parseInstant(v.text);
    if (!instant)
        return Problem{Kind::DataCorrupted, "Invalid timestamp"};
    *static_cast<Instant*>(target) = *instant;
    return std::nullopt;
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
    bool string(std::string& v) { return scalar(Scalar{Scalar::String, false, 0, 0, 0, v, &v}); }

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
            // Instants through the former instant reader.
            else if (auto problem = (slot.ops->scalar == &readScalar<Instant>
                                         ? &readInstant
                                         : slot.ops->scalar)(slot.target, value))
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

} // namespace

template <class T> T decode(std::string_view text, bool keepLists) {
    T result{};
    Decoder decoder(&result, opsOf<T>(), keepLists);
    read(text, decoder);
    if (const auto& failure = decoder.failure())
        throw DecodingError(failure->kind, failure->path, failure->description);
    return result;
}

json parse(std::string_view text) {
    TreeBuilder builder;
    read(text, builder);
    return std::move(builder.root);
}

template QuotaEnvelope decode<QuotaEnvelope>(std::string_view, bool);
template Quota decode<Quota>(std::string_view, bool);
template Usage decode<Usage>(std::string_view, bool);
template Snapshot decode<Snapshot>(std::string_view, bool);
template WidgetPreferences decode<WidgetPreferences>(std::string_view, bool);

} // namespace tessel::reference
