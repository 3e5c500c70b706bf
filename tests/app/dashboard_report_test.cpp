// The report over a real service and stored snapshots, as shown and as a screen reader reads it.
#include <QAbstractButton>
#include <QComboBox>
#include <QScrollBar>
#include <QTest>

#include "app/dashboard/distribution_list.h"
#include "app/dashboard/metric_tile.h"
#include "app/dashboard/quota_grid.h"
#include "app/dashboard/report_data.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard/segmented_picker.h"
#include "app/dashboard/trend_chart.h"
#include "dashboard_fixture.h"
#include "model/display.h"
#include "ui/text_label.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

QStringList names(const std::vector<Report::Row>& rows) {
    QStringList shown;
    for (const Report::Row& r : rows)
        shown << r.name + (r.hasSub ? "/" + r.sub : "") + " " + r.calls + " " + r.cost;
    return shown;
}

QStringList tileValues(ReportView& report) {
    QStringList values;
    for (MetricTile* tile : report.tiles())
        values << tile->value();
    return values;
}

QString text(ReportView& report, const char* name) {
    return report.findChild<QLabel*>(name)->text();
}

using DashboardReport = test::DashboardTest;

TEST(DashboardData, RowsTilesAndNotesFollowTheChosenPeriodAndDimension) {
    test::ScopedEnv zone("TZ", "UTC"), locale("LC_ALL", "en_US.UTF-8");
    Usage u{.period = "today", .calls = 950, .input = 10}; // no output: no token figure
    u.agents = std::vector<UsageGroup>{{.id = "agent-1", .sub = "主力订阅"}};
    u.models = std::vector<UsageGroup>{{.id = "m1", .provider = "a", .calls = 3},
                                       {.id = "m2", .provider = "b", .calls = 5},
                                       {.id = "m3", .calls = 1}};

    EXPECT_EQ(names(Report::rows(&u, "agents")), QStringList({"agent-1/主力订阅 — 次 —"}));
    EXPECT_EQ(names(Report::rows(&u, "models")).size(), 3);
    // The roll-up: by calls, one line each, absent providers as "unknown".
    EXPECT_EQ(names(Report::rows(&u, "providers")),
              QStringList({"b 5 次 $0.00", "a 3 次 $0.00", "unknown 1 次 $0.00"}));
    EXPECT_EQ(names(Report::rows(&u, "bogus")), names(Report::rows(&u, "providers")));
    u.agents.reset();
    EXPECT_TRUE(Report::rows(&u, "agents").empty());
    EXPECT_TRUE(Report::rows(nullptr, "models").empty());

    const auto tiles = Report::tiles(&u);
    EXPECT_EQ(tiles[0].value, "—");
    EXPECT_EQ(tiles[1].value, "—");
    EXPECT_EQ(tiles[2].value, "950");
    EXPECT_TRUE(Report::pricingNote(nullptr).endsWith("；0 次请求缺少定价。"));
    u.unpriced = 7;
    EXPECT_TRUE(Report::pricingNote(&u).endsWith("；7 次请求缺少定价。"));

    Snapshot s;
    EXPECT_EQ(Report::usageFor(s, "week"), nullptr);
    EXPECT_TRUE(Report::syncNote(s).isEmpty());
    s.updatedAt = Instant(std::chrono::seconds(1'741'816'245)); // 2025-03-12 21:50:45 UTC
    EXPECT_EQ(Report::syncNote(s), "最近完整同步：Mar 12, 2025, 9:50:45\u202fPM");
}

TEST_F(DashboardReport, EmptySnapshotAndBothProblemsInTheirPlaces) {
    // No container: the write of the failed cycle fails too.
    gateway.on("api/hello", test::Route::json("{}", 500));
    DataSyncService::Options o;
    o.container = std::nullopt;
    o.settingsPath = settingsPath();
    DataSyncService sync(o);
    ReportView report(&sync);
    report.show();
    EXPECT_EQ(report.visibleParts(),
              QStringList({"headline", "tiles", "subscriptionsHeading", "emptyQuotas", "trend",
                           "distributionHeading", "rows", "footnotes"}));
    EXPECT_EQ(tileValues(report), QStringList({"—", "—", "—"}));
    EXPECT_FALSE(report.findChild<QWidget*>("emptyTrend")->isHidden());
    EXPECT_EQ(report.rows()->count(), 0);
    EXPECT_TRUE(report.findChild<TextLabel*>("syncNote")->isHidden());

    QCoro::waitFor(sync.refresh(false));
    ASSERT_TRUE(sync.snapshot().issue.has_value());
    ASSERT_FALSE(sync.storageIssue().isEmpty());
    const QStringList parts = report.visibleParts();
    ASSERT_GE(parts.size(), 3);
    EXPECT_EQ(parts.mid(0, 3), QStringList({"headline", "issue", "storage"}));
    EXPECT_EQ(report.findChild<TextLabel*>("storage")->text(), sync.storageIssue());
}

TEST_F(DashboardReport, SectionsAndPickersRedrawFromTheSnapshotWithoutARequest) {
    Snapshot stored = test::sampleSnapshot();
    stored.usage.erase("month");
    ReportView report(&service(stored));
    report.resize(900, 700);
    report.show();
    EXPECT_EQ(report.visibleParts(),
              QStringList({"headline", "tiles", "subscriptionsHeading", "quotaGrid", "trend",
                           "distributionHeading", "rows", "footnotes"}));
    EXPECT_EQ(text(report, "title"), "你的 AI，一目了然。");
    EXPECT_EQ(report.findChild<TextLabel*>("subtitle")->text(),
              "额度、调用与趋势，留在你的电脑上。");

    service().setScreen("usage");
    EXPECT_EQ(text(report, "title"), "用量分析"); // the toolbar's title: dashboard_window_test
    EXPECT_FALSE(report.visibleParts().contains("subscriptionsHeading"));
    EXPECT_FALSE(report.visibleParts().contains("quotaGrid"));

    // An unknown section: the overview's title, but no subscriptions.
    service().setScreen("unknown");
    EXPECT_EQ(text(report, "title"), "你的 AI，一目了然。");
    EXPECT_EQ(report.visibleParts(), QStringList({"headline", "tiles", "trend",
                                                  "distributionHeading", "rows", "footnotes"}));
    service().setScreen("overview");

    const Usage& today = stored.usage.at("today");
    EXPECT_EQ(tileValues(report)[2], QString::fromStdString(tessel::Display::number(today.calls)));
    EXPECT_EQ(report.rows()->count(), int(today.agents->size()));
    ASSERT_NE(report.chart(), nullptr);
    EXPECT_EQ(report.chart()->pointCount(), int(today.series->size()));

    // The keyboard reaches both pickers.
    report.periodPicker()->setFocus();
    QTest::keyClick(report.periodPicker(), Qt::Key_Down);
    EXPECT_EQ(report.period(), "week");
    EXPECT_EQ(report.chart()->pointCount(), int(stored.usage.at("week").series->size()));
    report.dimensionPicker()->segment(0)->setFocus();
    QTest::keyClick(report.dimensionPicker()->segment(0), Qt::Key_Right);
    EXPECT_EQ(report.dimension(), "models");
    EXPECT_EQ(report.rows()->count(), int(stored.usage.at("week").models->size()));
    // A screen reader's "Toggle" chooses as a click does.
    test::act(report.dimensionPicker()->segment(2), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(report.dimension(), "providers");
    EXPECT_EQ(report.rows()->count(), int(stored.usage.at("week").providers().size()));

    // A period the snapshot lacks.
    report.setPeriod("month");
    EXPECT_EQ(tileValues(report), QStringList({"—", "—", "—"}));
    EXPECT_TRUE(report.chart()->widget()->isHidden());
    EXPECT_FALSE(report.findChild<QWidget*>("emptyTrend")->isHidden());
    EXPECT_EQ(report.rows()->count(), 0);
    EXPECT_TRUE(
        report.findChild<TextLabel*>("pricingNote")->text().endsWith("；0 次请求缺少定价。"));
    EXPECT_EQ(gateway.requestCount(), 0u);
}

TEST_F(DashboardReport, OnlyTheCardsInViewAreMade) {
    Snapshot stored;
    for (int i = 0; i < 1000; ++i)
        stored.quotas.push_back(
            {.provider = "p" + std::to_string(i),
             .name = "订阅 " + std::to_string(i),
             .windows = std::vector<QuotaWindow>{{.name = "5 小时", .remaining = 50}}});
    ReportView report(&service(stored));
    report.resize(900, 700);
    report.show();
    test::settle();
    QuotaGrid* grid = report.quotaGrid();
    EXPECT_EQ(grid->columns(), 3); // 900 less the margins and the scroll bar holds three
    const int first = grid->builtCount();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 40);
    EXPECT_EQ(grid->cell(0)->width(), grid->cell(1)->width());

    // Down to the last row.
    QApplication::processEvents();
    report.verticalScrollBar()->setValue(grid->y() + grid->height() - 300);
    QApplication::processEvents();
    EXPECT_NE(grid->cell(999), nullptr);
    EXPECT_LT(grid->builtCount(), 80);

    report.resize(QuotaGrid::minimumColumn * 2 + 40, 700); // narrower than two columns
    QApplication::processEvents();
    EXPECT_EQ(grid->columns(), 1);
}

TEST_F(DashboardReport, TileValuesShrinkToHalfBeforeTheyAreCut) {
    MetricTile tile("估算费用 · USD", "—", "dollarsign.circle");
    tile.resize(200, 120);
    tile.show();
    FittedValue* value = tile.valueLabel();
    EXPECT_EQ(value->fittedFont().pixelSize(), FittedValue::fullPixelSize);
    EXPECT_EQ(value->accessibleName(), "—");

    tile.setValue("US$123,456,789.00");
    const int shrunk = value->fittedFont().pixelSize();
    EXPECT_LT(shrunk, FittedValue::fullPixelSize);
    EXPECT_GE(shrunk, FittedValue::fullPixelSize / 2);
    EXPECT_EQ(value->isElided(), shrunk == FittedValue::fullPixelSize / 2);
    tile.setValue(QString(200, u'9'));
    EXPECT_EQ(value->fittedFont().pixelSize(), FittedValue::fullPixelSize / 2);
    EXPECT_TRUE(value->isElided());
}

TEST_F(DashboardReport, HostileGatewayTextsKeepTheRowsAligned) {
    Snapshot stored;
    Usage u{.period = "today"};
    u.agents = std::vector<UsageGroup>{
        {.id = "plain", .calls = 2},
        {.id = "\u202Eevil\nname" + std::string(5000, 'x'), .sub = "line\r\nbreak", .calls = 1},
        {.id = "after", .calls = 3}};
    stored.usage["today"] = u;
    ReportView report(&service(stored));
    report.resize(800, 600);
    report.show();
    DistributionList* rows = report.rows();
    ASSERT_EQ(rows->count(), 3);
    const int line = rows->rowRect(0).height();
    EXPECT_GT(rows->rowRect(1).height(), line); // the second line only
    EXPECT_LT(rows->rowRect(1).height(), 2 * line);
    EXPECT_EQ(rows->rowRect(2).height(), line);
    EXPECT_EQ(rows->rowRect(2).top(), rows->rowRect(1).bottom() + 1);
    EXPECT_EQ(rows->rowAt(rows->rowRect(1).center().y()), 1);
    EXPECT_LE(rows->rowText(1).size(), 1100);
}

TEST_F(DashboardReport, ChartKeepsTheSeriesOrderAndItsExtremes) {
    std::unique_ptr<TrendChart> chart(TrendChart::make());
    ASSERT_NE(chart, nullptr) << "the chart module did not load";
    chart->widget()->resize(400, TrendChart::reportHeight);

    // Unordered, duplicated and far-future instants, plotted as given.
    UsagePoint a{.label = "a", .time = Instant(10h), .input = 10};
    UsagePoint b{.label = "b", .time = Instant(5h), .input = 1, .output = 2};
    UsagePoint c{.label = "c", .time = Instant(5h), .output = 4};
    UsagePoint d{.label = "d", .time = Instant(24h * 365 * 200), .input = 7};
    chart->setPoints(TrendChart::points({a, b, c, d}));
    EXPECT_EQ(chart->drawnPoints(),
              QList<QPointF>({{36e6, 10}, {18e6, 3}, {18e6, 4}, {24.0 * 365 * 200 * 3600e3, 7}}));
    EXPECT_EQ(chart->widget()->accessibleName(), "Token 用量趋势，4 个时间段");
    EXPECT_TRUE(chart->toolTipAt(qint64(35e6)).endsWith("\n10 Token"));

    // 100 000 points become two per column, with the highest and lowest kept.
    std::vector<TrendPoint> many;
    for (int i = 0; i < 100'000; ++i)
        many.push_back({i * 60'000LL, double(i % 97)});
    many[54'321].tokens = 1e9;
    many[77'777].tokens = -5;
    chart->setPoints(many);
    const QList<QPointF> drawn = chart->drawnPoints();
    EXPECT_LE(drawn.size(), 2 * 400 + 2);
    EXPECT_TRUE(drawn.contains(QPointF(54'321 * 60e3, 1e9)));
    EXPECT_TRUE(drawn.contains(QPointF(77'777 * 60e3, -5)));
    EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(),
                               [](QPointF l, QPointF r) { return l.x() < r.x(); }));
    EXPECT_EQ(chart->widget()->accessibleName(), "Token 用量趋势，100000 个时间段");
}

TEST_F(DashboardReport, AScreenReaderReadsTheReport) {
    Snapshot stored = test::sampleSnapshot();
    ReportView report(&service(stored));
    report.resize(1000, 2400);
    report.show();
    QApplication::processEvents();
    const QStringList texts = test::spoken(&report);
    const Usage& today = stored.usage.at("today");
    const QString cost = QString::fromStdString(tessel::Display::money(today.cost));
    for (const QString& expected :
         {QString("你的 AI，一目了然。"), QString("时间范围"), QString("今日"),
          QString("估算费用 · USD"), cost, QString("订阅与额度"), QString("调用趋势"),
          QString("Token 用量趋势，%1 个时间段").arg(today.series->size()), QString("用量分布"),
          QString("维度"), QString("Agent"), QString("模型"), QString("供应商"),
          QString::fromStdString(stored.quotas.front().title())})
        EXPECT_TRUE(texts.contains(expected)) << expected.toStdString();
    // Each distribution row is one item with its name, calls and cost.
    const UsageGroup& first = today.agents->front();
    const QString row = QString::fromStdString(first.name.value_or(first.id)) + "，" +
                        QString::fromStdString(tessel::Display::number(first.calls)) + " 次，" +
                        QString::fromStdString(tessel::Display::money(first.cost));
    EXPECT_TRUE(texts.contains(row)) << row.toStdString();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const QString& t) { return t.startsWith("最近完整同步："); }));
}

} // namespace
