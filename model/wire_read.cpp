// The one reader of JSON text: simdjson's DOM parser checks the whole text (wire_document.cpp),
// then the records are read from its tape.
#include <atomic>
#include <map>

#include <malloc.h>

#include <nlohmann/json.hpp>

#include "wire_document.h"
#include "wire_fields.h"

namespace tessel {

namespace {

using namespace wire;
using json = nlohmann::json;
namespace dom = simdjson::dom;

// Free heap beyond this after a decode is what an earlier large answer left behind.
constexpr std::size_t idleFreeHeap = 8u << 20;

// Large answers leave megabytes of freed heap that glibc keeps; hand them back, both right
// after a large decode and once the large records were dropped: measuring the free heap walks
// every free chunk, so after a large decode it is measured at the 1st, 2nd, 4th, 8th... decode
// until it is found above the threshold.
void giveBackMemory(std::size_t documentSize) {
    static std::atomic<unsigned> sinceLarge{0}; // decodes since the last large one, 0: none
    if (documentSize >= largeDocument) {
        malloc_trim(0);
        sinceLarge = 1;
        return;
    }
    unsigned n = sinceLarge.load(std::memory_order_relaxed);
    if (n == 0 || !sinceLarge.compare_exchange_strong(n, n + 1) || (n & (n - 1)) != 0)
        return;
    if (mallinfo2().fordblks > idleFreeHeap) {
        malloc_trim(0);
        sinceLarge = 0;
    }
}

// ---- Typed reading from the document into the records ----
//
// The outcome is that of a strict walk in text order: the first failure in field order (lists:
// element order; maps: key order) wins, a later duplicate key replaces an earlier one with its
// failure, and text that is not JSON or too deep beats any decoding failure.

// One step of the coding path, kept on the stack of the walk and rendered only on a failure: a
// record's field, a list's index or a map's key.
struct Step {
    const Step* up = nullptr;
    std::size_t depth = 0; // containers above the value
    const Field* field = nullptr;
    std::size_t index = 0;
    std::string_view key{};
    bool isIndex = false;

    // "data[2].windows[0].resetsAt": the steps taken, then `last`.
    std::string render(std::string_view last = {}) const {
        std::string out = up ? up->render() : std::string();
        auto key = [&out](std::string_view k) {
            if (!out.empty())
                out += '.';
            out += k;
        };
        if (field)
            key(field->name);
        else if (isIndex)
            out += '[' + std::to_string(index) + ']';
        else
            key(this->key);
        if (!last.empty())
            key(last);
        return out;
    }
};

class Reader {
public:
    // `keepLists` false: each list holds only its last element, so checking a document costs
    // the memory of one element per level instead of all of them.
    Reader(const Document& document, bool keepLists)
        : document_(document), tape_(document.tape()), keep_(keepLists) {}

    // The value at tape index `i`, which is at `at`.
    std::optional<Failure> read(std::size_t i, void* target, const Ops* ops, const Step& at) {
        const char type = tape_.type(i);
        switch (ops->shape) {
        case Ops::Value:
            return scalar(i, type, target, ops, at);
        case Ops::Record:
            if (type != '{')
                return mismatch(i, ops, at);
            return record(i, target, ops->record(), at);
        case Ops::List:
            if (type != '[')
                return mismatch(i, ops, at);
            ops->reset(target);
            return list(i, target, ops, at);
        default:
            if (type != '{')
                return mismatch(i, ops, at);
            ops->reset(target);
            return map(i, target, ops, at);
        }
    }

private:
    // Well-formed values of the common types, read directly (without a step on the path) into a
    // member of the type `direct` names, or (`Optional`) into a std::optional of it: one switch,
    // without a call. False for anything else, which `ops->scalar` then reads or refuses.
    template <bool Optional>
    [[gnu::always_inline]] bool direct(std::size_t i, char type, void* member, Ops::Direct direct) {
        const auto into = [member]<class T>(T value) {
            if constexpr (Optional)
                *static_cast<std::optional<T>*>(member) = std::move(value);
            else
                *static_cast<T*>(member) = std::move(value);
            return true;
        };
        switch (direct) {
        case Ops::String:
            if (type != '"')
                return false;
            if constexpr (Optional)
                static_cast<std::optional<std::string>*>(member)->emplace(tape_.string(i));
            else
                static_cast<std::string*>(member)->assign(tape_.string(i));
            return true;
        case Ops::Text:
            if (type != '"')
                return false;
            static_cast<OptionalText*>(member)->assignPadded(tape_.string(i));
            return true;
        case Ops::Number:
            if (type == 'd')
                return into(tape_.number(i));
            if (type == 'l')
                return into(static_cast<double>(tape_.integer(i)));
            return false;
        case Ops::Integer:
            return type == 'l' && into(tape_.integer(i));
        case Ops::Time:
            if constexpr (Optional) {
                Instant instant;
                return type == '"' && readInstant(tape_.string(i), knownDays_, instant) &&
                       into(instant);
            } else {
                return type == '"' &&
                       readInstant(tape_.string(i), knownDays_, *static_cast<Instant*>(member));
            }
        case Ops::Flag:
            return (type == 't' || type == 'f') && into(type == 't');
        default:
            return false;
        }
    }
    bool direct(std::size_t i, char type, void* member, const Field& field) {
        return field.optional ? direct<true>(i, type, member, field.direct)
                              : direct<false>(i, type, member, field.direct);
    }

    std::optional<Failure> scalar(std::size_t i, char type, void* target, const Ops* ops,
                                  const Step& at) {
        if (direct<false>(i, type, target, ops->direct))
            return std::nullopt;
        Scalar v{Scalar::Null};
        switch (type) {
        case 'l':
            v = Scalar{Scalar::Integer, false, tape_.integer(i)};
            break;
        case 'u':
            v = Scalar{Scalar::Unsigned, false, 0, tape_.unsignedInteger(i)};
            break;
        case 'd':
            v = Scalar{Scalar::Float, false, 0, 0, tape_.number(i)};
            break;
        case '"':
            v = Scalar{Scalar::String, false, 0, 0, 0, tape_.string(i)};
            break;
        case 't':
        case 'f':
            v = Scalar{Scalar::Boolean, type == 't'};
            break;
        case 'n':
            break;
        default:
            return mismatch(i, ops, at);
        }
        if (auto problem = ops->scalar(target, v))
            return Failure{problem->kind, at.render(), std::move(problem->description)};
        return std::nullopt;
    }

    std::optional<Failure> record(std::size_t object, void* target, const RecordInfo& info,
                                  const Step& at) {
        const auto& fields = info.fields;
        std::uint64_t seen = 0;
        std::vector<std::pair<int, Failure>> failures;
        int index = -1;
        for (std::size_t k = object + 1, end = tape_.after(object) - 1; k < end;) {
            const std::size_t value = k + 1;
            k = tape_.after(value);
            index = info.find(tape_.string(value - 1), index);
            if (index < 0) {
                document_.limit(value, at.depth + 1);
                continue;
            }
            // A repeated key replaces the earlier value, and with it the earlier failure.
            const std::uint64_t bit = std::uint64_t{1} << index;
            seen &= ~bit;
            if (!failures.empty())
                std::erase_if(failures, [&](const auto& e) { return e.first == index; });
            const Field& field = fields[static_cast<std::size_t>(index)];
            void* member = static_cast<char*>(target) + field.offset;
            const char type = tape_.type(value);
            if (type == 'n') { // absent: required fields then count as missing
                if (field.clear)
                    field.clear(member);
                continue;
            }
            seen |= bit;
            if (direct(value, type, member, field))
                continue;
            if (field.emplace)
                member = field.emplace(member);
            auto failure = read(value, member, field.ops,
                                Step{.up = &at, .depth = at.depth + 1, .field = &field});
            if (failure)
                failures.emplace_back(index, std::move(*failure));
        }
        if (failures.empty() && (seen & info.required) == info.required)
            return std::nullopt;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            for (auto& [index, failure] : failures)
                if (index == static_cast<int>(i))
                    return std::move(failure);
            if (!fields[i].emplace && !(seen & (std::uint64_t{1} << i)))
                return Failure{Kind::KeyNotFound, at.render(fields[i].name),
                               "No value associated with key \"" + std::string(fields[i].name) +
                                   "\"."};
        }
        return std::nullopt;
    }

    std::optional<Failure> list(std::size_t array, void* target, const Ops* ops, const Step& at) {
        if (keep_)
            ops->reserve(target, tape_.count(array));
        Step step{.up = &at, .depth = at.depth + 1, .isIndex = true};
        // Lists mostly hold records: their field table is looked up once.
        const RecordInfo* records =
            ops->element->shape == Ops::Record ? &ops->element->record() : nullptr;
        std::optional<Failure> failure;
        for (std::size_t k = array + 1, end = tape_.after(array) - 1; k < end; k = tape_.after(k)) {
            if (failure) { // the outcome is known; the rest is only held to the nesting limit
                document_.limit(k, step.depth);
            } else {
                void* element = keep_ ? ops->append(target) : ops->replaceLast(target);
                failure = records && tape_.type(k) == '{' ? record(k, element, *records, step)
                                                          : read(k, element, ops->element, step);
            }
            ++step.index;
        }
        return failure;
    }

    std::optional<Failure> map(std::size_t object, void* target, const Ops* ops, const Step& at) {
        std::map<std::string, Failure, std::less<>> failures;
        for (std::size_t k = object + 1, end = tape_.after(object) - 1; k < end;) {
            const std::size_t value = k + 1;
            k = tape_.after(value);
            const std::string_view key = tape_.string(value - 1);
            void* slot = ops->slot(target, std::string(key));
            if (!failures.empty())
                if (auto found = failures.find(key); found != failures.end())
                    failures.erase(found);
            auto failure =
                read(value, slot, ops->element, Step{.up = &at, .depth = at.depth + 1, .key = key});
            if (failure)
                failures.insert_or_assign(std::string(key), std::move(*failure));
        }
        if (failures.empty())
            return std::nullopt;
        return std::move(failures.begin()->second);
    }

    // Also a value nobody reads is held to the nesting limit, even where a repeated key
    // replaces it later.
    Failure mismatch(std::size_t i, const Ops* ops, const Step& at) const {
        document_.limit(i, at.depth);
        return Failure{Kind::TypeMismatch, at.render(),
                       std::string("Expected to decode ") + ops->expected + "."};
    }

    const Document& document_;
    Tape tape_;
    bool keep_;
    KnownDays knownDays_;
};

// `owned`, the text's own string if it was given away, is freed once the text is parsed.
template <class T>
T read(std::string_view text, bool padded, bool keepLists, std::string* owned = nullptr) {
    T result{};
    {
        const Document document(text, padded);
        if (owned)
            std::string().swap(*owned);
        Reader reader(document, keepLists);
        // The root's step renders as the empty path.
        const Step root{.key = {}};
        if (auto failure = reader.read(Document::rootIndex, &result, opsOf<T>(), root)) {
            // Nesting beyond the limit anywhere in the text comes first.
            document.limit(Document::rootIndex, 0);
            throw DecodingError(failure->kind, failure->path, failure->description);
        }
    }
    return result;
}

json tree(dom::element e) {
    switch (e.type()) {
    case dom::element_type::ARRAY: {
        json out = json::array();
        dom::array array;
        [[maybe_unused]] const auto error = e.get(array);
        for (dom::element child : array)
            out.push_back(tree(child));
        return out;
    }
    case dom::element_type::OBJECT: {
        json out = json::object();
        dom::object object;
        [[maybe_unused]] const auto error = e.get(object);
        for (dom::key_value_pair field : object)
            out[std::string(field.key)] = tree(field.value);
        return out;
    }
    case dom::element_type::INT64: {
        // Read as nlohmann/json reads text: non-negative integers are unsigned.
        const std::int64_t v = e.get_int64().value_unsafe();
        return v >= 0 ? json(static_cast<std::uint64_t>(v)) : json(v);
    }
    case dom::element_type::UINT64:
        return e.get_uint64().value_unsafe();
    case dom::element_type::DOUBLE:
        return e.get_double().value_unsafe();
    case dom::element_type::STRING:
        return std::string(e.get_string().value_unsafe());
    case dom::element_type::BOOL:
        return e.get_bool().value_unsafe();
    default:
        return nullptr;
    }
}

// Whether a string's buffer has the spare bytes to be parsed where it is.
bool hasPadding(const std::string& text) {
    return text.capacity() - text.size() >= Wire::padding;
}

// `owned`, the text's string if it was given away, is freed once parsed; the view keeps its size.
template <class T> T decodeText(std::string_view text, bool padded, std::string* owned) {
    T result = read<T>(text, padded, true, owned);
    giveBackMemory(text.size());
    return result;
}

} // namespace

namespace Wire {

template <class T> T decode(std::string_view text) {
    return decodeText<T>(text, false, nullptr);
}

template <class T, class S>
requires std::same_as<S, std::string> T decode(const S& text) {
    return decodeText<T>(text, hasPadding(text), nullptr);
}

template <class T, class S>
requires std::same_as<S, std::string> T decode(S&& text) {
    return decodeText<T>(text, hasPadding(text), &text);
}

template <class T> T check(std::string_view text) {
    return read<T>(text, false, false);
}

template <class T, class S>
requires std::same_as<S, std::string> T check(const S& text) {
    return read<T>(text, hasPadding(text), false);
}

json parse(std::string_view text) {
    const Document document(text);
    document.limit(Document::rootIndex, 0);
    return tree(document.root());
}

template Snapshot check<Snapshot>(std::string_view);
template Snapshot check<Snapshot>(const std::string&);

template QuotaWindow decode<QuotaWindow>(std::string_view);
template Quota decode<Quota>(std::string_view);
template QuotaEnvelope decode<QuotaEnvelope>(std::string_view);
template UsagePoint decode<UsagePoint>(std::string_view);
template UsageGroup decode<UsageGroup>(std::string_view);
template Usage decode<Usage>(std::string_view);
template Snapshot decode<Snapshot>(std::string_view);
template WidgetPreferences decode<WidgetPreferences>(std::string_view);
template QuotaWindow decode<QuotaWindow>(const std::string&);
template Quota decode<Quota>(const std::string&);
template QuotaEnvelope decode<QuotaEnvelope>(const std::string&);
template UsagePoint decode<UsagePoint>(const std::string&);
template UsageGroup decode<UsageGroup>(const std::string&);
template Usage decode<Usage>(const std::string&);
template Snapshot decode<Snapshot>(const std::string&);
template WidgetPreferences decode<WidgetPreferences>(const std::string&);
template QuotaWindow decode<QuotaWindow>(std::string&&);
template Quota decode<Quota>(std::string&&);
template QuotaEnvelope decode<QuotaEnvelope>(std::string&&);
template UsagePoint decode<UsagePoint>(std::string&&);
template UsageGroup decode<UsageGroup>(std::string&&);
template Usage decode<Usage>(std::string&&);
template Snapshot decode<Snapshot>(std::string&&);
template WidgetPreferences decode<WidgetPreferences>(std::string&&);

} // namespace Wire

} // namespace tessel
