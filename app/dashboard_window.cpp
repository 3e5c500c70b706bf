#include "app/dashboard_window.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/shell_settings.h"
#include "app/tray_icon.h"
#include "app/update_controller.h"
#include "sync/data_sync_service.h"
#include "ui/quota_card.h"
#include "ui/style.h"

namespace tessel {

namespace {

QString sectionName(const QString& screen) {
    if (screen == u"usage")
        return QStringLiteral("用量分析");
    if (screen == u"widgets")
        return QStringLiteral("桌面小组件");
    if (screen == u"settings")
        return QStringLiteral("设置与诊断");
    return QStringLiteral("概览");
}

} // namespace

DashboardWindow::DashboardWindow(DataSyncService* sync, UpdateController* updates,
                                 ShellSettings* settings, QWidget* parent)
    : QMainWindow(parent), sync_(sync), settings_(settings) {
    setObjectName(QStringLiteral("dashboard"));
    setWindowTitle(QStringLiteral("Tessel Widget"));
    setWindowIcon(TrayIcon::bird());
    setMinimumSize(minimumSize);
    resize(defaultSize);

    QMenu* appMenu = menuBar()->addMenu(QStringLiteral("Tessel Widget"));
    appMenu->addAction(QStringLiteral("关于 Tessel Widget"), this, &DashboardWindow::showAbout);
    appMenu->addAction(QStringLiteral("检查更新…"), updates, [this, updates] {
        updates->setDialogParent(this);
        updates->checkForUpdates();
    });
    appMenu->addSeparator();
    QAction* settingsAction = appMenu->addAction(
        QStringLiteral("设置…"), this, [this] { sync_->setScreen(QStringLiteral("settings")); });
    settingsAction->setShortcut(QKeySequence::Preferences);
    appMenu->addSeparator();
    QAction* close = appMenu->addAction(QStringLiteral("关闭窗口"), this, &QWidget::close);
    close->setShortcut(QKeySequence::Close);
    QAction* quit =
        appMenu->addAction(QStringLiteral("退出"), this, &DashboardWindow::quitRequested);
    quit->setShortcut(QKeySequence::Quit);

    // Plain content until the dashboard's own views take this place.
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(24, 24, 24, 24);
    auto* title = new QLabel(QStringLiteral("Tessel"));
    QFont big = title->font();
    big.setPixelSize(25);
    big.setWeight(QFont::DemiBold);
    title->setFont(big);
    section_ = new QLabel;
    status_ = new QLabel;
    status_->setTextFormat(Qt::PlainText);
    issue_ = new QLabel;
    issue_->setTextFormat(Qt::PlainText);
    issue_->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(section_);
    layout->addWidget(status_);
    layout->addWidget(issue_);

    // Until the dashboard's own views come: every subscription as a full card.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* grid = new QWidget;
    cards_ = new QGridLayout(grid);
    cards_->setContentsMargins(0, 8, 0, 0);
    cards_->setHorizontalSpacing(16);
    cards_->setVerticalSpacing(16);
    cards_->setAlignment(Qt::AlignTop);
    scroll->setWidget(grid);
    layout->addWidget(scroll, 1);
    setCentralWidget(content);

    connect(sync_, &DataSyncService::snapshotChanged, this, &DashboardWindow::update);
    connect(sync_, &DataSyncService::screenChanged, this, &DashboardWindow::update);
    connect(settings_, &ShellSettings::changed, this, &DashboardWindow::applyAppearance);
    applyAppearance();
    update();
}

void DashboardWindow::bringForward() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void DashboardWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    sync_->start(); // only the first call starts the loop
}

void DashboardWindow::applyAppearance() {
    const std::optional<QPalette> palette = ShellSettings::palette(settings_->appearance());
    // A default-constructed palette hands the window back to the desktop's.
    setPalette(palette.value_or(QPalette()));
}

void DashboardWindow::update() {
    section_->setText(sectionName(sync_->screen()));
    const Snapshot& snapshot = sync_->snapshot();
    status_->setText(QString::fromStdString(snapshot.status()));
    QPalette tinted = issue_->palette();
    tinted.setColor(QPalette::WindowText, Style::orange(palette()));
    issue_->setPalette(tinted);
    issue_->setText(QString::fromStdString(snapshot.issue.value_or("")));
    issue_->setVisible(snapshot.issue.has_value());
    updateCards();
}

void DashboardWindow::updateCards() {
    const std::vector<Quota>& quotas = sync_->snapshot().quotas;
    if (quotas == shown_)
        return; // a cycle that changed nothing keeps its widgets
    shown_ = quotas;
    while (QLayoutItem* item = cards_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    constexpr int columns = 2;
    for (std::size_t i = 0; i < quotas.size(); ++i)
        cards_->addWidget(new QuotaCard(quotas[i], false), static_cast<int>(i) / columns,
                          static_cast<int>(i) % columns, Qt::AlignTop);
    for (int c = 0; c < columns; ++c)
        cards_->setColumnStretch(c, 1);
}

void DashboardWindow::showAbout() {
    QMessageBox::about(this, QStringLiteral("关于 Tessel Widget"),
                       QStringLiteral("<b>Tessel Widget</b> %1<br>在托盘、面板和桌面小组件中显示 "
                                      "Tessel Gateway 的订阅额度与用量。")
                           .arg(QStringLiteral(TESSEL_VERSION).toHtmlEscaped()));
}

} // namespace tessel
