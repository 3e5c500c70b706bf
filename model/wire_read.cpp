// The one reader of JSON text: simdjson's DOM parser checks the whole text, then the records are
// read from its tape. Its outcomes are those of a strict parser that reads the text in order.
#include <atomic>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>

#include <malloc.h>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "wire_fields.h"

namespace tessel {

namespace {

using namespace wire;
using json = nlohmann::json;
namespace dom = simdjson::dom;

// Deeper than any record goes; keeps a hostile document from costing gigabytes of nodes.
constexpr std::size_t maxDepth = 256;
// simdjson's own limit, above ours: it counts an object one level deeper than an array.
constexpr std::size_t parserDepth = 2 * maxDepth;
// Decodes at least this large end by giving their freed memory back to the system; smaller ones
// reuse the thread's parser.
constexpr std::size_t largeDocument = 1u << 20;
// Free heap beyond this after a decode is what an earlier large answer left behind.
constexpr std::size_t idleFreeHeap = 8u << 20;

constexpr std::string_view notJson = "The given data was not valid JSON.";
constexpr std::string_view tooDeep = "The given data is nested too deeply.";

[[noreturn]] void corrupted(std::string_view description) {
    throw DecodingError(Kind::DataCorrupted, "", std::string(description));
}

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

// A parser and the padded copy of the text it reads.
struct Parser {
    dom::parser parser{};
    dom::document document{};
    std::unique_ptr<char[]> buffer{};
    std::size_t capacity = 0;

    simdjson::error_code parse(std::string_view text, dom::element& root) {
        if (capacity < text.size() + simdjson::SIMDJSON_PADDING) {
            capacity = text.size() + simdjson::SIMDJSON_PADDING;
            buffer = std::make_unique_for_overwrite<char[]>(capacity);
        }
        std::memcpy(buffer.get(), text.data(), text.size());
        std::memset(buffer.get() + text.size(), 0, simdjson::SIMDJSON_PADDING);
        if (parser.max_depth() != parserDepth) {
            if (const auto error =
                    parser.allocate(std::max<std::size_t>(text.size(), 64), parserDepth))
                return error;
        }
        return parser.parse_into_document(document, buffer.get(), text.size(), false).get(root);
    }
};

bool fitsInteger(std::string_view digits) {
    std::int64_t s;
    std::uint64_t u;
    const char* first = digits.data();
    const char* last = first + digits.size();
    return std::from_chars(first, last, s).ec == std::errc{} ||
           std::from_chars(first, last, u).ec == std::errc{};
}

// Integers beyond the 64-bit range are numbers like any other, read as the nearest double;
// simdjson refuses them, so they are rewritten as decimal fractions. Empty when there are none.
std::string widenIntegers(std::string_view text) {
    std::string out;
    std::size_t copied = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (inString) {
            inString = c == '\\' || c != '"';
            i += c == '\\' ? 2 : 1;
            continue;
        }
        const bool minus = c == '-';
        if (!minus && (c < '0' || c > '9')) {
            inString = c == '"';
            ++i;
            continue;
        }
        std::size_t end = i + minus;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        const bool integer =
            end == text.size() || (text[end] != '.' && text[end] != 'e' && text[end] != 'E');
        if (integer && end - i - minus >= 19 && !fitsInteger(text.substr(i, end - i))) {
            out.append(text.substr(copied, end - copied));
            out += ".0";
            copied = end;
        }
        i = end;
    }
    if (copied == 0)
        return {};
    out.append(text.substr(copied));
    return out;
}

simdjson::error_code parseText(Parser& parser, std::string_view text, dom::element& root) {
    // A byte order mark is allowed before the text, and only there. A NUL byte ends the text,
    // as it does a C string.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    text = text.substr(0, text.find('\0'));
    auto error = parser.parse(text, root);
    if (error == simdjson::NUMBER_ERROR) {
        const std::string widened = widenIntegers(text);
        if (!widened.empty())
            error = parser.parse(widened, root);
    }
    return error;
}

// Which failure a strict reader reading in order meets first in text simdjson refused (or
// found nested too deeply): "too deep" when everything up to the first bracket beyond the
// limit is a valid beginning, tested by ending the text there with a number and the closing
// brackets.
[[noreturn]] void refuse(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::string closers;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else
                inString = c != '"';
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (closers.size() == maxDepth) {
                std::string prefix(text.substr(0, i));
                prefix += " 0";
                prefix.append(closers.rbegin(), closers.rend());
                Parser parser;
                dom::element root;
                corrupted(parseText(parser, prefix, root) ? notJson : tooDeep);
            }
            closers += c == '[' ? ']' : '}';
        } else if ((c == ']' || c == '}') && !closers.empty()) {
            closers.pop_back();
        }
    }
    corrupted(notJson);
}

// simdjson's tape, read directly: one 64-bit word per value (type in the top byte), two for
// numbers; containers hold the index after their end and their element count.
struct Tape {
    const std::uint64_t* words;
    const std::uint8_t* strings;

    char type(std::size_t i) const { return static_cast<char>(words[i] >> 56); }
    std::uint64_t payload(std::size_t i) const { return words[i] & 0x00FF'FFFF'FFFF'FFFF; }
    // The index after the value at `i`.
    std::size_t after(std::size_t i) const {
        switch (type(i)) {
        case '[':
        case '{':
            return static_cast<std::uint32_t>(words[i]);
        case 'l':
        case 'u':
        case 'd':
            return i + 2;
        default:
            return i + 1;
        }
    }
    // Elements of an array, key-value pairs of an object (saturated at 2^24 - 1).
    std::size_t count(std::size_t i) const { return (payload(i) >> 32) & 0xFF'FFFF; }
    std::string_view string(std::size_t i) const {
        const std::uint8_t* at = strings + payload(i);
        std::uint32_t length;
        std::memcpy(&length, at, sizeof length);
        return {reinterpret_cast<const char*>(at + sizeof length), length};
    }
    std::int64_t integer(std::size_t i) const { return static_cast<std::int64_t>(words[i + 1]); }
    std::uint64_t unsignedInteger(std::size_t i) const { return words[i + 1]; }
    double number(std::size_t i) const {
        double d;
        std::memcpy(&d, &words[i + 1], sizeof d);
        return d;
    }

    // Whether the value at `i` holds containers nested deeper than `room` levels.
    bool deeper(std::size_t i, std::size_t room) const {
        std::size_t depth = 0;
        for (std::size_t k = i, end = after(i); k < end;) {
            const char t = type(k);
            if (t == '[' || t == '{') {
                if (++depth > room)
                    return true;
            } else if (t == ']' || t == '}') {
                --depth;
            }
            k += t == 'l' || t == 'u' || t == 'd' ? 2 : 1;
        }
        return false;
    }
};

// Parsers kept for small documents, shared by the threads. Never destroyed: a program may end
// (exit() from a library, or main returning) while a worker thread still decodes.
class Pool {
public:
    static std::unique_ptr<Parser> take() {
        Pool& pool = instance();
        const std::lock_guard lock(pool.mutex_);
        if (pool.free_.empty())
            return std::make_unique<Parser>();
        auto parser = std::move(pool.free_.back());
        pool.free_.pop_back();
        return parser;
    }
    static void give(std::unique_ptr<Parser> parser) {
        Pool& pool = instance();
        const std::lock_guard lock(pool.mutex_);
        if (pool.free_.size() < kept)
            pool.free_.push_back(std::move(parser));
    }

private:
    static constexpr std::size_t kept = 4;
    static Pool& instance() {
        static Pool& pool = *new Pool;
        return pool;
    }
    std::mutex mutex_;
    std::vector<std::unique_ptr<Parser>> free_;
};

// The text, checked whole: valid JSON nested no deeper than the limit. A large document gets a
// parser of its own, freed with it.
class Document {
public:
    explicit Document(std::string_view text)
        : text_(text),
          parser_(text.size() < largeDocument ? Pool::take() : std::make_unique<Parser>()) {
        if (parseText(*parser_, text, root_)) {
            release();
            refuse(text);
        }
    }
    ~Document() { release(); }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    dom::element root() const { return root_; }
    Tape tape() const { return {parser_->document.tape.get(), parser_->document.string_buf.get()}; }
    // The root value's index on the tape.
    static constexpr std::size_t rootIndex = 1;

    // Called with `depth` containers above the value at `i`: refuses the text if the value goes
    // beyond the limit.
    void limit(std::size_t i, std::size_t depth) const {
        if (depth > maxDepth || tape().deeper(i, maxDepth - depth))
            refuse(text_);
    }

private:
    void release() {
        if (parser_ && text_.size() < largeDocument)
            Pool::give(std::move(parser_));
        parser_.reset();
    }

    std::string_view text_;
    std::unique_ptr<Parser> parser_;
    dom::element root_;
};

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
    std::optional<Failure> scalar(std::size_t i, char type, void* target, const Ops* ops,
                                  const Step& at) {
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
            if (tape_.type(value) == 'n') { // absent: required fields then count as missing
                if (field.clear)
                    field.clear(member);
                continue;
            }
            seen |= bit;
            auto failure = read(value, field.emplace ? field.emplace(member) : member, field.ops,
                                Step{.up = &at, .depth = at.depth + 1, .field = &field});
            if (failure)
                failures.emplace_back(index, std::move(*failure));
        }
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
        std::optional<Failure> failure;
        for (std::size_t k = array + 1, end = tape_.after(array) - 1; k < end; k = tape_.after(k)) {
            if (failure) // the outcome is known; the rest is only held to the nesting limit
                document_.limit(k, step.depth);
            else
                failure = read(k, keep_ ? ops->append(target) : ops->replaceLast(target),
                               ops->element, step);
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
};

template <class T> T read(std::string_view text, bool keepLists) {
    T result{};
    {
        const Document document(text);
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

} // namespace

namespace Wire {

template <class T> T decode(std::string_view text) {
    T result = read<T>(text, true);
    giveBackMemory(text.size());
    return result;
}

template <class T> T check(std::string_view text) {
    return read<T>(text, false);
}

json parse(std::string_view text) {
    const Document document(text);
    document.limit(Document::rootIndex, 0);
    return tree(document.root());
}

template Snapshot check<Snapshot>(std::string_view);

template QuotaWindow decode<QuotaWindow>(std::string_view);
template Quota decode<Quota>(std::string_view);
template QuotaEnvelope decode<QuotaEnvelope>(std::string_view);
template UsagePoint decode<UsagePoint>(std::string_view);
template UsageGroup decode<UsageGroup>(std::string_view);
template Usage decode<Usage>(std::string_view);
template Snapshot decode<Snapshot>(std::string_view);
template WidgetPreferences decode<WidgetPreferences>(std::string_view);

} // namespace Wire

} // namespace tessel
