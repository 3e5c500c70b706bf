// The real MenuPanel over a real sync service, refreshing against the test gateway.
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "app/menu_panel.h"
#include "dashboard_fixture.h"
#include "ui/local_time.h"
#include "ui/quota_card.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

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

QString text(MenuPanel& panel, const char* name) {
    return panel.findChild<QLabel*>(name)->text();
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

} // namespace
