// The records' rules, their display texts, and the wire format they are read from and kept in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "model/display.h"
#include "model/records.h"
#include "model/snapshot.h"
#include "model/widget_preferences.h"
#include "model/wire.h"
#include "support/temp_dir.h"

using namespace tessel;
using tessel::test::ScopedEnv;
using namespace std::chrono_literals;
using Kind = DecodingError::Kind;

TEST(Records, IdentityTitleStateRemainingPercentAndUsageSums) {
    const Quota a{.provider = "p", .name = "one"};
    EXPECT_EQ(a.id(), "|p||");
    EXPECT_EQ((Quota{.provider = "p", .name = "two"}).id(), a.id());
    EXPECT_EQ((Quota{.provider = "p", .name = "n", .kind = "k", .user = "u", .from = "f"}).id(),
              "f|p|k|u");
    EXPECT_EQ((Quota{.provider = "p", .name = "n", .alias = ""}).title(), "n");
    EXPECT_EQ((Quota{.provider = "p", .name = "n", .alias = "别名"}).title(), "别名");

    Quota q{.provider = "p", .name = "n", .kind = "balance"};
    q.windows = std::vector<QuotaWindow>{};
    EXPECT_EQ(q.measurementState(), "不支持或尚未提供余额");
    q.kind = "Balance";
    EXPECT_EQ(q.measurementState(), "尚未获取额度");
    q.windows->push_back({.name = "w"});
    EXPECT_EQ(q.measurementState(), "已获取");
    q.balance = "$3";
    q.error = "";
    EXPECT_EQ(q.measurementState(), "提供商暂不可用");
    // A text set from itself, inline and on the heap, stays itself.
    for (const char* text : {"short", "longer than fifteen bytes"}) {
        q.plan = text;
        q.plan.assign(*q.plan);
        EXPECT_EQ(q.plan, text);
    }

    EXPECT_FALSE((QuotaWindow{.name = "w", .remaining = 40, .unlimited = true}).remainingPercent());
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 130}).remainingPercent(), 0);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 30}).remainingPercent(), 70);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = -20}).remainingPercent(), 120);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 10, .remaining = 120}).remainingPercent(), 120);
    EXPECT_FALSE((QuotaWindow{.name = "w", .unlimited = false}).remainingPercent());

    // Usage sums, and the roll-up by provider.
    const Usage half{.period = "today", .input = 10};
    EXPECT_FALSE(half.tokens());
    EXPECT_EQ((UsagePoint{.label = "l", .time = {}, .input = 10}).tokens(), 10);
    EXPECT_EQ((Usage{.period = "x", .input = INT64_MAX, .output = 5}).tokens(), INT64_MAX);

    EXPECT_TRUE(half.providers().empty());
    Usage u{.period = "7d"};
    u.models = std::vector<UsageGroup>{
        {.id = "m1", .provider = "a", .calls = 3, .cost = 1.5},
        {.id = "m2", .provider = "b", .sub = "Team B", .calls = 2, .input = 7},
        {.id = "m3", .provider = "b", .sub = "ignored", .calls = 3},
        {.id = "m4", .calls = 1},
    };
    const auto groups = u.providers();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].id, "b");
    EXPECT_EQ(groups[0].name, "Team B");
    EXPECT_EQ(groups[0].calls, 5);
    EXPECT_EQ(groups[0].input, 7);
    EXPECT_EQ(groups[0].output, 0);
    EXPECT_EQ(groups[0].cost, 0.0);
    EXPECT_FALSE(groups[0].sub);
    EXPECT_EQ(groups[1].id, "a");
    EXPECT_EQ(groups[1].name, "a");
    EXPECT_EQ(groups[2].provider, "unknown");
}

TEST(Snapshot, StatusAndStaleness) {
    const auto now = std::chrono::system_clock::now();
    Snapshot s;
    EXPECT_EQ(s.status(now), "等待同步");
    EXPECT_TRUE(s.stale(now) && s.stale(Instant{}));
    s.updatedAt = now - 180s;
    EXPECT_EQ(s.status(now), "已同步");
    EXPECT_FALSE(s.stale(now));
    EXPECT_EQ(s.status(now + 1s), "数据已过期");
    EXPECT_TRUE(s.stale(now + 1s));
    EXPECT_FALSE(s.stale(now - 1h)); // written in the future of the clock
    // Ages centuries long saturate instead of wrapping around.
    s.updatedAt = Instant::max();
    EXPECT_FALSE(s.stale(Instant::min()));
    EXPECT_EQ(s.status(Instant::min()), "已同步");
    s.updatedAt = Instant::min();
    EXPECT_TRUE(s.stale(Instant::max()));
    EXPECT_EQ(s.status(Instant::max()), "数据已过期");
    s.updatedAt = now - 1s;
    s.issue = "x";
    EXPECT_EQ(s.status(now), "离线 / 同步异常");
}

TEST(Display, FollowsTheLocaleOfEachCallAndPercentIsWholeWithHalvesToTheEvenNeighbour) {
    ScopedEnv all("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(Display::money(std::nullopt), "—");
    EXPECT_EQ(Display::number(std::nullopt), "—");
    EXPECT_EQ(Display::money(12.5), "$12.50");
    EXPECT_EQ(Display::money(0), "$0.00");
    EXPECT_EQ(Display::number(950), "950");
    EXPECT_EQ(Display::number(1234), "1.2K");
    EXPECT_EQ(Display::number(2'500'000), "2.5M");
    {
        ScopedEnv chinese("LC_ALL", "zh_CN.UTF-8");
        EXPECT_EQ(Display::number(12345), "1.2万");
        EXPECT_NE(Display::money(12.5).find("12.50"), std::string::npos);
        EXPECT_NE(Display::money(12.5), "$12.50");
    }
    {
        ScopedEnv german("LC_ALL", "de_DE.UTF-8");
        EXPECT_NE(Display::money(12.5).find("12,50"), std::string::npos);
    }
    ScopedEnv posix("LC_ALL", "C");
    EXPECT_EQ(Display::money(12.5), "$12.50");

    // The one percentage rule of the card, the tray, the widgets and tesselctl.
    const std::pair<double, const char*> cases[] = {
        {62.5, "62"},    {63.5, "64"}, {0.5, "0"},   {1.5, "2"},
        {99.5, "100"},   {37.5, "38"}, {42.9, "43"}, {14.6, "15"},
        {14.4999, "14"}, {100, "100"}, {150, "150"}, {0, "0"},
        {-5, "-5"},      {-3.5, "-4"}, {-2.5, "-2"}, {1e15, "1000000000000000"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Display::percent(value), text) << value;
}

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

TEST(Instant, AcceptsInternetDateTimesWithAndWithoutFractionOnly) {
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

    // Everything else is refused.
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

TEST(Decoding, FailuresAreTypedAndCarryTheirPathEveryDocumentHasTheNestingLimitAndNullIsAbsent) {
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

    // Null is absence, unknown keys are ignored, whole numbers in any notation are accepted.
    const auto usage = Wire::decode<Usage>(
        R"({"period":"today","calls":3.0,"input":1e3,"output":null,"extra":{"deep":[1,2]}})");
    EXPECT_EQ(usage.calls, 3);
    EXPECT_EQ(usage.input, 1000);
    EXPECT_FALSE(usage.output);
    EXPECT_EQ(Wire::encode(usage), R"({"period":"today","calls":3,"input":1000})");

    // The handshake answer and the preferences file are read by the same limited parser.
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

TEST(Encoding, RoundTripsASnapshotInWholeUtcSecondsAndNeverThrowsOnBrokenText) {
    Snapshot s;
    EXPECT_EQ(Wire::encode(s), R"({"schema":1,"endpoint":"","quotas":[],"usage":{}})");
    const auto empty = Wire::decode<Snapshot>(Wire::encode(s));
    EXPECT_EQ(empty.schema, 1);
    EXPECT_TRUE(empty.quotas.empty() && empty.usage.empty() && !empty.updatedAt);

    s.updatedAt = at("2025-03-01T16:00:00.750+08:00");
    s.endpoint = "http://127.0.0.1:3425";
    s.issue = "第一行\n第二行";
    Quota q{.provider = "p", .name = "名字"};
    q.windows = std::vector<QuotaWindow>{{.name = "5h", .used = 0.01207, .resetsAt = s.updatedAt}};
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
    EXPECT_NE(text.find(R"("cost":-0.0},{"label":"b","time":"1677-09-21T00:12:44Z","input":-7,)"
                        R"("cost":1e-05},{"label":"c","time":"2262-04-11T23:47:16Z","cost":1e+16})"),
              std::string::npos)
        << text;
    const auto back = Wire::decode<Snapshot>(text);
    EXPECT_EQ(back.quotas[1].error, "");
    EXPECT_EQ(back.quotas[0].windows->at(0).resetsAt, at("2025-03-01T08:00:00Z"));
    EXPECT_NE(text.find(R"("used":0.012070000000000001,"resetsAt")"), std::string::npos) << text;
    EXPECT_EQ(back.issue, s.issue);
    EXPECT_EQ(Wire::encode(back), text);

    // Broken text is no reason to throw.
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
