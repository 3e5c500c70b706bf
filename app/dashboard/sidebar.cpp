#include "app/dashboard/sidebar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

#include "sync/data_sync_service.h"
#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/symbols.h"
#include "ui/text_label.h"

namespace tessel {

const std::array<Sidebar::Section, 4>& Sidebar::sections() {
    static const std::array<Section, 4> all{
        {{QStringLiteral("概览"), QStringLiteral("square.grid.2x2"), QStringLiteral("overview")},
         {QStringLiteral("用量分析"), QStringLiteral("chart.xyaxis.line"), QStringLiteral("usage")},
         {QStringLiteral("桌面小组件"), QStringLiteral("rectangle.3.group"),
          QStringLiteral("widgets")},
         {QStringLiteral("设置与诊断"), QStringLiteral("gearshape"), QStringLiteral("settings")}}};
    return all;
}

Sidebar::Sidebar(DataSyncService* sync, QWidget* parent) : QWidget(parent), sync_(sync) {
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(minimumWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 24, 0, 0);
    stack->setSpacing(24);

    auto* title = new QWidget;
    title->setObjectName(QStringLiteral("appTitle"));
    auto* titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(16, 0, 16, 0);
    titleRow->setSpacing(8);
    auto* bird = new SymbolView(QStringLiteral("bird.fill"));
    bird->setFixedSize(28, 28);
    auto* name = new QLabel(QStringLiteral("Tessel"));
    QFont big = name->font();
    big.setPixelSize(25);
    big.setWeight(QFont::DemiBold);
    name->setFont(big);
    titleRow->addWidget(bird);
    titleRow->addWidget(name, 1);
    stack->addWidget(title);

    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("sections"));
    list_->setAccessibleName(QStringLiteral("Tessel"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setIconSize(QSize(18, 18));
    list_->setSpacing(2);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    for (const Section& section : sections()) {
        auto* item =
            new QListWidgetItem(Symbols::icon(section.symbol, list_), section.label, list_);
        item->setData(Qt::UserRole, section.screen);
        item->setSizeHint(QSize(0, 32));
    }
    list_->setFixedHeight(int(sections().size()) * 36 + 4);
    auto* listRow = new QHBoxLayout;
    listRow->setContentsMargins(8, 0, 8, 0);
    listRow->addWidget(list_);
    stack->addLayout(listRow);
    stack->addStretch(1);

    auto* status = new QWidget;
    status->setObjectName(QStringLiteral("connection"));
    auto* statusColumn = new QVBoxLayout(status);
    statusColumn->setContentsMargins(20, 20, 20, 20);
    statusColumn->setSpacing(6);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    offline_ = new SymbolView(QStringLiteral("wifi.slash"), Style::Tint::Orange);
    online_ = new SymbolView(QStringLiteral("circle.fill"), Style::Tint::Mint);
    online_->setFixedSize(10, 10);
    status_ = new TextLabel(QString(), 3);
    status_->setObjectName(QStringLiteral("status"));
    status_->setFont(Style::caption());
    statusRow->addWidget(offline_);
    statusRow->addWidget(online_, 0, Qt::AlignVCenter);
    statusRow->addWidget(status_, 1);
    statusColumn->addLayout(statusRow);
    version_ = new TextLabel(QString());
    version_->setObjectName(QStringLiteral("version"));
    version_->setFont(Style::caption());
    version_->setTint(Style::Tint::Secondary);
    statusColumn->addWidget(version_);
    stack->addWidget(status);

    connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item)
            sync_->setScreen(item->data(Qt::UserRole).toString());
    });
    connect(sync_, &DataSyncService::screenChanged, this, &Sidebar::select);
    connect(sync_, &DataSyncService::snapshotChanged, this, &Sidebar::updateStatus);
    // "已同步" turns into "数据已过期" with time alone.
    clock_.setInterval(15'000);
    connect(&clock_, &QTimer::timeout, this, &Sidebar::updateStatus);
    select();
    updateStatus();
}

QSize Sidebar::sizeHint() const {
    return {idealWidth, QWidget::sizeHint().height()};
}

QString Sidebar::selected() const {
    const QList<QListWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? QString() : items.front()->data(Qt::UserRole).toString();
}

QString Sidebar::statusSymbol() const {
    return offline_->isHidden() ? online_->symbol() : offline_->symbol();
}

QLabel* Sidebar::version() const {
    return version_->isHidden() ? nullptr : version_;
}

void Sidebar::select() {
    const QString screen = sync_->screen();
    const QSignalBlocker quiet(list_);
    for (int row = 0; row < list_->count(); ++row) {
        if (list_->item(row)->data(Qt::UserRole).toString() == screen) {
            list_->setCurrentRow(row);
            return;
        }
    }
    // An unknown section: nothing selected, and the keyboard starts again at the top.
    list_->clearSelection();
    list_->setCurrentItem(nullptr);
}

void Sidebar::updateStatus() {
    const Snapshot& snapshot = sync_->snapshot();
    const bool issue = snapshot.issue.has_value();
    offline_->setVisible(issue);
    online_->setVisible(!issue);
    status_->setText(QString::fromStdString(snapshot.status()));
    status_->setTint(issue ? Style::Tint::Orange : Style::Tint::Mint);
    version_->setVisible(snapshot.version.has_value());
    version_->setText(QStringLiteral("Tessel ") +
                      QString::fromStdString(snapshot.version.value_or(std::string())));
}

void Sidebar::paintEvent(QPaintEvent*) {
    // The sidebar sits a shade off the window, like the desktop's own sidebars.
    QPainter painter(this);
    QColor shade = palette().color(QPalette::WindowText);
    shade.setAlphaF(Style::isDark(palette()) ? 0.06 : 0.04);
    painter.fillRect(rect(), shade);
}

void Sidebar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateStatus();
    clock_.start();
}

void Sidebar::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    clock_.stop();
}

} // namespace tessel
