// Old data and a failed sync dim the tray icon and mark it orange, the number legible.
#include <QImage>
#include <QPainter>

#include "app/shell_settings.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "sync/data_sync_service.h"

using namespace std::chrono_literals;
using namespace tessel;
using State = TrayIcon::State;

namespace {

int count(const QImage& image, const QRect& area, const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool orange(QColor c) {
    return c.alpha() > 200 && c.red() > 220 && c.green() > 110 && c.green() < 180 && c.blue() < 60;
}

// The icon as a panel of that colour shows it.
QImage onPanel(const QImage& icon, QColor panel) {
    QImage out(icon.size(), QImage::Format_RGB32);
    out.fill(panel);
    QPainter(&out).drawImage(0, 0, icon);
    return out;
}

TEST(TrayIconStates, MarkAndDimmingAtEveryPanelSizeWithTheNumberLegible) {
    test::app();
    for (const int size : {16, 22, 24, 32}) {
        for (const QString& title : {QStringLiteral("62%"), QStringLiteral("Tessel")}) {
            SCOPED_TRACE(QStringLiteral("%1 px, %2").arg(size).arg(title).toStdString());
            const QRect corner(size / 2, 0, size - size / 2, size / 2);
            const QRect bird(0, 0, size / 2, size * 4 / 10);
            // The middle of the badge: digits and their background only.
            const QRect digits(size / 5, size * 3 / 4 - 1, size * 3 / 5, 3);
            std::map<State, QImage> images;
            for (const State state : {State::Current, State::Stale, State::Issue})
                images[state] = TrayIcon::render(title, size, 1.0, state);

            const auto opaque = [](QColor c) { return c.alpha() > 200; };
            EXPECT_EQ(count(images[State::Current], corner, orange), 0);
            EXPECT_GT(count(images[State::Current], bird, opaque), 0);
            for (const State state : {State::Stale, State::Issue}) {
                const QImage& image = images[state];
                EXPECT_GE(count(image, corner, orange), size * size / 25);
                // The bird shows through at half strength: no opaque pixel of it is left.
                EXPECT_EQ(count(image, bird, opaque), 0);
                if (title != u"62%")
                    continue;
                for (const QColor panel : {QColor(0x24, 0x24, 0x24), QColor(0xf0, 0xf0, 0xf0)}) {
                    const QImage shown = onPanel(image, panel);
                    int light = 0, dark = 255;
                    for (int y = digits.top(); y <= digits.bottom(); ++y)
                        for (int x = digits.left(); x <= digits.right(); ++x) {
                            light = std::max(light, shown.pixelColor(x, y).lightness());
                            dark = std::min(dark, shown.pixelColor(x, y).lightness());
                        }
                    EXPECT_GE(light - dark, 120) << panel.name().toStdString();
                }
            }
            // From 22 px the sign inside the mark tells a failure from old data.
            if (size >= 22) {
                EXPECT_NE(images[State::Stale], images[State::Issue]);
            }
        }
    }
}

class TrayState : public test::GatewayTest {
protected:
    Tray& tray(const Snapshot& stored) {
        SnapshotStore(dir.path() / "container").save(stored);
        DataSyncService::Options o;
        o.container = dir.path() / "container";
        o.settingsPath = settingsPath();
        service_ = std::make_unique<DataSyncService>(o);
        settings_ = std::make_unique<ShellSettings>(settingsPath());
        tray_ = std::make_unique<Tray>(service_.get(), settings_.get(), [] { return false; });
        return *tray_;
    }
    static Snapshot snapshot(std::chrono::seconds age) {
        Snapshot s;
        s.updatedAt =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) - age;
        for (const char* name : {"主力订阅", "备用"}) {
            Quota q;
            q.provider = q.name = name;
            q.windows = std::vector<QuotaWindow>{{.name = "5 小时", .remaining = 62.5}};
            s.quotas.push_back(q);
        }
        return s;
    }

    std::unique_ptr<DataSyncService> service_;
    std::unique_ptr<ShellSettings> settings_;
    std::unique_ptr<Tray> tray_;
};

TEST_F(TrayState, IssueAndOldDataShowInTheIconAndTheTooltipNamesTheSubscription) {
    EXPECT_EQ(tray(Snapshot{}).state(), State::Current); // nothing synced yet is no warning
    EXPECT_EQ(tray(snapshot(10s)).state(), State::Current);
    EXPECT_EQ(tray_->title(), QStringLiteral("62%"));
    EXPECT_EQ(tray_->toolTip(), QStringLiteral("Tessel 62%\n主力订阅 · 5 小时\n已同步"));

    setting(AppSettings::menuQuota, QString::fromStdString(snapshot(0s).quotas[1].id()));
    EXPECT_EQ(tray(snapshot(10min)).state(), State::Stale);
    EXPECT_EQ(tray_->toolTip(), QStringLiteral("Tessel 62%\n备用 · 5 小时\n数据已过期"));

    Snapshot failed = snapshot(10s);
    failed.issue = "网络连接失败（-1004），请确认 Tessel 正在运行。";
    EXPECT_EQ(tray(failed).state(), State::Issue);
    EXPECT_TRUE(tray_->toolTip().endsWith(
        QStringLiteral("离线 / 同步异常\n网络连接失败（-1004），请确认 Tessel 正在运行。")));
}

} // namespace
