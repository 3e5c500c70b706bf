#include <gtest/gtest.h>

#include <cmath>

#include "sync/cycle.h"
#include "sync/menu_title.h"

using namespace std::chrono_literals;
using namespace tessel;

// The outcome rows run end to end in service_test; here what a network cannot provoke: an
// answer that was never filled in must read as a failure, not as a success.
TEST(Merge, MissingAnswersAreFailures) {
    Snapshot before;
    before.usage["month"].calls = 3;
    EXPECT_TRUE(Cycle::merge(before, Cycle::Answers{}, Instant{}).failed);
    Cycle::Answers a;
    a.handshake = std::string("2.0");
    a.usage = {Cycle::Outcome<Usage>(Usage{}), Cycle::Outcome<Usage>(Usage{}), std::nullopt};
    const auto [s, failed] = Cycle::merge(before, a, Instant{});
    EXPECT_TRUE(failed);
    EXPECT_EQ(s.issue, "额度：读取失败，保留上次有效数据。\nmonth：读取失败，保留上次有效数据。");
    EXPECT_EQ(s.usage.at("month").calls, 3);
    EXPECT_FALSE(s.usageUpdatedAt);
}

TEST(MenuTitle, PicksQuotaTruncatesAndSurvivesAbsurdValues) {
    Snapshot s;
    EXPECT_EQ(menuBarTitle(s, ""), "Tessel");
    for (const auto& [name, remaining] : {std::pair{"a", 37.5}, {"b", 42.9}})
        s.quotas.push_back(
            {.provider = name,
             .name = name,
             .windows = std::vector<QuotaWindow>{{.name = "", .remaining = remaining}}});
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
