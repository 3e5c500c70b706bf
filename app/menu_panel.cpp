#include "app/menu_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "sync/data_sync_service.h"
#include "ui/local_time.h"
#include "ui/quota_card.h"
#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/symbols.h"
#include "ui/text_label.h"

namespace tessel {

namespace {

QHBoxLayout* buttonRow(QVBoxLayout* stack, const QFont& font, QWidget*& rowWidget) {
    rowWidget = new QWidget;
    rowWidget->setFont(font);
    auto* layout = new QHBoxLayout(rowWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(rowWidget);
    return layout;
}

} // namespace

MenuPanel::MenuPanel(DataSyncService* sync, QWidget* parent) : QWidget(parent), sync_(sync) {
    setFixedWidth(panelWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(18, 18, 18, 18);
    stack->setSpacing(14);

    auto* header = new QWidget;
    header->setObjectName("header");
    header->setFont(Style::headline());
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    headerRow->addWidget(new SymbolView("bird.fill", Style::Tint::Text));
    headerRow->addWidget(new QLabel(QStringLiteral("Tessel Widget")));
    headerRow->addStretch(1);
    stack->addWidget(header);

    status_ = new TextLabel({}, 3);
    status_->setObjectName("status");
    status_->setTint(Style::Tint::Secondary);
    stack->addWidget(status_);

    cards_ = new QWidget;
    cards_->setObjectName("cards");
    cardsLayout_ = new QVBoxLayout(cards_);
    cardsLayout_->setContentsMargins(0, 0, 0, 0);
    cardsLayout_->setSpacing(14);
    stack->addWidget(cards_);

    syncedAt_ = new QLabel;
    syncedAt_->setObjectName("syncedAt");
    syncedAt_->setFont(Style::caption());
    stack->addWidget(syncedAt_);

    QWidget* primary = nullptr;
    QHBoxLayout* primaryRow = buttonRow(stack, font(), primary);
    primary->setObjectName("primaryButtons");
    refresh_ = new QPushButton(QStringLiteral("刷新"));
    refresh_->setIcon(Symbols::icon("arrow.clockwise", refresh_));
    refresh_->setObjectName("refresh");
    auto* overview = new QPushButton(QStringLiteral("打开概览"));
    overview->setObjectName("overview");
    primaryRow->addWidget(refresh_);
    primaryRow->addWidget(overview);
    primaryRow->addStretch(1);

    QWidget* secondary = nullptr;
    QHBoxLayout* secondaryRow = buttonRow(stack, Style::caption(), secondary);
    secondary->setObjectName("secondaryButtons");
    auto* settings = new QPushButton(QStringLiteral("设置"));
    settings->setObjectName("settings");
    auto* updates = new QPushButton(QStringLiteral("检查更新…"));
    updates->setObjectName("updates");
    auto* quit = new QPushButton(QStringLiteral("退出"));
    quit->setObjectName("quit");
    secondaryRow->addWidget(settings);
    secondaryRow->addWidget(updates);
    secondaryRow->addStretch(1);
    secondaryRow->addWidget(quit);

    connect(refresh_, &QPushButton::clicked, this, &MenuPanel::refresh);
    connect(overview, &QPushButton::clicked, this, [this] { openSection("overview"); });
    connect(settings, &QPushButton::clicked, this, [this] { openSection("settings"); });
    connect(updates, &QPushButton::clicked, this, &MenuPanel::checkForUpdatesRequested);
    connect(quit, &QPushButton::clicked, this, &MenuPanel::quitRequested);

    if (sync_) {
        connect(sync_, &DataSyncService::snapshotChanged, this, &MenuPanel::redraw);
        connect(sync_, &DataSyncService::syncingChanged, this, &MenuPanel::updateSyncing);
    }
    // "已同步" turns into "数据已过期" with time alone, while the panel may stay open.
    auto* clock = new QTimer(this);
    clock->setInterval(15000);
    connect(clock, &QTimer::timeout, this, [this] {
        if (isVisible() && sync_)
            status_->setText(QString::fromStdString(sync_->snapshot().status()));
    });
    clock->start();

    redraw();
    updateSyncing();
}

void MenuPanel::redraw() {
    if (!sync_)
        return;
    const Snapshot& snapshot = sync_->snapshot();
    status_->setText(QString::fromStdString(snapshot.status()));

    const auto end =
        snapshot.quotas.begin() + std::min<std::ptrdiff_t>(cardLimit, snapshot.quotas.size());
    std::vector<Quota> first(snapshot.quotas.begin(), end);
    if (first != shown_) {
        while (QLayoutItem* item = cardsLayout_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const Quota& quota : first)
            cardsLayout_->addWidget(new QuotaCard(quota, true));
        shown_ = std::move(first);
    }
    // Hidden rows take no space and no spacing in the stack.
    cards_->setVisible(!shown_.empty());

    if (snapshot.updatedAt)
        syncedAt_->setText(QStringLiteral("同步于 ") + LocalTime::time(*snapshot.updatedAt));
    syncedAt_->setVisible(snapshot.updatedAt.has_value());

    updateGeometry();
    // adjustSize() would take the height for the layout's preferred width, not for ours.
    if (isWindow())
        resize(sizeHint());
}

QSize MenuPanel::sizeHint() const {
    QLayout* stack = layout();
    const int height = stack->hasHeightForWidth() ? stack->totalHeightForWidth(panelWidth)
                                                  : stack->totalSizeHint().height();
    return {panelWidth, height};
}

void MenuPanel::updateSyncing() {
    refresh_->setEnabled(sync_ && !sync_->syncing());
}

void MenuPanel::refresh() {
    if (!sync_ || sync_->syncing())
        return;
    // Runs on the GUI thread until its first wait, then returns; the service owns the cycle.
    sync_->refresh(true);
    updateSyncing();
}

void MenuPanel::openSection(const QString& screen) {
    if (sync_)
        sync_->setScreen(screen);
    emit dashboardRequested();
}

void MenuPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    redraw();
}

} // namespace tessel
