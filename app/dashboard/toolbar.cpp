#include "app/dashboard/toolbar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include "app/shortcuts.h"
#include "sync/data_sync_service.h"
#include "ui/style.h"
#include "ui/symbols.h"

namespace tessel {

Spinner::Spinner(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 0);
    setTextVisible(false);
    setAccessibleName(QStringLiteral("正在同步"));
    setFixedSize(sizeHint());
    turn_.setInterval(80);
    connect(&turn_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15);
    painter.setPen(QPen(track, 2));
    painter.drawEllipse(box);
    QPen arc(palette().color(QPalette::WindowText), 2);
    arc.setCapStyle(Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(box, -angle_ * 16, 100 * 16);
}

void Spinner::showEvent(QShowEvent* event) {
    QProgressBar::showEvent(event);
    turn_.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QProgressBar::hideEvent(event);
    turn_.stop();
}

DashboardToolbar::DashboardToolbar(DataSyncService* sync, QWidget* parent)
    : QWidget(parent), sync_(sync) {
    setObjectName(QStringLiteral("toolbar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 6, 12, 6);
    row->setSpacing(8);

    title_ = new QLabel;
    title_->setObjectName(QStringLiteral("navigationTitle"));
    QFont bold = Style::headline();
    bold.setWeight(QFont::Bold);
    title_->setFont(bold);
    row->addWidget(title_);
    row->addStretch(1);

    spinner_ = new Spinner;
    row->addWidget(spinner_, 0, Qt::AlignVCenter);
    refreshAction_ = new QAction(QStringLiteral("刷新"), this);
    refreshAction_->setObjectName(QStringLiteral("refresh"));
    refreshAction_->setToolTip(QStringLiteral("读取 Tessel 并请求刷新桌面小组件"));
    refreshAction_->setShortcuts(
        Shortcuts::of({QKeySequence(Qt::CTRL | Qt::Key_R)}, QKeySequence::Refresh));
    refreshAction_->setShortcutContext(Qt::WindowShortcut);
    connect(refreshAction_, &QAction::triggered, this, [this] {
        if (!sync_->syncing())
            sync_->refresh(true); // the task may be dropped: the service finishes the cycle
    });
    refresh_ = new QToolButton;
    refreshAction_->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise"), refresh_));
    refresh_->setObjectName(QStringLiteral("refreshButton"));
    refresh_->setDefaultAction(refreshAction_);
    refresh_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    refresh_->setIconSize(QSize(16, 16));
    refresh_->setAutoRaise(true);
    refresh_->setAccessibleName(QStringLiteral("刷新"));
    refresh_->setAccessibleDescription(refreshAction_->toolTip());
    row->addWidget(refresh_, 0, Qt::AlignVCenter);

    connect(sync_, &DataSyncService::syncingChanged, this, &DashboardToolbar::updateSyncing);
    updateSyncing();
}

void DashboardToolbar::setTitle(const QString& title) {
    title_->setText(title);
}

QString DashboardToolbar::title() const {
    return title_->text();
}

void DashboardToolbar::updateSyncing() {
    const bool syncing = sync_->syncing();
    spinner_->setVisible(syncing);
    refreshAction_->setEnabled(!syncing);
}

} // namespace tessel
