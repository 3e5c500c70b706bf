// Pictures of the settings window and the widget sections, light and dark, for looking at them:
// written to $TESSEL_SCREENSHOTS when it names a folder (run under Xvfb), skipped otherwise.
#include <gtest/gtest.h>

#include <QCoro/QCoroTask>
#include <QDir>
#include <QScrollArea>

#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/settings/widget_settings_sections.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "support/app_fixture.h"
#include "sync/data_sync_service.h"

using namespace tessel;

namespace {

class SettingsScreenshots : public test::GatewayTest {};

TEST_F(SettingsScreenshots, LightAndDark) {
    const QString out = qEnvironmentVariable("TESSEL_SCREENSHOTS");
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOTS not set";
    QDir().mkpath(out);
    DataSyncService::Options options;
    options.container = dir.path() / "container";
    options.settingsPath = settingsPath();
    DataSyncService sync(options);
    QCoro::waitFor(sync.refresh(false));
    ShellSettings shell(settingsPath());
    UpdateController updates(QStringLiteral("https://updates.quorvane.net/tessel/appcast.xml"),
                             QStringLiteral("0.1.0"));
    const QPalette desktop = QApplication::palette();
    for (const auto appearance :
         {ShellSettings::Appearance::Light, ShellSettings::Appearance::Dark}) {
        const QString name = appearance == ShellSettings::Appearance::Dark
                                 ? QStringLiteral("dark")
                                 : QStringLiteral("light");
        QApplication::setPalette(*ShellSettings::palette(appearance));
        SettingsWindow window(&sync, &shell, &updates);
        window.show();
        test::spin([&] { return !window.view()->lookingUpKey(); });
        test::spin([] { return false; }, 300); // let layouts and fonts settle
        EXPECT_TRUE(window.grab().save(out + QStringLiteral("/settings-window-%1.png").arg(name)));
        // The whole form, as if the window were tall enough.
        EXPECT_TRUE(window.view()->widget()->grab().save(
            out + QStringLiteral("/settings-form-%1.png").arg(name)));
        window.resize(SettingsView::minimumSide, SettingsView::minimumSide);
        test::spin([] { return false; }, 200);
        EXPECT_TRUE(window.grab().save(out + QStringLiteral("/settings-minimum-%1.png").arg(name)));

        QScrollArea page;
        page.setWidgetResizable(true);
        page.setWidget(new WidgetSettingsSections(&sync));
        page.resize(560, 900);
        page.show();
        test::spin([] { return false; }, 200);
        EXPECT_TRUE(
            page.widget()->grab().save(out + QStringLiteral("/widget-sections-%1.png").arg(name)));
    }
    QApplication::setPalette(desktop);
}

} // namespace
