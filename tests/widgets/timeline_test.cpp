// Configuration, stored selection and effective settings over real files.
#include <gtest/gtest.h>

#include <QSettings>

#include <fstream>
#include <limits>
#include <tuple>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/qt/reload_listener.h"
#include "widget_fixture.h"
#include "widgets/configuration.h"
#include "widgets/cycle.h"
#include "widgets/provider.h"
#include "widgets/selection_suite.h"
#include "widgets/widget_text.h"

using namespace tessel;
namespace fs = std::filesystem;

namespace {

Snapshot threeQuotas() {
    Snapshot s;
    s.quotas = {{.provider = "a", .name = "A"},
                {.provider = "b", .name = "B"},
                {.provider = "c", .name = "C"}};
    s.usage["today"] = Usage{.period = "today", .cost = 1.5};
    s.usage["month"] = Usage{.period = "month", .cost = 30};
    return s;
}

ConfigurationIntent own(std::vector<std::string> ids) {
    ConfigurationIntent c;
    c.followsAppSettings = false;
    c.subscriptions.emplace();
    for (auto& id : ids)
        c.subscriptions->push_back({std::move(id), {}});
    return c;
}

std::vector<std::string> titles(const std::vector<const Quota*>& quotas) {
    std::vector<std::string> out;
    for (const Quota* q : quotas)
        out.push_back(q->title());
    return out;
}

using Container = test::ContainerTest;

} // namespace

TEST(Configuration, SelectionKeyIgnoresPickOrderAndCanonicalForm) {
    EXPECT_EQ(ConfigurationIntent{}.selectionKey(), "selection.all");
    EXPECT_EQ(own({}).selectionKey(), "selection.");
    EXPECT_EQ(own({"b|x||", "a|y||"}).selectionKey(), "selection.a|y||;b|x||");
    EXPECT_EQ(own({"a|y||", "b|x||", "a|y||"}).selectionKey(), "selection.a|y||;a|y||;b|x||");
    // "é" precomposed and decomposed are one text canonically; either pick order gives one key.
    const std::string composed = "|\u00e9||", decomposed = "|e\u0301||";
    EXPECT_EQ(own({composed, "|f||", decomposed}).selectionKey(),
              own({decomposed, composed, "|f||"}).selectionKey());
    // Code points, not UTF-16 units: U+FF5E sorts before U+1F600.
    EXPECT_EQ(own({"\U0001F600", "\uFF5E"}).selectionKey(), "selection.\uFF5E;\U0001F600");
}

TEST(Configuration, PlainFormRoundTripsAndUnknownTextsFallBack) {
    const ConfigurationIntent c = own({"b", "a"});
    const ConfigurationIntent back = ConfigurationIntent::fromVariantMap(c.toVariantMap());
    EXPECT_FALSE(back.followsAppSettings);
    EXPECT_EQ(back.selectionKey(), "selection.a;b");

    const ConfigurationIntent fresh = ConfigurationIntent::fromVariantMap(
        {{"metric", "bogus"}, {"period", "year"}, {"subscriptions", QVariant()}});
    EXPECT_TRUE(fresh.followsAppSettings);
    EXPECT_FALSE(fresh.subscriptions);
    EXPECT_EQ(fresh.metric, WidgetMetric::remaining);
    EXPECT_EQ(fresh.period, WidgetPeriod::today);
    EXPECT_EQ(
        ConfigurationIntent::fromVariantMap({{"subscriptions", QStringList()}}).selectionKey(),
        "selection.");
}

TEST_F(Container, QueryListsTheStoredSubscriptionsInSnapshotOrder) {
    EXPECT_TRUE(SubscriptionQuery::suggestedEntities().empty());
    Snapshot s;
    s.quotas = {{.provider = "p1", .name = "Pro", .alias = "Team", .plan = "Max"},
                {.provider = "p2", .name = "Pro", .alias = "Team"},
                {.provider = "p3", .name = "Pro", .alias = "", .plan = "Max"},
                {.provider = "p4", .name = "Pro", .plan = ""}};
    store(s);
    const auto all = SubscriptionQuery::suggestedEntities();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], (SubscriptionEntity{"|p1||", "Team \u00b7 Max"}));
    EXPECT_EQ(all[1].name, "Team");
    EXPECT_EQ(all[2].name, "Pro \u00b7 Max");
    EXPECT_EQ(all[3].name, "Pro \u00b7 ");
    const auto some = SubscriptionQuery::entities({"|p4||", "gone", "|p1||"});
    ASSERT_EQ(some.size(), 2u);
    EXPECT_EQ(some[0].id, "|p1||");
    EXPECT_EQ(some[1].id, "|p4||");
}

TEST(Effective, FollowingTakesThePreferencesAndOwnConfigurationTheDefaults) {
    WidgetPreferences app;
    app.metric = "cost";
    app.period = "month";
    app.showSync = false;
    app.providerIDs = {"|c||", "|a||"};
    Entry e{.snapshot = threeQuotas(), .preferences = app};
    EXPECT_EQ(e.metric(), WidgetMetric::cost);
    EXPECT_EQ(e.period(), WidgetPeriod::month);
    EXPECT_EQ(titles(e.quotas()), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(e.usage()->cost, 30);
    EXPECT_FALSE(e.effectivePreferences().showSync);

    e.configuration = own({});
    e.configuration.metric = WidgetMetric::tokens;
    e.configuration.period = WidgetPeriod::week;
    EXPECT_EQ(e.metric(), WidgetMetric::tokens);
    EXPECT_EQ(e.period(), WidgetPeriod::week);
    EXPECT_EQ(e.effectivePreferences(), WidgetPreferences{});
    EXPECT_EQ(e.quotas().size(), 3u);
    EXPECT_EQ(e.usage(), nullptr); // no "week" in the map

    e.configuration = {};
    e.preferences.metric = "sideways";
    e.preferences.period = "";
    e.preferences.providerIDs = {WidgetPreferences::noneSelected};
    EXPECT_EQ(e.metric(), WidgetMetric::remaining);
    EXPECT_EQ(e.period(), WidgetPeriod::today);
    EXPECT_TRUE(e.quotas().empty());
    EXPECT_EQ(e.selectedQuota(), nullptr);
}

TEST(Effective, SelectedQuotaWrapsAndCountsNegativeAsZeroAndTheNextTruncates) {
    Entry e{.snapshot = threeQuotas()};
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "A"},
        {7, "B"},
        {-4, "A"},
        {std::numeric_limits<std::int64_t>::max(), "B"},
        {std::numeric_limits<std::int64_t>::min(), "A"}};
    for (const auto& [index, title] : cases) {
        e.selectedIndex = index;
        EXPECT_EQ(e.selectedQuota()->title(), title) << index;
    }
    // The next position truncates.
    EXPECT_EQ(CycleSubscriptionIntent::next(5, 3), 0);
    EXPECT_EQ(CycleSubscriptionIntent::next(7, 0), 0);
    EXPECT_EQ(CycleSubscriptionIntent::next(-3, 3), -2);
    EXPECT_EQ(CycleSubscriptionIntent::next(std::numeric_limits<std::int64_t>::max(), 10), 8);
}

TEST_F(Container, ProviderReadsTheFilesAfreshAndFallsBackAndBadSuitesReadZero) {
    const Timeline empty = Provider::timeline({});
    ASSERT_EQ(empty.entries.size(), 1u);
    EXPECT_TRUE(empty.entries[0].snapshot.quotas.empty());
    EXPECT_EQ(empty.entries[0].selectedIndex, 0);
    EXPECT_EQ(empty.after - empty.entries[0].date, std::chrono::seconds(1200));

    // A "synced" footer is read again when it would turn stale; any other waits the interval.
    using namespace std::chrono_literals;
    Snapshot synced = threeQuotas();
    synced.updatedAt = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    Snapshot offline = synced, stale = synced;
    offline.issue = "网关无响应";
    stale.updatedAt = *synced.updatedAt - 181s;
    WidgetPreferences quiet;
    quiet.showSync = false;
    for (const auto& [s, p, early] : {std::tuple{synced, WidgetPreferences{}, true},
                                      {offline, {}, false},
                                      {stale, {}, false},
                                      {synced, quiet, false}}) {
        store(s);
        store(p);
        const Timeline t = Provider::timeline({});
        EXPECT_EQ(t.after, early ? *s.updatedAt + 181s : t.entries[0].date + 1200s);
    }
    store(WidgetPreferences{});

    store(threeQuotas());
    WidgetPreferences p;
    p.quotaCount = -5;
    p.metric = "nonsense";
    store(p);
    writeSuite("[General]\nselection.all=2\n");
    Entry e = Provider::snapshot({});
    EXPECT_EQ(e.snapshot.quotas.size(), 3u);
    EXPECT_EQ(e.preferences.quotaCount, -5);
    EXPECT_EQ(e.selectedQuota()->title(), "C");
    EXPECT_TRUE(Provider::placeholder().snapshot.quotas.empty());

    writeSuite("[General]\nselection.all=1\n");
    EXPECT_EQ(Provider::snapshot({}).selectedIndex, 1);

    // Files a reader could block on count as unusable.
    for (const char* name : {"snapshot.json", "previous.json", "widget-preferences.json"}) {
        fs::remove(directory() / name);
        ASSERT_EQ(::mkfifo((directory() / name).c_str(), 0600), 0);
    }
    e = Provider::snapshot({});
    EXPECT_TRUE(e.snapshot.quotas.empty());
    EXPECT_EQ(e.preferences, WidgetPreferences{});

    // Bad suites read zero.
    const std::pair<const char*, std::int64_t> values[] = {
        {"-3", -3}, {"99999999999999999999999", 0}, {"1e300", 0}, {"abc", 0}, {"4.7", 4}, {"", 0},
    };
    for (const auto& [text, expected] : values) {
        writeSuite(std::string("[General]\nselection.all=") + text + "\n");
        EXPECT_EQ(SelectionSuite().integer("selection.all"), expected) << text;
    }
    writeSuite("\x01\x02 not ini [[[ =");
    EXPECT_EQ(SelectionSuite().integer("selection.all"), 0);
    fs::remove(directory() / "selection.ini");
    ASSERT_EQ(::mkfifo((directory() / "selection.ini").c_str(), 0600), 0);
    EXPECT_EQ(SelectionSuite().integer("selection.all"), 0); // would block if opened
    EXPECT_EQ(SelectionSuite(std::nullopt).integer("selection.all"), 0);
}

TEST_F(Container, CyclingAdvancesTheSharedGroupAndKeepsIdsApart) {
    const CycleSubscriptionIntent click{"selection.all", 3};
    std::vector<std::int64_t> seen;
    for (int i = 0; i < 4; ++i) {
        click.perform();
        seen.push_back(SelectionSuite().integer("selection.all"));
    }
    EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 0, 1}));
    EXPECT_EQ(test::modeOf(directory() / "selection.ini"), 0600u);

    // A following widget and an own one without choices share the group.
    ConfigurationIntent ownWithoutChoice;
    ownWithoutChoice.followsAppSettings = false;
    EXPECT_EQ(Provider::snapshot(ownWithoutChoice).selectedIndex, 1);

    // Ids that differ only in slashes stay separate groups.
    CycleSubscriptionIntent{"selection.a/b", 5}.perform();
    CycleSubscriptionIntent{"selection.a//b", 5}.perform();
    CycleSubscriptionIntent{"selection.a//b", 5}.perform();
    EXPECT_EQ(SelectionSuite().integer("selection.a/b"), 1);
    EXPECT_EQ(SelectionSuite().integer("selection.a//b"), 2);

    // The file stays in QSettings' format.
    CycleSubscriptionIntent{"selection.|订阅 1||;b|x||", 3}.perform();
    const QSettings suite(QString::fromStdString((directory() / "selection.ini").string()),
                          QSettings::IniFormat);
    EXPECT_EQ(suite.value("selection.all").toLongLong(), 1);
    EXPECT_EQ(suite.value("selection.|订阅 1||;b|x||").toLongLong(), 1);
}

TEST_F(Container, InterleavedClicksOfTwoProcessesAreBothCounted) {
    constexpr int perProcess = 40;
    auto clicks = [] {
        for (int i = 0; i < perProcess; ++i)
            CycleSubscriptionIntent{"selection.x", 1000}.perform();
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        clicks();
        ::_exit(0);
    }
    clicks();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(SelectionSuite().integer("selection.x"), 2 * perProcess);
}

TEST_F(Container, CyclingWithoutASuiteStillRequestsTheReload) {
    test::app();
    test::ReloadListener bus;
    if (!bus.connected)
        GTEST_SKIP() << "no session bus";
    // The container's place is a plain file: the suite cannot be opened.
    fs::create_directories(dir.path() / "data");
    std::ofstream(directory()) << "not a directory";
    CycleSubscriptionIntent{"selection.all", 3}.perform();
    EXPECT_EQ(bus.take(1), 1);
}

#include "support/qt/moc_reload_listener.cpp"

TEST(WidgetTexts, TwoDigitTwentyFourHourTimesInTheUsersLocaleAndZone) {
    const Instant march1 = Instant(std::chrono::seconds(1740816300)); // 2025-03-01T08:05:00Z
    test::ScopedEnv zone("TZ", "Asia/Shanghai");
    for (const auto& [locale, reset] : {std::pair{"zh_CN.UTF-8", "03/01 16:05"},
                                        {"en_US.UTF-8", "03/01, 16:05"},
                                        {"de_DE.UTF-8", "01.03., 16:05"}}) {
        test::ScopedEnv all("LC_ALL", locale);
        EXPECT_EQ(WidgetText::clock(march1), "16:05") << locale;
        EXPECT_EQ(WidgetText::reset(march1), reset) << locale;
    }
    test::ScopedEnv utc("TZ", "UTC");
    EXPECT_EQ(WidgetText::clock(march1), "08:05");
    // Locales whose own short patterns drop the leading zero ("8:05", "1/3").
    for (const auto& [locale, clock, reset] : {std::tuple{"ja_JP.UTF-8", "08:05", "03/01 08:05"},
                                               {"es_ES.UTF-8", "08:05", "01/03, 08:05"},
                                               {"fi_FI.UTF-8", "08.05", "01.03. 08.05"},
                                               {"he_IL.UTF-8", "08:05", "01.03, 08:05"},
                                               {"cs_CZ.UTF-8", "08:05", "01. 03. 08:05"},
                                               {"hu_HU.UTF-8", "08:05", "03. 01. 08:05"},
                                               {"nb_NO.UTF-8", "08:05", "01.03., 08:05"}}) {
        test::ScopedEnv all("LC_ALL", locale);
        EXPECT_EQ(WidgetText::clock(march1), clock) << locale;
        EXPECT_EQ(WidgetText::reset(march1), reset) << locale;
    }
    QuotaWindow w;
    EXPECT_EQ(WidgetText::remaining(nullptr), "\u2014");
    EXPECT_EQ(WidgetText::remaining(&w), "\u2014");
    w.used = 130;
    EXPECT_EQ(WidgetText::remaining(&w), "0%");
    w.remaining = 14.4;
    EXPECT_EQ(WidgetText::remaining(&w), "14%");
    w.unlimited = true;
    EXPECT_EQ(WidgetText::remaining(&w), "无限制");
}
