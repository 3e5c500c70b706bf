#include <gtest/gtest.h>

#include <cmath>

#include "gateway/errors.h"
#include "model/wire.h"
#include "sync/cycle.h"
#include "sync/menu_title.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

Quota quota(const std::string& provider, std::optional<double> remaining) {
    Quota q;
    q.provider = q.name = provider;
    QuotaWindow window;
    window.remaining = remaining;
    q.windows = std::vector<QuotaWindow>{window};
    return q;
}

template <class T, class E> Cycle::Outcome<T> fail(E error) {
    return std::make_exception_ptr(error);
}

} // namespace

// The outcome rows run end to end in service_test; here what a network cannot easily provoke.
TEST(Merge, FailureLinesInOrderAndMissingAnswers) {
    const Instant t0 = Instant{} + 1000s, t1 = t0 + 600s;
    Snapshot before;
    before.endpoint = "http://127.0.0.1:3425";
    before.updatedAt = before.usageUpdatedAt = t0;
    before.usage["week"].calls = 2;
    Cycle::Answers a;
    a.handshake = std::string("2.0");
    a.quotas = fail<std::vector<Quota>>(UrlLoadingError(-1001, "timeout"));
    a.usage = {Cycle::Outcome<Usage>(Usage{}),
               fail<Usage>(DecodingError(DecodingError::Kind::DataCorrupted, "", "x")),
               fail<Usage>(std::runtime_error("secret host detail"))};
    auto [s, failed] = Cycle::merge(Cycle::start(before, before.endpoint, t1), a, t1);
    EXPECT_TRUE(failed);
    EXPECT_EQ(s.issue, "额度：网络连接失败（-1001），请确认 Tessel 正在运行。\n"
                       "week：响应格式不兼容，保留上次有效数据。\n"
                       "month：读取失败，保留上次有效数据。");
    EXPECT_EQ(s.usage.at("week").calls, 2);
    EXPECT_EQ(s.usageUpdatedAt, t0);
    EXPECT_EQ(s.updatedAt, t0);
    EXPECT_EQ(s.attemptedAt, t1);

    // An answer that was never filled in must read as a failure, not as a success.
    EXPECT_TRUE(Cycle::merge(before, Cycle::Answers{}, t1).failed);
    a.quotas.reset();
    a.usage = {Cycle::Outcome<Usage>(Usage{}), Cycle::Outcome<Usage>(Usage{}), std::nullopt};
    EXPECT_EQ(Cycle::merge(before, a, t1).snapshot.issue,
              "额度：读取失败，保留上次有效数据。\nmonth：读取失败，保留上次有效数据。");
}

TEST(MenuTitle, PicksQuotaTruncatesAndSurvivesAbsurdValues) {
    Snapshot s;
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel");
    s.quotas = {quota("a", 37.5), quota("b", 42.9)};
    EXPECT_EQ(menuBarTitle(s, ""), "37%");
    EXPECT_EQ(menuBarTitle(s, s.quotas[1].id()), "42%");
    EXPECT_EQ(menuBarTitle(s, "gone|x||"), "Tessel"); // no fallback to the first quota
    s.quotas[0].windows->front().remaining = -3.5;
    EXPECT_EQ(menuBarTitle(s, ""), "-3%");
    s.quotas[0].windows->front().remaining = 1e15;
    EXPECT_EQ(menuBarTitle(s, ""), "1000000000000000%");
    for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e19}) {
        s.quotas[0].windows->front().remaining = v;
        EXPECT_EQ(menuBarTitle(s, ""), "Tessel") << v;
    }
    s.quotas[0].windows->front().unlimited = true;
    s.quotas[0].windows->push_back(s.quotas[1].windows->front());
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel"); // only the first window counts
    s.quotas[0].windows->clear();
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel");
}
