#include "app/dashboard/report_view.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/dashboard/distribution_list.h"
#include "app/dashboard/metric_tile.h"
#include "app/dashboard/quota_grid.h"
#include "app/dashboard/report_data.h"
#include "app/dashboard/segmented_picker.h"
#include "app/dashboard/surface.h"
#include "app/dashboard/trend_chart.h"
#include "app/wheel_guard.h"
#include "sync/data_sync_service.h"
#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/text_label.h"

namespace tessel {

namespace {

QFont pixelFont(int pixels, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

QFont title3() {
    QFont f = Style::headline();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 1.2);
    else
        f.setPixelSize(int(f.pixelSize() * 1.2));
    f.setWeight(QFont::Bold);
    return f;
}

QLabel* heading(const QString& text, const char* name) {
    auto* label = new QLabel(text);
    label->setObjectName(QLatin1StringView(name));
    label->setFont(title3());
    return label;
}

TextLabel* note(const QString& text, const char* name, int lines = 6) {
    auto* label = new TextLabel(text, lines);
    label->setObjectName(QLatin1StringView(name));
    label->setFont(Style::caption());
    label->setTint(Style::Tint::Secondary);
    return label;
}

QWidget* emptyState() {
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("emptyQuotas"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 24, 0, 24);
    column->setSpacing(8);
    auto* symbol = new SymbolView(QStringLiteral("sparkles"), Style::Tint::Secondary);
    symbol->setFixedSize(40, 40);
    auto* title = new QLabel(QStringLiteral("尚无额度数据"));
    title->setFont(title3());
    title->setAlignment(Qt::AlignCenter);
    auto* description = new TextLabel(QStringLiteral("启动 Tessel 并添加订阅，然后点击刷新。"));
    description->setTint(Style::Tint::Secondary);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addWidget(title);
    column->addWidget(description, 0, Qt::AlignHCenter);
    return box;
}

} // namespace

ReportView::ReportView(DataSyncService* sync, QWidget* parent)
    : QScrollArea(parent), sync_(sync), period_(QString::fromLatin1(Report::initialPeriod)),
      dimension_(QString::fromLatin1(Report::initialDimension)) {
    setObjectName(QStringLiteral("report"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("page"));
    stack_ = new QVBoxLayout(page_);
    stack_->setContentsMargins(28, 28, 28, 28);
    stack_->setSpacing(24);
    stack_->addWidget(headlineRow());
    stack_->addWidget(issueBanner());
    storage_ = new TextLabel(QString(), 4);
    storage_->setObjectName(QStringLiteral("storage"));
    storage_->setTint(Style::Tint::Orange);
    stack_->addWidget(storage_);
    stack_->addWidget(tileRow());
    subscriptionsHeading_ = heading(QStringLiteral("订阅与额度"), "subscriptionsHeading");
    stack_->addWidget(subscriptionsHeading_);
    emptyQuotas_ = emptyState();
    stack_->addWidget(emptyQuotas_);
    grid_ = new QuotaGrid;
    stack_->addWidget(grid_);
    stack_->addWidget(trendBox());
    stack_->addWidget(distributionHeading());
    rows_ = new DistributionList;
    stack_->addWidget(rows_);
    stack_->addWidget(footnotes());
    stack_->addStretch(1);
    setWidget(page_);

    reveal_.setSingleShot(true);
    reveal_.setInterval(0);
    connect(&reveal_, &QTimer::timeout, this, &ReportView::revealCards);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, &reveal_, qOverload<>(&QTimer::start));
    // At once, so that changed cards in view are never missing from a frame.
    connect(grid_, &QuotaGrid::quotasShown, this, &ReportView::revealCards);
    connect(periodPicker_, &QComboBox::activated, this,
            [this](int index) { setPeriod(periodPicker_->itemData(index).toString()); });
    connect(dimensionPicker_, &SegmentedPicker::activated, this, &ReportView::setDimension);
    connect(sync_, &DataSyncService::snapshotChanged, this, &ReportView::updateSnapshot);
    connect(sync_, &DataSyncService::storageIssueChanged, this, &ReportView::updateStorage);
    connect(sync_, &DataSyncService::screenChanged, this, &ReportView::updateScreen);

    periodPicker_->setCurrentIndex(0);
    dimensionPicker_->setValue(dimension_);
    updateScreen();
    updateSnapshot();
    updateStorage();
}

QWidget* ReportView::headlineRow() {
    auto* top = new QWidget;
    top->setObjectName(QStringLiteral("headline"));
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(6);
    headline_ = new QLabel;
    headline_->setObjectName(QStringLiteral("title"));
    headline_->setFont(pixelFont(30, QFont::Bold));
    auto* subtitle = new TextLabel(QStringLiteral("额度、调用与趋势，留在你的电脑上。"), 2);
    subtitle->setObjectName(QStringLiteral("subtitle"));
    subtitle->setTint(Style::Tint::Secondary);
    titles->addWidget(headline_);
    titles->addWidget(subtitle);
    periodPicker_ = new QComboBox;
    periodPicker_->setObjectName(QStringLiteral("period"));
    // Linux screen readers take a combo box's name from its text; the title goes along as its
    // description.
    periodPicker_->setAccessibleName(QStringLiteral("时间范围"));
    periodPicker_->setAccessibleDescription(QStringLiteral("时间范围"));
    periodPicker_->setFixedWidth(115);
    WheelGuard::install(periodPicker_);
    for (const Report::Choice& choice : Report::periods())
        periodPicker_->addItem(choice.label, choice.value);
    topRow->addLayout(titles, 1);
    topRow->addWidget(periodPicker_, 0, Qt::AlignBottom);
    return top;
}

QWidget* ReportView::issueBanner() {
    issue_ = new Surface(Surface::Fill::Orange, 0.08, 12);
    issue_->setObjectName(QStringLiteral("issue"));
    auto* issueRow = new QHBoxLayout(issue_);
    issueRow->setContentsMargins(14, 14, 14, 14);
    issueRow->addWidget(
        new SymbolView(QStringLiteral("exclamationmark.triangle"), Style::Tint::Orange), 0,
        Qt::AlignTop);
    issueText_ = new TextLabel(QString(), 8);
    issueText_->setTint(Style::Tint::Orange);
    issueRow->addWidget(issueText_, 1);
    return issue_;
}

QWidget* ReportView::tileRow() {
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("tiles"));
    auto* tiles = new QHBoxLayout(row);
    tiles->setContentsMargins(0, 0, 0, 0);
    tiles->setSpacing(12);
    const auto initial = Report::tiles(nullptr);
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        tiles_[i] = new MetricTile(initial[i].title, initial[i].value, initial[i].symbol);
        tiles->addWidget(tiles_[i], 1);
    }
    return row;
}

// The chart itself comes with the first period that has a trend (updateUsage).
QWidget* ReportView::trendBox() {
    auto* box = new Surface(Surface::Fill::Quaternary, 0.30, 18);
    box->setObjectName(QStringLiteral("trend"));
    trend_ = new QVBoxLayout(box);
    trend_->setContentsMargins(20, 20, 20, 20);
    trend_->setSpacing(18);
    trend_->addWidget(heading(QStringLiteral("调用趋势"), "trendHeading"));
    emptyTrend_ = new QWidget;
    emptyTrend_->setObjectName(QStringLiteral("emptyTrend"));
    emptyTrend_->setFixedHeight(120);
    auto* emptyRow = new QHBoxLayout(emptyTrend_);
    emptyRow->setContentsMargins(0, 0, 0, 0);
    auto* emptyText = new TextLabel(QStringLiteral("此时间范围暂无趋势数据"));
    emptyText->setTint(Style::Tint::Secondary);
    emptyRow->addStretch(1);
    emptyRow->addWidget(emptyText);
    emptyRow->addStretch(1);
    trend_->addWidget(emptyTrend_);
    return box;
}

QWidget* ReportView::distributionHeading() {
    auto* distribution = new QWidget;
    distribution->setObjectName(QStringLiteral("distributionHeading"));
    auto* distributionRow = new QHBoxLayout(distribution);
    distributionRow->setContentsMargins(0, 0, 0, 0);
    distributionRow->addWidget(heading(QStringLiteral("用量分布"), "distributionTitle"));
    distributionRow->addStretch(1);
    dimensionPicker_ = new SegmentedPicker(QStringLiteral("维度"), Report::dimensions());
    dimensionPicker_->setObjectName(QStringLiteral("dimension"));
    dimensionPicker_->setFixedWidth(270);
    distributionRow->addWidget(dimensionPicker_);
    return distribution;
}

QWidget* ReportView::footnotes() {
    auto* notes = new QWidget;
    notes->setObjectName(QStringLiteral("footnotes"));
    auto* noteColumn = new QVBoxLayout(notes);
    noteColumn->setContentsMargins(0, 0, 0, 0);
    noteColumn->setSpacing(5);
    pricingNote_ = note(QString(), "pricingNote");
    noteColumn->addWidget(pricingNote_);
    noteColumn->addWidget(note(Report::scopeNote(), "scopeNote"));
    syncNote_ = note(QString(), "syncNote", 2);
    noteColumn->addWidget(syncNote_);
    return notes;
}

QString ReportView::navigationTitle() const {
    return Report::navigationTitle(sync_->screen());
}

void ReportView::setPeriod(const QString& period) {
    if (period == period_)
        return;
    period_ = period;
    const int index = periodPicker_->findData(period);
    periodPicker_->setCurrentIndex(index);
    updateUsage();
    emit periodChanged(period_);
}

void ReportView::setDimension(const QString& dimension) {
    if (dimension == dimension_)
        return;
    dimension_ = dimension;
    dimensionPicker_->setValue(dimension);
    updateRows();
    emit dimensionChanged(dimension_);
}

QStringList ReportView::visibleParts() const {
    QStringList parts;
    for (int i = 0; i < stack_->count(); ++i)
        if (QWidget* w = stack_->itemAt(i)->widget(); w && !w->isHidden())
            parts << w->objectName();
    return parts;
}

void ReportView::updateScreen() {
    const QString screen = sync_->screen();
    headline_->setText(Report::headline(screen));
    const bool subscriptions = Report::showsSubscriptions(screen);
    subscriptionsHeading_->setVisible(subscriptions);
    const bool none = sync_->snapshot().quotas.empty();
    emptyQuotas_->setVisible(subscriptions && none);
    grid_->setVisible(subscriptions && !none);
    if (subscriptions) {
        // Shared with the snapshot, not copied; the grid reads it on a worker first.
        const SharedSnapshot::Ptr& published = sync_->published();
        grid_->setQuotas(QuotaGrid::Quotas(published, &published->snapshot().quotas));
    }
    reveal_.start();
    emit navigationTitleChanged(navigationTitle());
}

void ReportView::updateSnapshot() {
    const Snapshot& snapshot = sync_->snapshot();
    issue_->setVisible(snapshot.issue.has_value());
    issueText_->setText(QString::fromStdString(snapshot.issue.value_or(std::string())));
    syncNote_->setText(Report::syncNote(snapshot));
    syncNote_->setVisible(snapshot.updatedAt.has_value());
    updateScreen();
    updateUsage();
}

void ReportView::updateStorage() {
    const QString issue = sync_->storageIssue();
    storage_->setText(issue);
    storage_->setVisible(!issue.isEmpty());
}

void ReportView::updateUsage() {
    const Usage* usage = Report::usageFor(sync_->snapshot(), period_);
    const auto figures = Report::tiles(usage);
    for (std::size_t i = 0; i < tiles_.size(); ++i)
        tiles_[i]->setValue(figures[i].value);

    const bool series = usage && usage->series && !usage->series->empty();
    if (series) {
        // The chart module is first loaded here, when a period with a trend is shown.
        if (!chart_) {
            chart_ = TrendChart::make();
            if (!chart_)
                chartMissing_ = new TextLabel(QString());
            QWidget* shown = chart_ ? chart_->widget() : chartMissing_;
            shown->setFixedHeight(TrendChart::reportHeight);
            shown->setObjectName(QStringLiteral("chart"));
            trend_->addWidget(shown);
        }
        const QString label = TrendChart::accessibleLabel(qsizetype(usage->series->size()));
        if (chart_) {
            chart_->setPoints(TrendChart::points(*usage->series));
            chart_->widget()->setAccessibleName(label);
        } else {
            // Without its module the chart still says what it would show.
            chartMissing_->setText(label);
        }
    }
    if (QWidget* shown = chart_ ? chart_->widget() : chartMissing_)
        shown->setVisible(series);
    emptyTrend_->setVisible(!series);
    pricingNote_->setText(Report::pricingNote(usage));
    updateRows();
}

void ReportView::updateRows() {
    rows_->setRows(Report::rows(Report::usageFor(sync_->snapshot(), period_), dimension_));
}

void ReportView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    reveal_.start();
}

void ReportView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    reveal_.start();
}

void ReportView::revealCards() {
    if (grid_->isHidden())
        return;
    const QRect visible(grid_->mapFrom(viewport(), QPoint(0, 0)), viewport()->size());
    // A screenful ahead, so scrolling meets cards already made.
    grid_->reveal(visible.adjusted(0, 0, 0, viewport()->height()));
}

} // namespace tessel
