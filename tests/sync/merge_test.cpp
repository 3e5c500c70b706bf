#include <gtest/gtest.h>

#include <cmath>

#include "gateway/errors.h"
#include "model/wire.h"
#include "sync/cycle.h"
#include "sync/menu_title.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

const std::string endpoint = "http://127.0.0.1:3425";
const Instant t0 = Instant{} + 1'000'000s;
const Instant t1 = t0 + 600s;

Usage usage(std::int64_t calls) {
    Usage u;
    u.calls = calls;
    return u;
}

Quota quota(const std::string& provider, std::optional<double> remaining) {
    Quota q;
    q.provider = q.name = provider;
    QuotaWindow w;
    w.remaining = remaining;
    q.windows = std::vector<QuotaWindow>{w};
    return q;
}

Snapshot previous() {
    Snapshot s;
    s.endpoint = endpoint;
    s.updatedAt = s.attemptedAt = s.quotaUpdatedAt = s.usageUpdatedAt = t0;
    s.version = "1.0";
    s.quotas = {quota("old", 50)};
    s.usage = {{"today", usage(1)}, {"week", usage(2)}, {"month", usage(3)}};
    return s;
}

Cycle::Answers allGood() {
    Cycle::Answers a;
    a.handshake = std::string("2.0");
    a.quotas = std::vector<Quota>{quota("new", 10)};
    for (int i = 0; i < 3; ++i)
        a.usage[i] = Cycle::Outcome<Usage>(usage(10 * (i + 1)));
    return a;
}

template <class E> std::exception_ptr fail(E error) {
    return std::make_exception_ptr(error);
}

Cycle::Result run(const Snapshot& before, const Cycle::Answers& answers) {
    return Cycle::merge(Cycle::start(before, endpoint, t1), answers, t1);
}

} // namespace

// The outcome rows themselves run end to end in service_test; here the details a network
// cannot easily provoke.
TEST(Merge, FailureLinesInRequestOrderJoinedByOneLineFeed) {
    Cycle::Answers a = allGood();
    a.quotas = Cycle::Outcome<std::vector<Quota>>(fail(UrlLoadingError(-1001, "timeout")));
    a.usage[1] = Cycle::Outcome<Usage>(
        fail(DecodingError(DecodingError::Kind::DataCorrupted, "", "not json")));
    a.usage[2] = Cycle::Outcome<Usage>(fail(std::runtime_error("secret host detail")));
    auto [s, failed] = run(previous(), a);
    EXPECT_TRUE(failed);
    EXPECT_EQ(s.issue, "额度：网络连接失败（-1001），请确认 Tessel 正在运行。\n"
                       "week：响应格式不兼容，保留上次有效数据。\n"
                       "month：读取失败，保留上次有效数据。");
    EXPECT_EQ(s.usage.at("today").calls, 10);
    EXPECT_EQ(s.usage.at("week").calls, 2);
    EXPECT_EQ(s.usageUpdatedAt, t0);
    EXPECT_EQ(s.updatedAt, t0);
    EXPECT_EQ(s.attemptedAt, t1);

    // A clean cycle clears the old issue.
    Snapshot troubled = s;
    auto [clean, cleanFailed] = run(troubled, allGood());
    EXPECT_FALSE(cleanFailed);
    EXPECT_FALSE(clean.issue);
    EXPECT_EQ(clean.updatedAt, t1);
}

TEST(Merge, MissingAnswersNeverReadAsSuccess) {
    auto [s, failed] = run(previous(), Cycle::Answers{});
    EXPECT_TRUE(failed);
    EXPECT_EQ(s.issue, "读取失败，保留上次有效数据。");
    EXPECT_EQ(s.quotas[0].provider, "old");

    Cycle::Answers noUsage = allGood();
    noUsage.usage[0].reset();
    EXPECT_TRUE(run(previous(), noUsage).failed);
}

TEST(Merge, AnotherEndpointKeepsNothing) {
    Snapshot other = previous();
    other.endpoint = "http://127.0.0.1:9999";
    Cycle::Answers partial = allGood();
    partial.usage[0] = Cycle::Outcome<Usage>(fail(UrlLoadingError(-1005, "lost")));
    auto [s, failed] = run(other, partial);
    EXPECT_EQ(s.endpoint, endpoint);
    EXPECT_EQ(s.usage.count("today"), 0u);
    EXPECT_EQ(s.usage.size(), 2u);
    EXPECT_FALSE(s.updatedAt);
    EXPECT_FALSE(s.usageUpdatedAt);
}

TEST(MenuTitle, PicksQuotaAndTruncates) {
    Snapshot s;
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel");
    s.quotas = {quota("a", 37.5), quota("b", 42.9)};
    EXPECT_EQ(menuBarTitle(s, ""), "37%");
    EXPECT_EQ(menuBarTitle(s, s.quotas[1].id()), "42%");
    EXPECT_EQ(menuBarTitle(s, "gone|x||"), "Tessel"); // no fallback to the first quota
    s.quotas[0].windows->front().remaining = -3.5;
    EXPECT_EQ(menuBarTitle(s, ""), "-3%");
    s.quotas[0].windows->front().unlimited = true;
    s.quotas[0].windows->push_back(s.quotas[1].windows->front());
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel"); // only the first window counts
    s.quotas[0].windows->clear();
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel");
}

TEST(MenuTitle, AbsurdPercentagesStayHarmless) {
    Snapshot s;
    s.quotas = {quota("a", 0)};
    for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e19}) {
        s.quotas[0].windows->front().remaining = v;
        EXPECT_EQ(menuBarTitle(s, ""), "Tessel") << v;
    }
    s.quotas[0].windows->front().remaining = 1e15;
    EXPECT_EQ(menuBarTitle(s, ""), "1000000000000000%");
}
