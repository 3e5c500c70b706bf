// Reading a JSON text with simdjson exactly as a strict reader that reads the text in order
// would: the same texts accepted, the same failure for the others.
#include "wire_document.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <charconv>
#include <mutex>
#include <string>
#include <vector>

#include "wire.h"

namespace tessel::wire {

namespace {

namespace dom = simdjson::dom;
using Kind = DecodingError::Kind;

// simdjson's own limit, above ours: it counts an object one level deeper than an array.
constexpr std::size_t parserDepth = 2 * maxDepth;

constexpr std::string_view notJson = "The given data was not valid JSON.";
constexpr std::string_view tooDeep = "The given data is nested too deeply.";

[[noreturn]] void corrupted(std::string_view description) {
    throw DecodingError(Kind::DataCorrupted, "", std::string(description));
}

} // namespace

static_assert(Wire::padding >= simdjson::SIMDJSON_PADDING);

// A parser and the padded copy of the text it reads.
struct Parser {
    dom::parser parser{};
    dom::document document{};
    std::unique_ptr<char[]> buffer{};
    std::size_t capacity = 0;

    simdjson::error_code parse(std::string_view text, bool padded, dom::element& root) {
        if (!padded) {
            if (capacity < text.size() + simdjson::SIMDJSON_PADDING) {
                capacity = text.size() + simdjson::SIMDJSON_PADDING;
                buffer = std::make_unique_for_overwrite<char[]>(capacity);
            }
            std::memcpy(buffer.get(), text.data(), text.size());
            std::memset(buffer.get() + text.size(), 0, simdjson::SIMDJSON_PADDING);
            text = {buffer.get(), text.size()};
        }
        if (parser.max_depth() != parserDepth) {
            if (const auto error =
                    parser.allocate(std::max<std::size_t>(text.size(), 64), parserDepth))
                return error;
        }
        return parser.parse_into_document(document, text.data(), text.size(), false).get(root);
    }

    // Only the document is read after parsing: the copy of the text and the parser's own
    // buffers go, so that a large document does not keep them while its records are made.
    void keepOnlyDocument() {
        buffer.reset();
        capacity = 0;
        parser = dom::parser{};
    }
};

namespace {

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

simdjson::error_code parseText(Parser& parser, std::string_view text, bool padded,
                               dom::element& root) {
    // A byte order mark is allowed before the text, and only there. A NUL byte ends the text,
    // as it does a C string.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    text = text.substr(0, text.find('\0'));
    auto error = parser.parse(text, padded, root);
    if (error == simdjson::NUMBER_ERROR) {
        const std::string widened = widenIntegers(text);
        if (!widened.empty())
            error = parser.parse(widened, false, root);
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
                corrupted(parseText(parser, prefix, false, root) ? notJson : tooDeep);
            }
            closers += c == '[' ? ']' : '}';
        } else if ((c == ']' || c == '}') && !closers.empty()) {
            closers.pop_back();
        }
    }
    corrupted(notJson);
}

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
    // Whether there was anything to free.
    static bool clear() {
        std::vector<std::unique_ptr<Parser>> freed;
        {
            Pool& pool = instance();
            const std::lock_guard lock(pool.mutex_);
            freed.swap(pool.free_);
        }
        return !freed.empty();
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

} // namespace

Document::Document(std::string_view text, bool padded)
    : size_(text.size()),
      parser_(text.size() < largeDocument ? Pool::take() : std::make_unique<Parser>()) {
    // A small text is copied all the same: into the kept parser's buffer, which is warm. Read in
    // place, the caller's buffer is the only one of its size, and glibc hands the heap top back
    // and faults it in again on every read of a file.
    if (parseText(*parser_, text, padded && text.size() >= largeDocument, root_)) {
        release();
        refuse(text);
    }
    if (text.size() >= largeDocument)
        parser_->keepOnlyDocument();
}

Document::~Document() {
    release();
}

Tape Document::tape() const {
    return {parser_->document.tape.get(), parser_->document.string_buf.get()};
}

void Document::limit(std::size_t i, std::size_t depth) const {
    // The text parsed, so it is JSON: the first failure a strict reader meets is the depth.
    if (depth > maxDepth || tape().deeper(i, maxDepth - depth))
        corrupted(tooDeep);
}

void Document::release() {
    if (parser_ && size_ < largeDocument)
        Pool::give(std::move(parser_));
    parser_.reset();
}

} // namespace tessel::wire

namespace tessel::Wire {

void releaseKeptParsers() {
    [[maybe_unused]] const bool freed = wire::Pool::clear();
#ifdef __GLIBC__
    if (freed)
        malloc_trim(0);
#endif
}

} // namespace tessel::Wire
