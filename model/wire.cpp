#include "wire.h"

#include <array>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>

#include <nlohmann/json.hpp>

#include "wire_fields.h"

namespace tessel {

DecodingError::DecodingError(Kind kind, std::string codingPath, std::string description)
    : std::runtime_error(codingPath.empty() ? description : codingPath + ": " + description),
      kind_(kind), path_(std::move(codingPath)), description_(std::move(description)) {}

namespace {

using ojson = nlohmann::ordered_json;
using wire::fields;

// Encoded text handed to a writer in pieces of about this size.
constexpr std::size_t piece = 256u << 10;

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

// "00" to "99": digits are written two at a time.
constexpr auto digitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * static_cast<std::size_t>(i)] = static_cast<char>('0' + i / 10);
        pairs[2 * static_cast<std::size_t>(i) + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// `width` decimal digits of `v`, zero-padded.
char* fixed(char* out, std::uint64_t v, int width) {
    char* at = out + width;
    for (; at - out >= 2; v /= 100)
        std::memcpy(at -= 2, &digitPairs[2 * (v % 100)], 2);
    if (at != out)
        *out = static_cast<char>('0' + v % 10);
    return out + width;
}

// HH:MM:SS of a second of the day.
char* writeTime(char* out, std::int64_t secondOfDay) {
    const auto second = static_cast<unsigned>(secondOfDay);
    const unsigned minute = second / 60;
    std::memcpy(out, &digitPairs[2 * (minute / 60)], 2);
    out[2] = ':';
    std::memcpy(out + 3, &digitPairs[2 * (minute % 60)], 2);
    out[5] = ':';
    std::memcpy(out + 6, &digitPairs[2 * (second % 60)], 2);
    return out + 8;
}

// YYYY-MM-DD of a day since 1970-01-01; every Instant's year has four digits.
char* writeDate(char* out, std::int64_t day) {
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(day))};
    out = fixed(out, static_cast<std::uint64_t>(static_cast<int>(date.year())), 4);
    *out++ = '-';
    out = fixed(out, static_cast<unsigned>(date.month()), 2);
    *out++ = '-';
    return fixed(out, static_cast<unsigned>(date.day()), 2);
}

// Whole seconds floored, as the day and the second within it.
std::pair<std::int64_t, std::int64_t> dayAndSecond(Instant instant) {
    const std::int64_t secs =
        std::chrono::floor<std::chrono::seconds>(instant).time_since_epoch().count();
    std::int64_t day = secs / 86400, second = secs % 86400;
    if (second < 0)
        second += 86400, --day;
    return {day, second};
}

// YYYY-MM-DDTHH:MM:SSZ, whole seconds floored.
char* writeInstant(char* out, Instant instant) {
    const auto [day, second] = dayAndSecond(instant);
    out = writeDate(out, day);
    *out++ = 'T';
    out = writeTime(out, second);
    *out++ = 'Z';
    return out;
}

// The text nlohmann/json's serializer gives a positive `v` (its shortest digits that read back,
// printf "%g"-like), for a value that is a decimal of at most 14 significant digits, from 1e-4 on
// and with at most 10 decimals; nullptr for any other value. Such a decimal S is the only one of
// so few digits within half a unit in the last place of `v` (neighbouring ones are more than a
// unit apart), so the serializer finds it too, as long as S lies inside its interval, which it
// narrows by a few units of 2^-63 of the value (a double's unit is 2^-52): S is taken only when
// at most 0.45 of the gap to a neighbour away, a margin of at least 2^-57 of the value.
char* shortDecimal(char* out, double v) {
    static constexpr std::array<std::uint64_t, 11> powers{
        1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000};
    if (!(v >= 1e-4 && v < 1e14))
        return nullptr;
    // As many decimals as keep 14 digits: S has at most these, and v scaled by them is then
    // close to a whole number.
    int places = 10;
    while (v * static_cast<double>(powers[static_cast<std::size_t>(places)]) >= 1e14)
        --places;
    const auto scale = static_cast<double>(powers[static_cast<std::size_t>(places)]);
    const double scaled = v * scale;
    auto m = static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled + 0.5));
    // Farther from a whole number than any S taken can be.
    if (std::fabs(scaled - static_cast<double>(m)) > scaled * 0x1p-50)
        return nullptr;
    // scale * (v - S), rounded once, against the gap to the neighbour on S's side.
    const double error = std::fma(v, scale, -static_cast<double>(m));
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const double gap =
        error > 0 ? v - std::bit_cast<double>(bits - 1) : std::bit_cast<double>(bits + 1) - v;
    if (!(std::fabs(error) < scale * gap * 0.45))
        return nullptr;
    // Trailing zeros off, by halves: most values have far fewer decimals than taken.
    for (const int zeros : {8, 4, 2, 1}) {
        const std::uint64_t power = powers[static_cast<std::size_t>(zeros)];
        if (places >= zeros && m % power == 0)
            m /= power, places -= zeros;
    }
    const std::uint64_t unit = powers[static_cast<std::size_t>(places)];
    const std::uint64_t whole = m / unit;
    // The serializer's limit: at most three zeros after the point before the digits.
    if (whole == 0 && m * 10000 < unit)
        return nullptr;
    out = std::to_chars(out, out + 16, whole).ptr;
    if (places == 0) {
        std::memcpy(out, ".0", 2);
        return out + 2;
    }
    *out++ = '.';
    return fixed(out, m % unit, places);
}

// Writes through a raw pointer: each field first makes room for all it may write. Handed over in
// pieces, the text goes to a buffer of a piece and a large record, never filled with zeros.
struct Encoder {
    // Texts that are not UTF-8: replaced, or (strict) a json type_error.
    bool strict = false;
    // Given: the text is handed over in pieces instead of growing to the whole text.
    const Wire::Write* const write;

    explicit Encoder(const Wire::Write* to = nullptr) : write(to) {
        grow(write ? piece + (64u << 10) : 0);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    std::string_view text() const { return {begin_, at_}; }
    std::string take() {
        out_.resize(static_cast<std::size_t>(at_ - begin_));
        return std::move(out_);
    }

    template <class R>
    requires requires(Encoder& e, const R& r) { fields(e, r); }
    void put(const R& record) {
        room(2);
        *at_++ = '{';
        first_ = true;
        fields(*this, record);
        room(1);
        *at_++ = '}';
        first_ = false;
        if (write && static_cast<std::size_t>(at_ - begin_) >= piece) {
            (*write)(text());
            at_ = begin_;
        }
    }

    template <class T> void operator()(const char* key, const T& value) {
        if constexpr (std::is_same_v<T, std::string>) {
            textField(key, value);
        } else {
            const std::size_t length = std::char_traits<char>::length(key); // our own: ASCII
            room(length + scalarRoom);
            this->key(key, length);
            put(value);
        }
    }
    template <class T> void operator()(const char* key, const std::optional<T>& value) {
        if (value)
            (*this)(key, *value);
    }
    void operator()(const char* key, const OptionalText& value) {
        if (value)
            textField(key, *value);
    }

private:
    // The most a field's key and punctuation take besides the value, and then the most a
    // number, an integer, a boolean or an instant takes.
    static constexpr std::size_t scalarRoom = 8 + 32;

    std::string out_;                // when the text is given back whole
    std::unique_ptr<char[]> pieces_; // when it is handed over in pieces
    char* begin_ = nullptr;
    char* at_ = nullptr;
    char* end_ = nullptr;
    bool first_ = false;
    // The day of the last instant written and its "YYYY-MM-DD": a snapshot's instants mostly
    // share a few days.
    std::int64_t day_ = std::numeric_limits<std::int64_t>::min();
    std::array<char, 10> date_{};

    void room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - at_) < n)
            grow(n);
    }
    void grow(std::size_t n) {
        const auto used = static_cast<std::size_t>(at_ - begin_);
        const std::size_t size =
            std::max(static_cast<std::size_t>(end_ - begin_) * 2, used + n + 1024);
        if (write) {
            std::unique_ptr<char[]> next(new char[size]);
            if (used)
                std::memcpy(next.get(), begin_, used);
            pieces_ = std::move(next);
            begin_ = pieces_.get();
        } else {
            out_.resize(size);
            begin_ = out_.data();
        }
        at_ = begin_ + used;
        end_ = begin_ + size;
    }
    void key(const char* name, std::size_t length) {
        if (!first_)
            *at_++ = ',';
        first_ = false;
        *at_++ = '"';
        std::memcpy(at_, name, length);
        at_ += length;
        *at_++ = '"';
        *at_++ = ':';
    }
    // Room for a plain text is made with the key's; an escaped one makes its own.
    void textField(const char* name, std::string_view value) {
        const std::size_t length = std::char_traits<char>::length(name);
        room(length + value.size() + 6);
        key(name, length);
        put(value);
    }
    // Room for v and its quotes is made.
    void quoted(std::string_view v) {
        *at_++ = '"';
        std::memcpy(at_, v.data(), v.size());
        at_ += v.size();
        *at_++ = '"';
    }

    // Each of these is called with room for the value made, except lists and maps.
    void put(std::string_view v) {
        if (plainText(v)) {
            room(v.size() + 2);
            quoted(v);
            return;
        }
        const std::string escaped =
            ojson(std::string(v))
                .dump(-1, ' ', false,
                      strict ? ojson::error_handler_t::strict : ojson::error_handler_t::replace);
        room(escaped.size());
        std::memcpy(at_, escaped.data(), escaped.size());
        at_ += escaped.size();
    }
    void put(const std::string& v) { put(std::string_view(v)); }
    // The shortest text that reads back, as nlohmann/json's serializer writes it ("2.0",
    // "1e-05"; null for what JSON cannot hold), without making a JSON value per number.
    void put(double v) {
        if (!std::isfinite(v)) {
            std::memcpy(at_, "null", 4);
            at_ += 4;
            return;
        }
        char* out = at_;
        if (std::signbit(v))
            *out++ = '-', v = -v;
        if (char* end = shortDecimal(out, v)) {
            at_ = end;
            return;
        }
        at_ = nlohmann::detail::to_chars(out, end_, v);
    }
    void put(std::int64_t v) { at_ = std::to_chars(at_, end_, v).ptr; }
    void put(bool v) {
        std::memcpy(at_, v ? "true" : "false", 5);
        at_ += v ? 4 : 5;
    }
    void put(Instant v) {
        const auto [day, second] = dayAndSecond(v);
        if (day != day_) {
            writeDate(date_.data(), day);
            day_ = day;
        }
        *at_++ = '"';
        std::memcpy(at_, date_.data(), date_.size());
        at_ += date_.size();
        *at_++ = 'T';
        at_ = writeTime(at_, second);
        std::memcpy(at_, "Z\"", 2);
        at_ += 2;
    }
    template <class T> void put(const std::vector<T>& list) {
        room(2);
        *at_++ = '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            if constexpr (std::is_same_v<T, std::string>) {
                room(list[i].size() + 3);
            } else {
                room(scalarRoom);
            }
            if (i)
                *at_++ = ',';
            put(list[i]);
        }
        room(1);
        *at_++ = ']';
    }
    template <class T> void put(const std::map<std::string, T>& map) {
        room(2);
        *at_++ = '{';
        bool first = true;
        for (const auto& [key, value] : map) {
            room(key.size() + 4);
            if (!first)
                *at_++ = ',';
            first = false;
            put(key);
            room(scalarRoom);
            *at_++ = ':';
            put(value);
        }
        room(1);
        *at_++ = '}';
    }
};

// Two decimal digits at `at`; false unless both are digits.
bool twoDigits(const char* s, int& out) {
    const unsigned a = static_cast<unsigned char>(s[0]) - '0';
    const unsigned b = static_cast<unsigned char>(s[1]) - '0';
    out = static_cast<int>(a * 10 + b);
    return a < 10 && b < 10;
}

// Days from 1970-01-01 to a valid date of the years 0 to 9999 (proleptic Gregorian). Counted
// from year -400 in unsigned arithmetic: the divisions by constants become multiplications.
std::int64_t daysFromCivil(int year, int m, int d) {
    const unsigned y = static_cast<unsigned>(year) + 400 - (m <= 2);
    const unsigned era = y / 400;
    const unsigned yearOfEra = y - era * 400;
    const unsigned dayOfYear =
        (153 * static_cast<unsigned>(m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return std::int64_t{era} * 146097 + dayOfEra - 719468 - 146097;
}

int daysInMonth(int year, int m) {
    const unsigned y = static_cast<unsigned>(year);
    if (m == 2)
        return (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 29 : 28;
    return m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31;
}

} // namespace

namespace wire {

// YYYY-MM-DDTHH:MM:SS[.f+](Z|±HH:MM), upper-case T and Z, fields in range.
bool readInstant(std::string_view s, KnownDays& known, Instant& out) {
    using namespace std::chrono;
    const char* p = s.data();
    if (s.size() < 20) [[unlikely]]
        return false;
    std::int64_t days;
    if (known.known[0] && std::memcmp(p, known.dates[0], sizeof known.dates[0]) == 0) {
        days = known.days[0];
    } else if (known.known[1] && std::memcmp(p, known.dates[1], sizeof known.dates[1]) == 0) {
        days = known.days[1];
    } else {
        int y0, y1, mo, d;
        if (!twoDigits(p, y0) || !twoDigits(p + 2, y1) || p[4] != '-' || !twoDigits(p + 5, mo) ||
            p[7] != '-' || !twoDigits(p + 8, d)) [[unlikely]]
            return false;
        const int y = y0 * 100 + y1;
        if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo)) [[unlikely]]
            return false;
        days = daysFromCivil(y, mo, d);
        const unsigned slot = known.next;
        known.next ^= 1;
        std::memcpy(known.dates[slot], p, sizeof known.dates[slot]);
        known.days[slot] = days;
        known.known[slot] = true;
    }
    int h, mi, sec;
    if (p[10] != 'T' || !twoDigits(p + 11, h) || p[13] != ':' || !twoDigits(p + 14, mi) ||
        p[16] != ':' || !twoDigits(p + 17, sec) || h > 23 || mi > 59 || sec > 59) [[unlikely]]
        return false;
    std::size_t at = 19;
    std::int64_t fraction = 0; // nanoseconds; digits beyond the ninth count for nothing
    if (s[at] == '.') {
        const std::size_t start = ++at;
        std::int64_t scale = 100'000'000;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            fraction += (s[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start) [[unlikely]]
            return false;
    }
    if (at >= s.size()) [[unlikely]]
        return false;
    int offset = 0; // minutes
    if (s[at] == 'Z') {
        ++at;
    } else if (s[at] == '+' || s[at] == '-') {
        int oh, om;
        if (s.size() - at < 6 || !twoDigits(p + at + 1, oh) || s[at + 3] != ':' ||
            !twoDigits(p + at + 4, om) || oh > 23 || om > 59) [[unlikely]]
            return false;
        offset = oh * 60 + om;
        if (s[at] == '-')
            offset = -offset;
        at += 6;
    } else {
        return false;
    }
    if (at != s.size()) [[unlikely]]
        return false;
    // Whole seconds first: years up to 9999 fit easily, the nanosecond count may not.
    const std::int64_t whole = days * 86400 + h * 3600 + mi * 60 + sec - std::int64_t{offset} * 60;
    // Refused outside what an Instant holds exactly. The lower bound is the first whole second
    // inside the range, so that the whole-second text written back reads again.
    constexpr auto range = Instant::duration::max();
    constexpr std::int64_t lastSecond = duration_cast<seconds>(range).count();
    if (whole < -lastSecond || whole > lastSecond ||
        (whole == lastSecond && nanoseconds(fraction) > range - seconds(lastSecond))) [[unlikely]]
        return false;
    out = Instant(duration_cast<Instant::duration>(seconds(whole) + nanoseconds(fraction)));
    return true;
}

} // namespace wire

namespace Wire {

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
    return encoder.take();
}

template <class T> void encode(const T& value, const Write& write) {
    Encoder encoder(&write);
    encoder.put(value);
    if (!encoder.text().empty())
        write(encoder.text());
}

template void encode<Snapshot>(const Snapshot&, const Write&);

template std::string encode<QuotaWindow>(const QuotaWindow&);
template std::string encode<Quota>(const Quota&);
template std::string encode<QuotaEnvelope>(const QuotaEnvelope&);
template std::string encode<UsagePoint>(const UsagePoint&);
template std::string encode<UsageGroup>(const UsageGroup&);
template std::string encode<Usage>(const Usage&);
template std::string encode<Snapshot>(const Snapshot&);
template std::string encode<WidgetPreferences>(const WidgetPreferences&);

std::optional<Instant> parseInstant(std::string_view s) {
    wire::KnownDays none;
    Instant instant;
    if (!wire::readInstant(s, none, instant))
        return std::nullopt;
    return instant;
}

std::string formatInstant(Instant instant) {
    std::array<char, 20> buf{};
    return std::string(buf.data(), writeInstant(buf.data(), instant));
}

} // namespace Wire

} // namespace tessel
