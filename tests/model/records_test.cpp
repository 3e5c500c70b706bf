#include <gtest/gtest.h>

#include "model/display.h"
#include "model/records.h"
#include "model/snapshot.h"
#include "model/wire.h"
#include "support/temp_dir.h"

using namespace tessel;
using tessel::test::ScopedEnv;
using namespace std::chrono_literals;

TEST(Records, RemainingPercent) {
    EXPECT_FALSE((QuotaWindow{.name = "w", .remaining = 40, .unlimited = true}).remainingPercent());
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 130}).remainingPercent(), 0);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 30}).remainingPercent(), 70);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = -20}).remainingPercent(), 120);
    EXPECT_EQ((QuotaWindow{.name = "w", .used = 10, .remaining = 120}).remainingPercent(), 120);
    EXPECT_FALSE((QuotaWindow{.name = "w", .unlimited = false}).remainingPercent());
}

TEST(Records, IdentityTitleAndState) {
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
}

TEST(Records, UsageSums) {
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

TEST(Display, FollowsTheLocaleOfEachCall) {
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
}

// The one percentage rule of the card, the tray, the widgets and tesselctl.
TEST(Display, PercentIsWholeWithHalvesToTheEvenNeighbour) {
    const std::pair<double, const char*> cases[] = {
        {62.5, "62"},    {63.5, "64"}, {0.5, "0"},   {1.5, "2"},
        {99.5, "100"},   {37.5, "38"}, {42.9, "43"}, {14.6, "15"},
        {14.4999, "14"}, {100, "100"}, {150, "150"}, {0, "0"},
        {-5, "-5"},      {-3.5, "-4"}, {-2.5, "-2"}, {1e15, "1000000000000000"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Display::percent(value), text) << value;
}
