#include <gtest/gtest.h>

#include <cmath>

#include "session/boot_timer.h"
#include "support/app_fixture.h"
#include "sync/cycle.h"
#include "sync/menu_title.h"
#include "sync/schedule.h"

using namespace std::chrono_literals;
using namespace tessel;

// What no network can provoke: an answer never filled in is a failure, not a success.
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

TEST(Schedule, BacksOffCapsAndReadsStoredValues) {
    const std::chrono::seconds at60[] = {60s, 120s, 240s, 480s, 900s, 900s};
    const std::chrono::seconds at30[] = {30s, 60s, 120s, 240s, 480s, 480s};
    for (int failures = 0; failures < 6; ++failures) {
        EXPECT_EQ(Schedule::wait(60, failures), at60[failures]) << failures;
        EXPECT_EQ(Schedule::wait(30, failures), at30[failures]) << failures;
    }
    EXPECT_EQ(Schedule::wait(INT_MAX, 4), 900s); // no overflow in the shift
    EXPECT_EQ(Schedule::wait(60, INT_MAX), 900s);
    EXPECT_EQ(Schedule::wait(5, 0), 30s);

    EXPECT_EQ(Schedule::intervalFrom(QVariant()), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("0")), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("abc")), 60);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("nan")), 60);
    EXPECT_EQ(Schedule::intervalFrom(10), 30);
    EXPECT_EQ(Schedule::intervalFrom(QStringLiteral("120")), 120);
    EXPECT_EQ(Schedule::intervalFrom(1e300), INT_MAX);
    EXPECT_EQ(Schedule::clampInterval(1LL << 40), INT_MAX);
}

TEST(BootClockTimer, FiresOnceRestartsAndStops) {
    test::app();
    BootClockTimer timer;
    int fired = 0;
    QObject::connect(&timer, &BootClockTimer::timeout, [&] { ++fired; });
    auto spinUntil = [&](int count, int limitMs) {
        test::spin([&] { return fired >= count; }, limitMs);
    };
    timer.start(30ms);
    spinUntil(1, 2000);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer.isActive());
    timer.start(20ms); // a restart replaces the countdown, it does not add one
    timer.start(40ms);
    spinUntil(3, 300);
    EXPECT_EQ(fired, 2);
    timer.start(20ms);
    timer.stop();
    spinUntil(3, 150);
    EXPECT_EQ(fired, 2);
}
