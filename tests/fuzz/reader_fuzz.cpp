// The reader against the former one: the bytes themselves, and a record-shaped document the
// bytes steer (valid values of every field, wrong types, nulls, missing and repeated keys, odd
// numbers, instants and texts, deep nesting, truncation), must give the same records or the
// same failure through decode, check and parse; whatever decodes must survive a round trip.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench/reference_reader.h"
#include "model/wire_fields.h"

namespace {

using namespace tessel;

struct Generator {
    const std::uint8_t* data;
    std::size_t size;
    std::string out;

    unsigned next() { return size ? (--size, *data++) : 0u; }
    template <std::size_t N> void pick(const char* const (&choices)[N]) {
        out += choices[next() % N];
    }

    void value(const wire::Ops* ops, int depth) {
        const unsigned roll = next();
        if (roll < 24) { // something of another shape, or deep
            static const char* const others[] = {"null", "[]",   "{}",     "\"x\"",
                                                 "1",    "true", "[null]", "{\"a\":[1,{}]}"};
            if (roll < 3) {
                std::string closers;
                for (std::size_t i = 0, levels = 250 + next() % 12; i < levels; ++i) {
                    const bool array = next() % 4;
                    out += array ? "[" : "{\"k\":";
                    closers += array ? ']' : '}';
                }
                out += '0';
                out.append(closers.rbegin(), closers.rend());
                return;
            }
            pick(others);
            return;
        }
        switch (ops->shape) {
        case wire::Ops::Record:
            return record(ops->record(), depth);
        case wire::Ops::List:
            out += '[';
            for (unsigned i = 0, n = next() % 4; i < n; ++i) {
                if (i)
                    out += ',';
                value(ops->element, depth + 1);
            }
            out += ']';
            return;
        case wire::Ops::Map:
            out += '{';
            for (unsigned i = 0, n = next() % 4; i < n; ++i) {
                if (i)
                    out += ',';
                pick({"\"today\":", "\"7d\":", "\"30d\":", "\"\\u0037d\":", "\"\":"});
                value(ops->element, depth + 1);
            }
            out += '}';
            return;
        default:
            scalar(ops);
        }
    }

    void scalar(const wire::Ops* ops) {
        static const char* const numbers[] = {"0",
                                              "-0",
                                              "3",
                                              "3.0",
                                              "1e3",
                                              "2.5",
                                              "-1",
                                              "-0.0",
                                              "0.1",
                                              "1E2",
                                              "1e-400",
                                              "1e400",
                                              "9223372036854775807",
                                              "9223372036854775808",
                                              "-9223372036854775808",
                                              "-9223372036854775809",
                                              "18446744073709551615",
                                              "18446744073709551616",
                                              "123456789012345678901234567890",
                                              "9.2233720368547758e18",
                                              "01",
                                              "1.",
                                              "-",
                                              "+1",
                                              "1e-00000000000000000000000001",
                                              "0.30000000000000004",
                                              "5e-324"};
        static const char* const texts[] = {"\"a\"",
                                            "\"名字\"",
                                            "\"\"",
                                            "\"\\u00e9\"",
                                            "\"\\ud83d\\ude00\"",
                                            "\"\xff\"",
                                            "\"\xc3\x28\"",
                                            "\"\\ud800\"",
                                            "\"\\udc00\"",
                                            "\"t\\t\\n\\\" and more than fifteen bytes\"",
                                            "\"\x01\"",
                                            "\"\xed\xa0\x80\"",
                                            "\"\xf4\x90\x80\x80\"",
                                            "\"\\u0000\""};
        static const char* const instants[] = {"\"2025-03-01T08:00:00Z\"",
                                               "\"2000-02-29T16:00:00.7500000001+08:00\"",
                                               "\"2262-04-11T23:47:16.854775807Z\"",
                                               "\"2262-04-11T23:47:16.854775808Z\"",
                                               "\"1677-09-21T00:12:44Z\"",
                                               "\"1677-09-21T00:12:43.999Z\"",
                                               "\"9999-12-31T23:59:59Z\"",
                                               "\"1900-02-29T08:00:00Z\"",
                                               "\"2025-03-01\"",
                                               "\"2024-02-29T23:59:59-00:01\""};
        const unsigned kind = next() % 8;
        if (kind == 0)
            return pick(numbers);
        if (kind == 1)
            return pick(texts);
        if (kind == 2)
            return pick({"true", "false", "null"});
        if (ops->scalar == &wire::readScalar<Instant>)
            return pick(instants);
        if (ops->expected == std::string_view("a string"))
            return pick(texts);
        if (ops->expected == std::string_view("a boolean"))
            return pick({"true", "false"});
        return pick(numbers);
    }

    void record(const wire::RecordInfo& info, int depth) {
        out += '{';
        bool first = true;
        for (const wire::Field& field : info.fields) {
            const unsigned roll = next() % 16;
            for (unsigned copies = roll == 0 ? 0 : roll == 1 ? 2 : 1; copies > 0; --copies) {
                if (!first)
                    out += ',';
                first = false;
                if (next() % 16 == 0)
                    pick({"\"extra\":{\"deep\":[1,2]},", "\"\":null,", "\"a\\u0062\":1,"});
                out += '"';
                out += field.name;
                out += "\":";
                if (roll == 2)
                    out += "null";
                else
                    value(field.ops, depth + 1);
            }
        }
        out += '}';
    }

    // The whole document, then damage; as built, with whatever spare capacity that left.
    template <class T> const std::string& document() {
        out.clear();
        if (next() % 32 == 0)
            out += "\xEF\xBB\xBF";
        value(wire::opsOf<T>(), 0);
        const unsigned damage = next() % 16;
        if (damage == 0 && !out.empty())
            out.resize(next() * out.size() / 256);
        else if (damage == 1 && !out.empty())
            out[next() * out.size() / 256] = static_cast<char>(next());
        else if (damage == 2)
            out += next() % 2 ? " " : " x";
        return out;
    }
};

template <class Read> std::string outcome(Read read) {
    try {
        return "ok " + read();
    } catch (const DecodingError& e) {
        return std::to_string(static_cast<int>(e.kind())) + " " + e.codingPath() + " " +
               e.description();
    }
}

void same(const std::string& a, const std::string& b, std::string_view text) {
    if (a == b)
        return;
    std::fprintf(stderr, "reader:    %s\nreference: %s\ntext: %.*s\n", a.c_str(), b.c_str(),
                 static_cast<int>(std::min<std::size_t>(text.size(), 2000)), text.data());
    std::abort();
}

// The same outcome from both readers; what decodes re-encodes to text that reads back to the
// same text.
template <class T, class Text> void compare(const Text& text) {
    const std::string once = outcome([&] { return Wire::encode(Wire::decode<T>(text)); });
    same(once, outcome([&] { return Wire::encode(reference::decode<T>(text)); }), text);
    if (once.starts_with("ok "))
        same(outcome([&] { return Wire::encode(Wire::decode<T>(once.substr(3))); }), once, text);
}

template <class Text> void compareAll(const Text& text) {
    compare<QuotaEnvelope>(text);
    compare<Usage>(text);
    compare<Snapshot>(text);
    compare<Quota>(text);
    compare<WidgetPreferences>(text);
    same(outcome([&] { return Wire::encode(Wire::check<Snapshot>(text)); }),
         outcome([&] { return Wire::encode(reference::decode<Snapshot>(text, false)); }), text);
    same(outcome([&] { return Wire::parse(text).dump(); }),
         outcome([&] { return reference::parse(text).dump(); }), text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    compareAll(std::string_view(reinterpret_cast<const char*>(data), size));
    Generator generator{data, size, {}};
    switch (size ? data[0] % 4 : 0) {
    case 0:
        compareAll(generator.document<Snapshot>());
        break;
    case 1:
        compareAll(generator.document<QuotaEnvelope>());
        break;
    case 2:
        compareAll(generator.document<Usage>());
        break;
    default:
        compareAll(generator.document<WidgetPreferences>());
    }
    return 0;
}
