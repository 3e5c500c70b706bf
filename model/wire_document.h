// The text of a JSON document, checked whole by simdjson's DOM parser, and its tape, read
// directly. Internal to the reader (wire_read.cpp).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include <simdjson.h>

namespace tessel::wire {

// Deeper than any record goes; keeps a hostile document from costing gigabytes of nodes.
inline constexpr std::size_t maxDepth = 256;
// Documents at least this large get a parser of their own, freed with them; smaller ones share
// the kept parsers.
inline constexpr std::size_t largeDocument = 1u << 20;

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

struct Parser;

// The text, checked whole: valid JSON nested no deeper than the limit, else DecodingError
// (data corrupted, empty path).
class Document {
public:
    // `padded`: the text's buffer has Wire::padding readable bytes after it, and is parsed
    // where it is.
    explicit Document(std::string_view text, bool padded = false);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    simdjson::dom::element root() const { return root_; }
    Tape tape() const;
    // The root value's index on the tape.
    static constexpr std::size_t rootIndex = 1;

    // Called with `depth` containers above the value at `i`: refuses the text if the value goes
    // beyond the limit. Needs only the tape: the text may be gone.
    void limit(std::size_t i, std::size_t depth) const;

private:
    void release();

    std::size_t size_;
    std::unique_ptr<Parser> parser_;
    simdjson::dom::element root_;
};

} // namespace tessel::wire
