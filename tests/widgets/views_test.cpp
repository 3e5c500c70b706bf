// The three families drawn offscreen from prepared files: what they show, what clicks do.
#include <QAccessible>
#include <QTest>

#include "model/display.h"
#include "widget_fixture.h"
#include "widgets/provider.h"
#include "widgets/quota_row.h"
#include "widgets/selection_suite.h"
#include "widgets/widget_parts.h"
#include "widgets/widget_text.h"

using namespace std::chrono_literals;
using namespace tessel;
using test::shown;
using Family = widget::Family;

namespace {

const Instant now = std::chrono::system_clock::now();

QString clock(Instant at) {
    return QString::fromStdString(WidgetText::clock(at));
}

Entry entryOf(Snapshot snapshot, WidgetPreferences preferences = {}, Instant date = now) {
    return Entry{.date = date, .snapshot = std::move(snapshot), .preferences = preferences};
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

} // namespace

using Views = test::ContainerTest;

TEST_F(Views, SmallWaitsWithoutDataThenItsButtonCyclesToTheNextSubscription) {
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
    EXPECT_EQ(view->items()[2].text, "Lumen Pro");

    // Elsewhere is the tap target; the refresh symbol is a link.
    click(*view, view->rect().bottomLeft() + QPoint(5, -5));
    click(*view, view->items()[1].rect.center());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(opened, (QList<QUrl>{QUrl("tesselwidget://overview"), QUrl("tesselwidget://refresh"),
                                   QUrl("tesselwidget://overview")}));

    // One subscription: nothing to cycle to.
    WidgetPreferences one;
    one.providerIDs = {view->entry().snapshot.quotas[0].id()};
    auto single = shownView(Family::Small, entryOf(view->entry().snapshot, one));
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
}

TEST_F(Views, SmallMetricsAndFooterStates) {
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

TEST_F(Views, MediumAndLargeListUpToThreeRows) {
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
              (QStringList{"团队 Aster", "18%", "每日请求"}));
    EXPECT_TRUE(three->items()[4].text.endsWith(" 重置"));
    expectLaidOut(*three);

    p.showQuotas = false;
    EXPECT_EQ(shown(*shownView(Family::Medium, entryOf(sample, p))),
              (QStringList{"TESSEL", "打开应用并刷新", "同步于 " + clock(now)}));

    Snapshot none;
    EXPECT_EQ(shown(*shownView(Family::Medium, entryOf(none))).mid(2, 2),
              (QStringList{"暂无订阅额度", "在应用中选择订阅"}));
}

TEST_F(Views, LargeAddsFiguresChartAndCounts) {
    const Snapshot sample = test::sampleSnapshot(now);
    WidgetPreferences p;
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
