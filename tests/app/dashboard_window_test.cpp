// The dashboard window over a real service: sidebar, sections, toolbar, status, reopening.
#include <QAbstractButton>
#include <QComboBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard/sidebar.h"
#include "app/dashboard/toolbar.h"
#include "app/dashboard_window.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "dashboard_fixture.h"
#include "ui/text_label.h"

#include <sys/stat.h>

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

} // namespace
