// The three families drawn offscreen from prepared files: what they show, what clicks do; the
// configuration, stored selection and effective settings over real files; the built plug-in
// as the host sees it.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QPluginLoader>
#include <QSettings>
#include <QTest>

#include <elf.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "model/display.h"
#include "support/qt/reload_listener.h"
#include "widget_fixture.h"
#include "widgets/configuration.h"
#include "widgets/cycle.h"
#include "widgets/provider.h"
#include "widgets/quota_row.h"
#include "widgets/selection_suite.h"
#include "widgets/widget_parts.h"
#include "widgets/widget_text.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::shown;
using Family = widget::Family;
namespace fs = std::filesystem;

namespace {

const Instant now = std::chrono::system_clock::now();

QString clock(Instant at) {
    return QString::fromStdString(WidgetText::clock(at));
}

Entry entryOf(const Snapshot& snapshot, WidgetPreferences preferences = {}, Instant date = now) {
    return Entry{.date = date, .preferences = preferences}.keep(snapshot);
}

Quota named(std::string name, std::vector<QuotaWindow> windows = {}) {
    Quota q;
    q.provider = name;
    q.name = std::move(name);
    if (!windows.empty())
        q.windows = std::move(windows);
    return q;
}

// Every item lies inside the widget, and no two overlap.
void expectLaidOut(WidgetContent& view) {
    const QList<widget::ViewItem> items = view.items();
    const QRect bounds = view.rect();
    for (int i = 0; i < items.size(); ++i) {
        EXPECT_TRUE(bounds.contains(items[i].rect)) << items[i].text.toStdString();
        for (int j = i + 1; j < items.size(); ++j)
            EXPECT_FALSE(items[i].rect.intersects(items[j].rect))
                << items[i].text.toStdString() << " / " << items[j].text.toStdString();
    }
}

// A click where the user would click: on the child under the point.
void click(WidgetContent& view, QPoint at) {
    QWidget* target = view.childAt(at);
    if (!target)
        target = &view;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&view, at));
}

std::unique_ptr<WidgetContent> shownView(Family family, Entry entry,
                                         widget::ViewActions actions = {}) {
    auto view = std::make_unique<WidgetContent>(family, std::move(entry), std::move(actions));
    view->show();
    return view;
}

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

std::vector<std::string> titles(const std::vector<Quota>& quotas) {
    std::vector<std::string> out;
    for (const Quota& q : quotas)
        out.push_back(q.title());
    return out;
}

using Container = test::ContainerTest;

// DT_NEEDED entries of a 64-bit ELF shared object.
std::vector<std::string> needed(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), {});
    if (image.size() < sizeof(Elf64_Ehdr))
        return {};
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    std::vector<std::string> out;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNAMIC)
            continue;
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto* entry =
            reinterpret_cast<const Elf64_Dyn*>(image.data() + sections[i].sh_offset);
        for (; entry->d_tag != DT_NULL; ++entry)
            if (entry->d_tag == DT_NEEDED)
                out.emplace_back(strings + entry->d_un.d_val);
    }
    return out;
}

} // namespace

using Views = test::ContainerTest;

TEST_F(Views, SmallWaitsWithoutDataCyclesWithItsButtonAndShowsEachMetricAndFooterState) {
    auto empty = shownView(Family::Small, Provider::snapshot({}));
    EXPECT_EQ(shown(*empty), (QStringList{"TESSEL", "打开应用并刷新", "等待 Tessel",
                                          "打开应用连接网关", "等待同步"}));
    const widget::ViewItem refresh = empty->items()[1];
    EXPECT_EQ(refresh.role, widget::ViewItem::Role::Link);
    EXPECT_EQ(refresh.url, QUrl("tesselwidget://refresh"));
    EXPECT_EQ(empty->tapUrl(), QUrl("tesselwidget://overview"));

    store(test::sampleSnapshot(now));
    std::vector<widget::Intent> ran;
    QList<QUrl> opened;
    std::unique_ptr<WidgetContent> view;
    // As a host may: the reload that follows the intent redraws the view inside the click.
    widget::ViewActions actions{[&](const QUrl& url) { opened << url; },
                                [&](const widget::Intent& intent) {
                                    ran.push_back(intent);
                                    view->setEntry(Provider::placeholder());
                                }};
    view = shownView(Family::Small, Provider::snapshot({}), actions);
    EXPECT_EQ(shown(*view), (QStringList{"TESSEL", "打开应用并刷新", "主力订阅", "62%",
                                         "5 小时 · 剩余", "同步于 " + clock(now)}));
    const widget::ViewItem button = view->items()[2];
    EXPECT_EQ(button.role, widget::ViewItem::Role::Button);
    EXPECT_TRUE(button.enabled);
    EXPECT_EQ(button.accessibleName, "主力订阅，切换到下一个订阅");
    expectLaidOut(*view);
    click(*view, button.rect.center());
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0].parameters.value("selectionKey"), "selection.all");
    EXPECT_EQ(ran[0].parameters.value("count"), 6);
    EXPECT_TRUE(opened.isEmpty()); // the button is no tap on the widget
    ran[0].perform();
    EXPECT_EQ(SelectionSuite().integer("selection.all"), 1);
    view->setEntry(Provider::snapshot({}));
    EXPECT_EQ(view->items()[2].text, "Nimbrel Trail");

    // Elsewhere is the tap target; the refresh symbol is a link.
    click(*view, view->rect().bottomLeft() + QPoint(5, -5));
    click(*view, view->items()[1].rect.center());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(opened, (QList<QUrl>{QUrl("tesselwidget://overview"), QUrl("tesselwidget://refresh"),
                                   QUrl("tesselwidget://overview")}));

    // One subscription: nothing to cycle to.
    WidgetPreferences one;
    one.providerIDs = {view->entry().quotas()[0].id()};
    auto single = shownView(Family::Small, entryOf(test::sampleSnapshot(now), one));
    const widget::ViewItem name = single->items()[2];
    EXPECT_FALSE(name.enabled);
    // Yet it is drawn as text, not in the palette's faint disabled colour.
    QPalette palette = single->palette();
    palette.setColor(QPalette::Window, QColor(0xf6, 0xf6, 0xf6));
    palette.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xbe, 0xbe, 0xbe));
    single->setPalette(palette);
    const QImage image = single->render(1);
    int darkest = 255;
    for (int y = name.rect.top(); y <= name.rect.bottom(); ++y)
        for (int x = name.rect.left(); x <= name.rect.right(); ++x)
            darkest = std::min(darkest, image.pixelColor(x, y).value());
    EXPECT_LT(darkest, 0x60);

    // Each metric and footer state.
    WidgetPreferences cost;
    cost.metric = "cost";
    Snapshot fresh;
    fresh.updatedAt = now - 180s;
    auto usage = shownView(Family::Small, entryOf(fresh, cost));
    EXPECT_EQ(shown(*usage), (QStringList{"TESSEL", "打开应用并刷新", "今日", "—", "估算费用 · USD",
                                          "同步于 " + clock(now - 180s)}));
    EXPECT_EQ(usage->tapUrl(), QUrl("tesselwidget://usage"));

    Snapshot old = fresh;
    old.updatedAt = now - 181s;
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(old, cost))).mid(5),
              (QStringList{"同步于 " + clock(now - 181s), "· 已过期"}));
    old.issue = "网关无响应";
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(old, cost))).mid(5),
              (QStringList{"同步于 " + clock(now - 181s), "· 离线"}));
    old.updatedAt.reset();
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(old, cost))).mid(5), QStringList{"连接异常"});

    // Window values by metric; a quota without windows shows its balance or state.
    Quota withError = named("Q", {{.name = "5 小时", .used = 130}});
    withError.error = "401";
    Snapshot s;
    s.quotas = {withError};
    WidgetPreferences used;
    used.metric = "used";
    used.showSync = false;
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(s, used))).mid(2),
              (QStringList{"Q", "130%", "提供商暂不可用", "5 小时 · 已用"}));
    used.metric = "remaining";
    used.showWindowName = false;
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(s, used))).mid(3),
              (QStringList{"0%", "提供商暂不可用"}));
    used.metric = "reset";
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(s, used)))[3], "未提供时间");
    s.quotas = {named("Balance")};
    s.quotas[0].balance = "¥ 86.40";
    EXPECT_EQ(shown(*shownView(Family::Small, entryOf(s, used)))[3], "¥ 86.40");
}

TEST_F(Views, MediumAndLargeListUpToThreeRowsAndLargeAddsFiguresChartAndCounts) {
    const Snapshot sample = test::sampleSnapshot(now);
    WidgetPreferences p;
    p.quotaCount = 0;
    auto medium = shownView(Family::Medium, entryOf(sample, p));
    EXPECT_EQ(shown(*medium), (QStringList{"TESSEL", "打开应用并刷新", "主力订阅\n62%\n5 小时\n+2",
                                           "同步于 " + clock(now)}));
    EXPECT_EQ(medium->items()[2].accessibleName, "主力订阅，62%，5 小时，+2");
    QAccessibleInterface* row =
        QAccessible::queryAccessibleInterface(medium->findChild<QuotaRowView*>());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->role(), QAccessible::StaticText);
    EXPECT_EQ(row->text(QAccessible::Name), "主力订阅，62%，5 小时，+2");
    EXPECT_EQ(row->childCount(), 0);
    p.quotaCount = 1'000'000'000;
    p.showReset = true;
    auto three = shownView(Family::Medium, entryOf(sample, p));
    ASSERT_EQ(three->items().size(), 6);
    EXPECT_EQ(three->items()[4].text.split('\n').mid(0, 3),
              (QStringList{"团队 Brindle", "18%", "每日请求"}));
    EXPECT_TRUE(three->items()[4].text.endsWith(" 重置"));
    expectLaidOut(*three);

    p.showQuotas = false;
    EXPECT_EQ(shown(*shownView(Family::Medium, entryOf(sample, p))),
              (QStringList{"TESSEL", "打开应用并刷新", "同步于 " + clock(now)}));

    Snapshot none;
    EXPECT_EQ(shown(*shownView(Family::Medium, entryOf(none))).mid(2, 2),
              (QStringList{"暂无订阅额度", "在应用中选择订阅"}));

    p = {};
    p.showRequests = p.showAgents = true;
    auto large = shownView(Family::Large, entryOf(sample, p));
    const Usage& today = sample.usage.at("today");
    const QString cost = QString::fromStdString(Display::money(today.cost));
    const QString tokens = QString::fromStdString(Display::number(today.tokens()));
    const QString calls = QString::fromStdString(Display::number(today.calls)) + " 次请求";
    const QStringList texts = shown(*large);
    ASSERT_EQ(texts.size(), 13) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts.mid(5, 5),
              (QStringList{cost, "今日估算费用", tokens, "输入 + 输出 Token", "Token 用量趋势"}));
    EXPECT_EQ(texts[10], calls);
    EXPECT_TRUE(texts[11].contains(" 次"));
    EXPECT_EQ(large->items()[9].role, widget::ViewItem::Role::Chart);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(large->findChild<TrendChart*>())->role(),
              QAccessible::Chart);
    expectLaidOut(*large);

    // Without quotas the figures come first; without usage they show the placeholder.
    p.showQuotas = false;
    p.chartMetric = "cost";
    Snapshot noUsage = sample;
    noUsage.usage.clear();
    EXPECT_EQ(shown(*shownView(Family::Large, entryOf(noUsage, p))),
              (QStringList{"TESSEL", "打开应用并刷新", "—", "今日估算费用", "—",
                           "输入 + 输出 Token", "— 次请求", "同步于 " + clock(now)}));
    EXPECT_EQ(shown(*shownView(Family::Large, entryOf(sample, p)))[6], "费用趋势");
}

TEST_F(Views, HostileDataDrawsInsideTheWidget) {
    Snapshot s;
    s.updatedAt = now;
    const std::string longName = "\u200f\u202e" + std::string(10000, 'W') + "\n第二行 \U0001F600";
    for (int i = 0; i < 10000; ++i)
        s.quotas.push_back(named(i == 0 ? longName : "订阅 " + std::to_string(i),
                                 {{.name = longName, .remaining = 1e300}}));
    s.quotas[0].balance = std::string(10000, '9');
    Usage usage{.period = "today", .calls = 5, .input = 1, .output = 2};
    usage.series.emplace();
    for (int i = 0; i < 100000; ++i)
        usage.series->push_back(
            {.label = "", .time = now + std::chrono::seconds(i), .input = i % 977, .output = 1});
    usage.series->front().input = 50; // no step's extreme: the drawn peaks keep their place
    usage.agents = {{.id = std::string(5000, 'a')}};
    s.usage["today"] = usage;
    WidgetPreferences p;
    p.showReset = p.showRequests = p.showAgents = true;
    p.quotaCount = -5;
    for (Family family : {Family::Small, Family::Medium, Family::Large}) {
        auto view = shownView(family, entryOf(s, p, now));
        expectLaidOut(*view);
        EXPECT_FALSE(view->render(2).isNull());
    }
    auto large = shownView(Family::Large, entryOf(s, p, now));
    const auto* chart = large->findChild<TrendChart*>();
    ASSERT_NE(chart, nullptr);
    EXPECT_LE(chart->points().size(), 2048u);
    EXPECT_EQ(std::ranges::count(chart->points(), QPointF(976. / 99999, 977)), 1);
    const auto* title = large->findChildren<FitLabel*>()[1]; // "TESSEL" is the first
    EXPECT_TRUE(title->isElided());
    EXPECT_EQ(title->visibleLines().size(), 1);
}

// Each family at its size and scale, light and dark; TESSEL_SCREENSHOTS=DIR keeps the images.
TEST_F(Views, RendersAtTheFamilySizeAndScaleInThePalette) {
    store(test::sampleSnapshot(now));
    WidgetPreferences p;
    p.showRequests = p.showAgents = p.showReset = true;
    store(p);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    QPalette light;
    light.setColor(QPalette::Window, QColor(0xf6, 0xf6, 0xf6));
    light.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    const QString directory = qEnvironmentVariable("TESSEL_SCREENSHOTS");
    for (Family family : {Family::Small, Family::Medium, Family::Large})
        for (const auto& [name, palette] : {std::pair{"light", light}, {"dark", dark}}) {
            WidgetContent view(family, Provider::snapshot({}));
            view.setPalette(palette);
            for (qreal ratio : {1.0, 1.5, 2.0}) {
                const QImage image = view.render(ratio);
                EXPECT_EQ(image.size(), widget::familySize(family) * ratio);
                EXPECT_EQ(image.devicePixelRatio(), ratio);
                EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() - 3),
                          palette.color(QPalette::Window));
                EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0); // rounded corner
                if (!directory.isEmpty())
                    image.save(QStringLiteral("%1/%2-%3@%4x.png")
                                   .arg(directory, widget::familyName(family), name)
                                   .arg(ratio));
            }
        }
}

TEST(Configuration, SelectionKeyIgnoresPickOrderAndCanonicalFormAndThePlainFormRoundTrips) {
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

    // The plain form round-trips; unknown texts fall back.
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

TEST_F(Container, ProviderReadsTheFilesAfreshAndFallsBackAndBadSuitesReadZero) {
    const Timeline empty = Provider::timeline({});
    ASSERT_EQ(empty.entries.size(), 1u);
    EXPECT_TRUE(empty.entries[0].quotas().empty());
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
    EXPECT_EQ(e.shownCount(), 3u);
    EXPECT_EQ(e.preferences.quotaCount, -5);
    EXPECT_EQ(e.selectedQuota()->title(), "C");
    EXPECT_TRUE(Provider::placeholder().quotas().empty());
    // Concurrent readers of one burst share one decode; a rewrite is read again.
    std::vector<Entry> burst(4);
    std::vector<std::thread> readers;
    for (Entry& each : burst)
        readers.emplace_back([&each] { each = Provider::snapshot({}); });
    for (std::thread& reader : readers)
        reader.join();
    for (const Entry& each : burst)
        EXPECT_EQ(each.selectedQuota()->title(), "C");
    // The burst's decode is kept until the burst is over: the same file changed in place under
    // the same identity is read again only once it is let go.
    const fs::path file = directory() / "snapshot.json";
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    std::ifstream in(file);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    in.close();
    text.replace(text.find("\"name\":\"C\""), 10, "\"name\":\"E\"");
    std::ofstream(file, std::ios::trunc) << text;
    const timespec times[] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(Provider::snapshot({}).selectedQuota()->title(), "C");
    Provider::releaseSnapshot();
    EXPECT_EQ(Provider::snapshot({}).selectedQuota()->title(), "E");
    Snapshot renamed = threeQuotas();
    renamed.quotas[2].name = "D";
    store(renamed);
    EXPECT_EQ(Provider::snapshot({}).selectedQuota()->title(), "D");

    writeSuite("[General]\nselection.all=1\n");
    EXPECT_EQ(Provider::snapshot({}).selectedIndex, 1);

    // Files a reader could block on count as unusable.
    for (const char* name : {"snapshot.json", "previous.json", "widget-preferences.json"}) {
        fs::remove(directory() / name);
        ASSERT_EQ(::mkfifo((directory() / name).c_str(), 0600), 0);
    }
    e = Provider::snapshot({});
    EXPECT_TRUE(e.quotas().empty());
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

TEST(Effective, FollowingTakesThePreferencesAndOwnConfigurationTheDefaults) {
    WidgetPreferences app;
    app.metric = "cost";
    app.period = "month";
    app.showSync = false;
    app.providerIDs = {"|c||", "|a||"};
    Entry e = entryOf(threeQuotas(), app);
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
    EXPECT_EQ(e.keep(threeQuotas()).quotas().size(), 3u);
    EXPECT_EQ(e.usage(), nullptr); // no "week" in the map

    e.configuration = {};
    e.preferences.metric = "sideways";
    e.preferences.period = "";
    e.preferences.providerIDs = {WidgetPreferences::noneSelected};
    EXPECT_EQ(e.metric(), WidgetMetric::remaining);
    EXPECT_EQ(e.period(), WidgetPeriod::today);
    EXPECT_TRUE(e.keep(threeQuotas()).quotas().empty());
    EXPECT_EQ(e.selectedQuota(), nullptr);
}

TEST(Effective, SelectedQuotaWrapsAndCountsNegativeAsZeroAndTheNextTruncates) {
    Entry e;
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "A"},
        {7, "B"},
        {-4, "A"},
        {std::numeric_limits<std::int64_t>::max(), "B"},
        {std::numeric_limits<std::int64_t>::min(), "A"}};
    for (const auto& [index, title] : cases) {
        e.selectedIndex = index;
        EXPECT_EQ(e.keep(threeQuotas()).selectedQuota()->title(), title) << index;
    }
    // The next position truncates.
    EXPECT_EQ(CycleSubscriptionIntent::next(5, 3), 0);
    EXPECT_EQ(CycleSubscriptionIntent::next(7, 0), 0);
    EXPECT_EQ(CycleSubscriptionIntent::next(-3, 3), -2);
    EXPECT_EQ(CycleSubscriptionIntent::next(std::numeric_limits<std::int64_t>::max(), 10), 8);
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

// On its own: a fork after other work of the process (Qt's threads, their locks) could hang.
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

// The built plug-in as the host loads it; the texts a user sees of it are checked where the host
// shows them (host_test).
TEST(Plugin, LinksNeitherTheNetworkNorTheKeyStoreAndDescribesItselfAsData) {
    const std::vector<std::string> libraries = needed(TESSEL_WIDGETS_PLUGIN);
    ASSERT_FALSE(libraries.empty());
    bool widgets = false;
    for (const std::string& library : libraries) {
        EXPECT_EQ(library.find("curl"), std::string::npos) << library;
        EXPECT_EQ(library.find("secret"), std::string::npos) << library;
        EXPECT_EQ(library.find("uriparser"), std::string::npos) << library;
        EXPECT_EQ(library.find("Network"), std::string::npos) << library;
        widgets = widgets || library.find("Qt6Widgets") != std::string::npos;
    }
    EXPECT_TRUE(widgets);

    test::app();
    QPluginLoader loader(TESSEL_WIDGETS_PLUGIN);
    auto* plugin = qobject_cast<widget::WidgetPlugin*>(loader.instance());
    ASSERT_NE(plugin, nullptr) << loader.errorString().toStdString();
    const widget::WidgetDescription description = plugin->description();
    EXPECT_EQ(description.kind, "TesselDesktopWidget");
    EXPECT_EQ(description.families, (QList<Family>{Family::Small, Family::Medium, Family::Large}));
    EXPECT_EQ(loader.metaData().value("MetaData").toObject().value("kind"), "TesselDesktopWidget");

    const QList<widget::Parameter> parameters = plugin->parameters();
    ASSERT_EQ(parameters.size(), 4);
    QStringList keys;
    for (const widget::Parameter& p : parameters)
        keys << p.key;
    EXPECT_EQ(keys, (QStringList{"followsAppSettings", "subscriptions", "metric", "period"}));
    EXPECT_EQ(parameters[0].defaultValue, true);
    EXPECT_FALSE(parameters[1].defaultValue.isValid());
    EXPECT_EQ(parameters[2].typeTitle, "指标");
    // The values are what placed widgets store.
    QStringList metrics;
    for (const widget::Option& o : parameters[2].options)
        metrics << o.value;
    EXPECT_EQ(metrics, (QStringList{"remaining", "used", "reset", "cost", "tokens"}));
}
