// The dashboard window over a real service: sidebar, sections, toolbar, status, reopening; the
// report over stored snapshots, as shown and as a screen reader reads it; the tray's MenuPanel.
#include <QAbstractButton>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <sys/stat.h>

#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/distribution_list.h"
#include "app/dashboard/metric_tile.h"
#include "app/dashboard/quota_grid.h"
#include "app/dashboard/report_data.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard/segmented_picker.h"
#include "app/dashboard/sidebar.h"
#include "app/dashboard/toolbar.h"
#include "app/dashboard/trend_chart.h"
#include "app/dashboard_window.h"
#include "app/menu_panel.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "dashboard_fixture.h"
#include "model/display.h"
#include "ui/local_time.h"
#include "ui/quota_card.h"
#include "ui/text_label.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

class DashboardWindowTest : public test::DashboardTest {
protected:
    DashboardWindow& window(std::optional<Snapshot> stored = std::nullopt) {
        if (!window_)
            window_ =
                std::make_unique<DashboardWindow>(&service(std::move(stored)), &updates, &shell);
        return *window_;
    }
    DashboardView& view() { return *window().view(); }

    UpdateController updates;
    ShellSettings shell{settingsPath()};
    std::unique_ptr<DashboardWindow> window_;
};

TEST_F(DashboardWindowTest, SidebarSectionsFollowAndSetTheScreen) {
    Snapshot stored = test::sampleSnapshot();
    window(stored).show();
    Sidebar* sidebar = view().sidebar();
    QStringList labels;
    for (int i = 0; i < sidebar->list()->count(); ++i)
        labels << sidebar->list()->item(i)->text();
    EXPECT_EQ(labels, QStringList({"概览", "用量分析", "桌面小组件", "设置与诊断"}));
    EXPECT_EQ(sidebar->selected(), "overview");
    EXPECT_EQ(view().detail(), view().report());
    EXPECT_EQ(view().toolbar()->title(), "概览");
    EXPECT_GE(sidebar->width(), Sidebar::minimumWidth);

    // The keyboard moves through the sections; each starts at its top, on a shared scroll page.
    QScrollBar* report = view().report()->verticalScrollBar();
    ASSERT_GT(report->maximum(), 0);
    report->setValue(report->maximum());
    sidebar->list()->setFocus();
    QTest::keyClick(sidebar->list(), Qt::Key_Down);
    EXPECT_EQ(service().screen(), "usage");
    EXPECT_EQ(view().toolbar()->title(), "用量分析");
    EXPECT_EQ(report->value(), 0);
    QTest::keyClick(sidebar->list(), Qt::Key_Down);
    EXPECT_EQ(service().screen(), "widgets");
    EXPECT_EQ(view().toolbar()->title(), "小组件展示设置");
    EXPECT_EQ(view().detail()->objectName(), "widgetsSection");

    // Set from elsewhere (the panel, a URL): the open window follows at once.
    service().setScreen("settings");
    EXPECT_EQ(sidebar->selected(), "settings");
    EXPECT_EQ(view().detail()->objectName(), "settingsSection");
    QScrollBar* settings = qobject_cast<QAbstractScrollArea*>(view().detail())->verticalScrollBar();
    ASSERT_GT(settings->maximum(), 0);
    settings->setValue(settings->maximum());
    service().setScreen("widgets");
    service().setScreen("settings");
    EXPECT_EQ(settings->value(), 0);
    EXPECT_TRUE(view().toolbar()->refreshButton()->isVisible());
    service().setScreen("unknown");
    EXPECT_EQ(sidebar->selected(), "");
    EXPECT_EQ(view().detail(), view().report());
    EXPECT_EQ(view().toolbar()->title(), "概览");

    // The status block: synced with its version, or the orange offline mark.
    EXPECT_EQ(sidebar->status()->text(), "已同步");
    EXPECT_EQ(sidebar->statusSymbol(), "circle.fill");
    ASSERT_NE(sidebar->version(), nullptr);
    EXPECT_EQ(sidebar->version()->text(), "Tessel 1.4.2");

    // What a screen reader finds around the report.
    const QStringList texts = test::spoken(&window());
    for (const char* expected : {"Tessel", "概览", "用量分析", "桌面小组件", "设置与诊断", "已同步",
                                 "Tessel 1.4.2", "刷新", "读取 Tessel 并请求刷新桌面小组件"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(expected))) << expected;
}

TEST_F(DashboardWindowTest, AnIssueAndNoVersionShowOnlyTheOfflineStatus) {
    Snapshot stored;
    stored.issue = "无法连接 Tessel";
    stored.updatedAt = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    stored.quotas.push_back(test::sampleSnapshot().quotas.front());
    window(stored).show();
    EXPECT_EQ(view().sidebar()->status()->text(), "离线 / 同步异常");
    EXPECT_EQ(view().sidebar()->statusSymbol(), "wifi.slash");
    EXPECT_EQ(view().sidebar()->status()->tint(), Style::Tint::Orange);
    EXPECT_EQ(view().sidebar()->version(), nullptr);
}

TEST_F(DashboardWindowTest, ToolbarAndShortcutsFollowACycleInEverySection) {
    gateway.on("v1/tessel/quotas", test::Route::json(sample::quotas(), 200, 300ms));
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    service().setScreen("settings");
    DashboardToolbar* toolbar = view().toolbar();
    QToolButton* refresh = toolbar->refreshButton();
    EXPECT_EQ(refresh->text(), "刷新");
    EXPECT_EQ(refresh->toolTip(), "读取 Tessel 并请求刷新桌面小组件");

    // The window's first showing started the loop's cycle; wait for it, then ask for one.
    ASSERT_TRUE(test::spin([&] { return !service().syncing(); }));
    EXPECT_TRUE(toolbar->spinner()->isHidden());
    gateway.clearRequests();
    refresh->click();
    EXPECT_TRUE(service().syncing());
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_FALSE(toolbar->spinner()->isHidden());
    service().setScreen("widgets");
    EXPECT_FALSE(refresh->isEnabled());
    QTest::keyClick(&window(), Qt::Key_R, Qt::ControlModifier); // ignored while a cycle runs
    ASSERT_TRUE(test::spin([&] { return !service().syncing(); }));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_TRUE(toolbar->spinner()->isHidden());
    EXPECT_EQ(gateway.requestCount("v1/tessel/quotas"), 1u);

    // The keys themselves, on a real desktop under each key scheme: program_test.
}

TEST_F(DashboardWindowTest, ReopeningResetsThePickersButKeepsTheSectionAndTheGeometry) {
    // The default size is larger than the test's screen: the first window fits it all the same.
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    ASSERT_FALSE(room.expandedTo(DashboardWindow::defaultSize) == room);
    window(test::sampleSnapshot()).show();
    EXPECT_EQ(window().size(), window().size().boundedTo(room));
    service().setScreen("usage");
    view().report()->setPeriod("week");
    view().report()->setDimension("providers");
    window().resize(790, 590);
    // Private whatever the umask, like every other file of the program.
    const mode_t umask = ::umask(0);
    window().close();
    ::umask(umask);
    const std::filesystem::path state = DashboardWindow::statePath().toStdString();
    EXPECT_EQ(test::modeOf(state), 0600u);
    EXPECT_EQ(test::modeOf(state.parent_path()), 0700u);

    window().show();
    EXPECT_EQ(service().screen(), "usage");
    EXPECT_EQ(view().sidebar()->selected(), "usage");
    EXPECT_EQ(view().report()->period(), "today");
    EXPECT_EQ(view().report()->periodPicker()->currentText(), "今日");
    EXPECT_EQ(view().report()->dimension(), "agents");
    window().close();

    // The next start opens where the user left it.
    window_.reset();
    window().show();
    EXPECT_EQ(window().size(), QSize(790, 590));
    EXPECT_GE(window().QWidget::minimumSize().width(), 780);
    EXPECT_GE(window().QWidget::minimumSize().height(), 580);

    // A size kept from a larger monitor comes back within this screen.
    window().resize(room + QSize(300, 200));
    window().close();
    window_.reset();
    window().show();
    EXPECT_EQ(window().size(), room);
}

// The rows of the panel's stack that the user sees, by object name, top to bottom.
QStringList visibleRows(MenuPanel& panel) {
    QStringList rows;
    for (int i = 0; i < panel.layout()->count(); ++i)
        if (QWidget* w = panel.layout()->itemAt(i)->widget(); w && !w->isHidden())
            rows << w->objectName();
    return rows;
}

QList<QuotaCard*> cards(MenuPanel& panel) {
    QList<QuotaCard*> shown;
    QLayout* layout = panel.findChild<QWidget*>("cards")->layout();
    for (int i = 0; i < layout->count(); ++i)
        shown << qobject_cast<QuotaCard*>(layout->itemAt(i)->widget());
    return shown;
}

QPushButton* button(MenuPanel& panel, const char* name) {
    return panel.findChild<QPushButton*>(name);
}

QString text(QWidget& widget, const char* name) {
    return widget.findChild<QLabel*>(name)->text();
}

using Panel = test::DashboardTest;

TEST_F(Panel, RefreshDoesNotBlockAndFillsInTheFirstThreeQuotas) {
    gateway.on("v1/tessel/quotas", test::Route::json(sample::quotas(), 200, 300ms));
    // Held like the tray popup holds it: the window must grow when the cards arrive.
    QWidget popup;
    auto* holder = new QVBoxLayout(&popup);
    holder->setContentsMargins(0, 0, 0, 0);
    MenuPanel& panel = *new MenuPanel(&service(), &popup);
    holder->addWidget(&panel);
    popup.adjustSize();
    popup.show();

    // Nothing known yet: header, status and the buttons, the quit button at the trailing edge.
    EXPECT_EQ(visibleRows(panel),
              QStringList({"header", "status", "primaryButtons", "secondaryButtons"}));
    EXPECT_EQ(text(panel, "status"), "等待同步");
    QStringList labels;
    for (const char* name : {"refresh", "overview", "settings", "updates", "quit"})
        labels << button(panel, name)->text();
    EXPECT_EQ(labels, QStringList({"刷新", "打开概览", "设置", "检查更新…", "退出"}));
    const QRect row = panel.findChild<QWidget*>("secondaryButtons")->rect();
    EXPECT_EQ(button(panel, "quit")->geometry().right(), row.right());
    EXPECT_LT(button(panel, "updates")->geometry().right(), button(panel, "quit")->x());

    QPushButton* refresh = button(panel, "refresh");
    refresh->click();
    // Back here while the gateway still holds its answer.
    EXPECT_TRUE(service().syncing());
    EXPECT_FALSE(refresh->isEnabled());
    refresh->click(); // a disabled button starts nothing
    ASSERT_TRUE(test::spin([&] { return !service().syncing(); }));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(gateway.requestCount("v1/tessel/quotas"), 1u);

    // Redrawn without reopening: the first three quotas as compact cards, and the sync time.
    const Snapshot& snapshot = service().snapshot();
    ASSERT_GT(snapshot.quotas.size(), 3u);
    QStringList titles;
    for (QuotaCard* card : cards(panel)) {
        EXPECT_TRUE(card->compact());
        titles << QString::fromStdString(card->quota().title());
    }
    QStringList firstThree;
    for (std::size_t i = 0; i < 3; ++i)
        firstThree << QString::fromStdString(snapshot.quotas[i].title());
    EXPECT_EQ(titles, firstThree);
    EXPECT_EQ(text(panel, "status"), "已同步");
    EXPECT_EQ(text(panel, "syncedAt"), "同步于 " + LocalTime::time(*snapshot.updatedAt));
    EXPECT_EQ(visibleRows(panel), QStringList({"header", "status", "cards", "syncedAt",
                                               "primaryButtons", "secondaryButtons"}));
    QApplication::processEvents();
    EXPECT_GE(popup.height(), panel.sizeHint().height());

    // A panel made once the data is there (the popup is made on the first click) shows it too.
    MenuPanel later(&service());
    EXPECT_EQ(cards(later).size(), 3);
    EXPECT_EQ(text(later, "syncedAt"), text(panel, "syncedAt"));
}

TEST_F(Panel, SectionButtonsSetTheScreenBeforeAskingForTheDashboard) {
    MenuPanel panel(&service());
    QStringList seen;
    QObject::connect(&panel, &MenuPanel::dashboardRequested, [&] { seen << service().screen(); });
    QSignalSpy updates(&panel, &MenuPanel::checkForUpdatesRequested);
    QSignalSpy quit(&panel, &MenuPanel::quitRequested);

    for (const char* name : {"settings", "overview", "settings"})
        button(panel, name)->click();
    EXPECT_EQ(seen, QStringList({"settings", "overview", "settings"}));
    button(panel, "updates")->click();
    EXPECT_EQ(updates.count(), 1);
    EXPECT_EQ(quit.count(), 0);
    button(panel, "quit")->click();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(gateway.requestCount(), 0u);
}

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

TEST_F(DashboardReport, SectionsAndPickersRedrawFromTheSnapshotWithoutARequestAndAreRead) {
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
    EXPECT_EQ(text(report, "title"), "用量分析"); // the toolbar says it too (the window tests)
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

    // What a screen reader finds.
    QApplication::processEvents();
    const QStringList texts = test::spoken(&report);
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

TEST_F(DashboardReport, TileValuesShrinkToHalfBeforeTheyAreCutAndHostileTextsKeepTheRowsAligned) {
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

    // Hostile gateway texts keep the rows aligned.
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

} // namespace
