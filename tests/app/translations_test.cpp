// Qt's standard buttons speak the user's language once the application is made.
#include <QDialogButtonBox>
#include <QLocale>
#include <QPushButton>

#include "app/application.h"
#include "support/app_fixture.h"

namespace tessel {
namespace {

TEST(Translations, StandardButtonsFollowTheLocale) {
    test::app();
    test::TempDir dir;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    TesselWidgetApp::Options options;
    options.sync.container = dir.path() / "container";
    options.sync.settingsPath = QString::fromStdString((dir.path() / "settings.ini").string());
    options.settingsPath = options.sync.settingsPath;
    TesselWidgetApp shell(options);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
}

} // namespace
} // namespace tessel
