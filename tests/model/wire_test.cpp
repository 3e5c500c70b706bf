#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "model/snapshot.h"
#include "model/widget_preferences.h"
#include "model/wire.h"

using namespace tessel;
using namespace std::chrono_literals;
using Kind = DecodingError::Kind;

namespace {

Instant at(std::string_view text) {
    return Wire::parseInstant(text).value();
}

// Decodes and expects a failure of this kind at this path.
template <class T> void expectFailure(std::string_view json, Kind kind, const std::string& path) {
    try {
        Wire::decode<T>(json);
        ADD_FAILURE() << "decoded: " << json;
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.kind(), kind) << json;
        EXPECT_EQ(e.codingPath(), path) << json;
    }
}

} // namespace

TEST(Instant, AcceptsInternetDateTimesWithAndWithoutFraction) {
    EXPECT_EQ(at("2025-03-01T08:00:00Z"), at("2025-03-01T16:00:00+08:00"));
    EXPECT_EQ(at("2025-03-01T08:00:00.250Z") - at("2025-03-01T08:00:00Z"), 250ms);
    EXPECT_EQ(at("2025-03-01T08:00:00.123456Z") - at("2025-03-01T08:00:00Z"), 123456us);
    EXPECT_EQ(at("2025-03-01T00:30:00-01:30"), at("2025-03-01T02:00:00Z"));
    EXPECT_EQ(at("2024-02-29T23:59:59Z") + 1s, at("2024-03-01T00:00:00Z"));
    // The edges of what an Instant holds read exactly and are written back as they were read.
    for (const char* text :
         {"1970-01-01T00:00:00Z", "2262-04-11T23:47:16Z", "1677-09-21T00:12:44Z"})
        EXPECT_EQ(Wire::formatInstant(at(text)), text);
    EXPECT_TRUE(Wire::parseInstant("2262-04-11T23:47:16.854775807Z"));
}

TEST(Instant, RejectsEverythingElse) {
    for (const char* text :
         {"2025-03-01", "2025-03-01 08:00:00Z", "2025-03-01T08:00:00", "1740816000",
          "2025-03-01T08:00:00+0800", "2025-03-01T08:00:00.Z", "2025-02-30T08:00:00Z",
          "2025-03-01T24:00:00Z", "2025-13-01T08:00:00Z", "2025-03-01t08:00:00z",
          "2025-03-01T08:00:00Z ", "", "2025-03-01T08:00:00+08",
          // Beyond what an Instant holds: refused, never wrapped into another time.
          "9999-12-31T23:59:59Z", "0001-01-01T00:00:00Z", "2262-04-11T23:47:16.854775808Z",
          "2262-04-11T23:47:16-00:01", "1677-09-21T00:12:43.999Z", "0000-01-01T00:00:00+23:59"})
        EXPECT_FALSE(Wire::parseInstant(text)) << text;
}

TEST(Decoding, FailuresAreTypedAndCarryTheirPath) {
    expectFailure<QuotaEnvelope>(R"({"data":[{"provider":"a","name":"x"},{"provider":"b"}]})",
                                 Kind::KeyNotFound, "data[1].name");
    expectFailure<QuotaEnvelope>(
        R"({"data":[{"provider":"a","name":"x","windows":[{"name":"w","resetsAt":"2025-03-01"}]}]})",
        Kind::DataCorrupted, "data[0].windows[0].resetsAt");
    expectFailure<QuotaEnvelope>(R"({"data":[{"provider":"a","name":"x","readAt":1740816000}]})",
                                 Kind::TypeMismatch, "data[0].readAt");
    expectFailure<Usage>(R"({"period":"7d","calls":2.5})", Kind::TypeMismatch, "calls");
    expectFailure<Usage>(R"({"period":"7d","cost":"1.5"})", Kind::TypeMismatch, "cost");
    expectFailure<Usage>(R"({"period":"7d","calls":18446744073709551615})", Kind::TypeMismatch,
                         "calls");
    expectFailure<Usage>(R"({"period":"7d","series":[{"label":"a","time":null}]})",
                         Kind::KeyNotFound, "series[0].time");
    expectFailure<Snapshot>(R"({"schema":1,"endpoint":"","quotas":[],"usage":{"7d":{}}})",
                            Kind::KeyNotFound, "usage.7d.period");
    expectFailure<Snapshot>(R"({"schema":1,"endpoint":"","quotas":[]})", Kind::KeyNotFound,
                            "usage");
    expectFailure<QuotaEnvelope>(R"([])", Kind::TypeMismatch, "");
    expectFailure<QuotaEnvelope>(R"({"data":[)", Kind::DataCorrupted, "");
    expectFailure<QuotaEnvelope>("{\"data\":[{\"provider\":\"\xff\",\"name\":\"x\"}]}",
                                 Kind::DataCorrupted, "");
    try {
        Wire::decode<Quota>(R"({"provider":"a","name":"x","asOf":"9999-12-31T23:59:59Z"})");
        ADD_FAILURE();
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.description(), "Invalid timestamp");
    }
}

// The handshake answer and the preferences file are read by the same limited parser.
TEST(Decoding, EveryDocumentHasTheNestingLimit) {
    const auto nested = [](int depth) {
        return std::string(static_cast<std::size_t>(depth), '[') +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_TRUE(Wire::parse(nested(256)).is_array());
    const auto hello = Wire::parse(R"({"name":"tessel","name":"again","version":null})");
    EXPECT_EQ(hello.at("name"), "again");
    EXPECT_TRUE(hello.at("version").is_null());
    for (const std::string& text : {nested(257), std::string(16 << 10, '['), std::string("{")}) {
        for (const auto& read : {+[](std::string_view t) { Wire::parse(t); },
                                 +[](std::string_view t) { Wire::decode<WidgetPreferences>(t); }}) {
            try {
                read(text);
                ADD_FAILURE() << text.substr(0, 20);
            } catch (const DecodingError& e) {
                EXPECT_EQ(e.kind(), Kind::DataCorrupted);
                EXPECT_EQ(e.codingPath(), "");
            }
        }
    }
}

TEST(Decoding, NullIsAbsentUnknownKeysIgnoredWholeNumbersAccepted) {
    const auto usage = Wire::decode<Usage>(
        R"({"period":"today","calls":3.0,"input":1e3,"output":null,"extra":{"deep":[1,2]}})");
    EXPECT_EQ(usage.calls, 3);
    EXPECT_EQ(usage.input, 1000);
    EXPECT_FALSE(usage.output);
    EXPECT_EQ(Wire::encode(usage), R"({"period":"today","calls":3,"input":1000})");
}

TEST(Encoding, RoundTripsASnapshotInWholeUtcSeconds) {
    Snapshot s;
    EXPECT_EQ(Wire::encode(s), R"({"schema":1,"endpoint":"","quotas":[],"usage":{}})");
    const auto empty = Wire::decode<Snapshot>(Wire::encode(s));
    EXPECT_EQ(empty.schema, 1);
    EXPECT_TRUE(empty.quotas.empty() && empty.usage.empty() && !empty.updatedAt);

    s.updatedAt = at("2025-03-01T16:00:00.750+08:00");
    s.endpoint = "http://127.0.0.1:3425";
    s.issue = "第一行\n第二行";
    Quota q{.provider = "p", .name = "名字"};
    q.windows = std::vector<QuotaWindow>{{.name = "5h", .used = 12.5, .resetsAt = s.updatedAt}};
    q.readDeferred = false;
    s.quotas = {q, Quota{.provider = "b", .name = "n", .error = ""}};
    s.usage["7d"] = Usage{.period = "7d", .cost = 0.0};
    // Numbers and instants as they have always been written.
    s.usage["7d"].series = std::vector<UsagePoint>{
        {.label = "a", .time = *s.updatedAt, .cost = -0.0},
        {.label = "b", .time = at("1677-09-21T00:12:44Z"), .input = -7, .cost = 1e-05},
        {.label = "c", .time = at("2262-04-11T23:47:16Z"), .cost = 1e16}};

    const std::string text = Wire::encode(s);
    EXPECT_NE(text.find(R"("updatedAt":"2025-03-01T08:00:00Z")"), std::string::npos) << text;
    EXPECT_NE(
        text.find(R"("cost":-0.0},{"label":"b","time":"1677-09-21T00:12:44Z","input":-7,)"
                  R"("cost":1e-05},{"label":"c","time":"2262-04-11T23:47:16Z","cost":1e+16})"),
        std::string::npos)
        << text;
    const auto back = Wire::decode<Snapshot>(text);
    EXPECT_EQ(back.quotas[1].error, "");
    EXPECT_EQ(back.quotas[0].windows->at(0).resetsAt, at("2025-03-01T08:00:00Z"));
    EXPECT_EQ(back.quotas[0].name, "名字");
    EXPECT_EQ(back.issue, s.issue);
    EXPECT_EQ(Wire::encode(back), text);
}

TEST(Encoding, NeverThrowsOnBrokenText) {
    Snapshot s;
    s.endpoint = "http://\xff\xfe";
    EXPECT_NO_THROW(Wire::encode(s));
}

// A program may end while a worker thread still decodes (exit() from a library runs the exit
// handlers under it): what the decoder reads outlives every one of them.
TEST(Decoding, WorksWhileTheProgramEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static const std::string* text = nullptr;
            // Registered before the decoder's first use, so it runs after whatever that leaves
            // to be destroyed at exit.
            std::atexit([] {
                try {
                    std::_Exit(Wire::decode<Snapshot>(*text).version == "9.9" ? 0 : 5);
                } catch (...) {
                    std::_Exit(6);
                }
            });
            Snapshot s;
            s.endpoint = "http://127.0.0.1:3425";
            s.version = "9.9";
            text = new std::string(Wire::encode(s));
            (void)Wire::decode<Snapshot>(*text);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}
