// An optional text in 16 bytes, for the many optional texts of the records: a text of up to 15
// bytes is held inline, a longer one in a heap block of exactly its size. Used as
// std::optional<std::string> is, except that `*` and `->` give a std::string_view.
#pragma once

#include <bit>
#include <compare>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tessel {

// The mask that keeps the first `bytes` of a little-endian word read at a text (all of it from 8).
constexpr std::uint64_t keptBytes(std::size_t bytes) {
    return bytes >= 8 ? ~std::uint64_t{0} : bytes ? ~std::uint64_t{0} >> (64 - 8 * bytes) : 0;
}

class OptionalText {
public:
    OptionalText() noexcept = default;
    OptionalText(std::nullopt_t) noexcept {}
    template <class S>
    requires std::convertible_to<const S&, std::string_view> OptionalText(const S& text) {
        assign(std::string_view(text));
    }
    OptionalText(const std::optional<std::string>& text) {
        if (text)
            assign(*text);
    }

    OptionalText(const OptionalText& other) {
        if (other.onHeap())
            assign(*other);
        else
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
    OptionalText(OptionalText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        std::memset(other.bytes_, 0, sizeof bytes_);
    }
    OptionalText& operator=(const OptionalText& other) {
        if (this != &other) {
            OptionalText copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    OptionalText& operator=(OptionalText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            std::memset(other.bytes_, 0, sizeof bytes_);
        }
        return *this;
    }
    ~OptionalText() { release(); }

    bool has_value() const noexcept { return tag() != absent; }
    explicit operator bool() const noexcept { return has_value(); }

    // Only when present.
    std::string_view operator*() const noexcept {
        if (onHeap()) {
            const char* data;
            std::memcpy(&data, bytes_, sizeof data);
            return {data, heapSize()};
        }
        return {reinterpret_cast<const char*>(bytes_), static_cast<std::size_t>(tag() - 1)};
    }
    struct Arrow {
        std::string_view text;
        const std::string_view* operator->() const noexcept { return &text; }
    };
    Arrow operator->() const noexcept { return {**this}; }

    std::string_view value() const {
        if (!has_value())
            throw std::bad_optional_access();
        return **this;
    }
    std::string value_or(std::string_view fallback) const {
        return std::string(has_value() ? **this : fallback);
    }

    void reset() noexcept {
        release();
        std::memset(bytes_, 0, sizeof bytes_);
    }
    // Replaces the value with a copy of `text`, which may be this very value's.
    void assign(std::string_view text) {
        unsigned char next[sizeof bytes_]{};
        if (text.size() < sizeof bytes_) {
            std::memcpy(next, text.data(), text.size());
            next[sizeof next - 1] = static_cast<unsigned char>(text.size() + 1);
        } else {
            char* data = static_cast<char*>(::operator new(text.size()));
            std::memcpy(data, text.data(), text.size());
            const std::uint64_t size = text.size() | (std::uint64_t{heap} << 56);
            std::memcpy(next, &data, sizeof data);
            std::memcpy(next + sizeof data, &size, sizeof size);
        }
        release();
        std::memcpy(bytes_, next, sizeof bytes_);
    }

    // The same for a text followed by readable bytes up to at least its 16th (a JSON reader's
    // string buffer): a short one is taken as two masked words, without a call.
    void assignPadded(std::string_view text) {
        if (text.size() >= sizeof bytes_ || onHeap()) {
            assign(text);
            return;
        }
        std::uint64_t words[2];
        std::memcpy(words, text.data(), sizeof words);
        words[0] &= keptBytes(text.size());
        words[1] &= keptBytes(text.size() > 8 ? text.size() - 8 : 0);
        words[1] |= static_cast<std::uint64_t>(text.size() + 1) << 56;
        std::memcpy(bytes_, words, sizeof bytes_);
    }

    friend bool operator==(const OptionalText& a, const OptionalText& b) noexcept {
        return a.has_value() == b.has_value() && (!a || *a == *b);
    }
    template <class S>
    requires std::convertible_to<const S&, std::string_view>
    friend bool operator==(const OptionalText& a, const S& b) noexcept {
        return a && *a == std::string_view(b);
    }
    friend bool operator==(const OptionalText& a, std::nullopt_t) noexcept { return !a; }
    // As std::optional orders: absent first.
    friend std::strong_ordering operator<=>(const OptionalText& a, const OptionalText& b) noexcept {
        if (!a || !b)
            return a.has_value() <=> b.has_value();
        return *a <=> *b;
    }

private:
    static_assert(std::endian::native == std::endian::little);
    // The last byte: 0 absent, 1 + size inline, `heap` for a pointer and a 56-bit size.
    static constexpr unsigned char absent = 0;
    static constexpr unsigned char heap = 0x80;

    unsigned char tag() const noexcept { return bytes_[sizeof bytes_ - 1]; }
    bool onHeap() const noexcept { return tag() == heap; }
    std::size_t heapSize() const noexcept {
        std::uint64_t size;
        std::memcpy(&size, bytes_ + sizeof(char*), sizeof size);
        return static_cast<std::size_t>(size & 0x00FF'FFFF'FFFF'FFFF);
    }
    void release() noexcept {
        if (onHeap()) {
            char* data;
            std::memcpy(&data, bytes_, sizeof data);
            ::operator delete(data);
        }
    }

    alignas(8) unsigned char bytes_[16]{};
};

static_assert(sizeof(OptionalText) == 16);

} // namespace tessel
