#include "wire.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
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

// `width` decimal digits of `v`, zero-padded.
char* fixed(char* out, long v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10)
        out[i] = static_cast<char>('0' + v % 10);
    return out + width;
}

// YYYY-MM-DDTHH:MM:SSZ, whole seconds floored; every Instant's year has four digits.
char* writeInstant(char* out, Instant instant) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(instant);
    const auto days = floor<std::chrono::days>(secs);
    const year_month_day date{days};
    const hh_mm_ss time{secs - days};
    out = fixed(out, static_cast<int>(date.year()), 4);
    *out++ = '-';
    out = fixed(out, static_cast<unsigned>(date.month()), 2);
    *out++ = '-';
    out = fixed(out, static_cast<unsigned>(date.day()), 2);
    *out++ = 'T';
    out = fixed(out, time.hours().count(), 2);
    *out++ = ':';
    out = fixed(out, time.minutes().count(), 2);
    *out++ = ':';
    out = fixed(out, time.seconds().count(), 2);
    *out++ = 'Z';
    return out;
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

    void put(std::string_view v) { text(v); }
    // The shortest text that reads back, as nlohmann/json's serializer writes it ("2.0",
    // "1e-05"; null for what JSON cannot hold), without making a JSON value per number.
    void put(double v) {
        if (!std::isfinite(v)) {
            out += "null";
            return;
        }
        std::array<char, 64> buf{};
        out.append(buf.data(), nlohmann::detail::to_chars(buf.data(), buf.data() + buf.size(), v));
    }
    void put(std::int64_t v) {
        std::array<char, 24> buf{};
        const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), v).ptr;
        out.append(buf.data(), end);
    }
    void put(bool v) { out += v ? "true" : "false"; }
    void put(Instant v) {
        std::array<char, 22> buf{};
        buf[0] = '"';
        char* end = writeInstant(buf.data() + 1, v);
        *end++ = '"';
        out.append(buf.data(), end);
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
    void operator()(const char* key, const OptionalText& value) {
        if (value)
            (*this)(key, *value);
    }

private:
    bool first_ = false;
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
