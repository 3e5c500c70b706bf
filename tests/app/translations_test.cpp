// Qt's own texts are Chinese beside ours whatever the locale says.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

#include "app/application.h"
#include "app/update_controller.h"
#include "support/app_fixture.h"

namespace tessel {
namespace {

TEST(Translations, QtsOwnTextsAreChineseInAnyLocale) {
    test::app();
    test::TempDir dir;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TesselWidgetApp::Options options;
    options.sync.container = dir.path() / "container";
    options.sync.settingsPath = QString::fromStdString((dir.path() / "settings.ini").string());
    options.settingsPath = options.sync.settingsPath;
    TesselWidgetApp shell(options);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));

    QLineEdit field;
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList actions;
    for (const QAction* action : menu->actions())
        actions.append(action->text());
    EXPECT_TRUE(actions.join(u' ').contains(QStringLiteral("复制")))
        << actions.join(u' ').toStdString();

    // The update check's answer closes with the same button as every other dialog.
    UpdateController updates(QString(), QStringLiteral("0.1.0"));
    updates.checkForUpdates();
    QMessageBox* answer = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w))
            answer = b;
    ASSERT_NE(answer, nullptr);
    QStringList buttons;
    for (const QAbstractButton* b : answer->buttons())
        buttons.append(b->text());
    EXPECT_EQ(buttons, QStringList{QStringLiteral("确定")});
    answer->close();
}

} // namespace
} // namespace tessel
