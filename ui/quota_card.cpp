#include "ui/quota_card.h"

#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/display.h"
#include "ui/local_time.h"
#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/text_label.h"

namespace tessel {

namespace {

using Style::Tint;

QString fromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

TextLabel* label(const QString& text, const QFont& font, Tint tint = Tint::Text, int maxLines = 4) {
    auto* l = new TextLabel(text, maxLines);
    l->setFont(font);
    l->setTint(tint);
    return l;
}

QHBoxLayout* row(QWidget* owner) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

} // namespace

QuotaBar::QuotaBar(double percent, QWidget* parent)
    : QProgressBar(parent), percent_(percent), low_(percent < lowThreshold) {
    setRange(0, scale);
    setTextVisible(false);
    // NaN cannot come out of JSON, but a bar must never be fed an undefined value.
    const double shown = std::isnan(percent) ? 0.0 : std::clamp(percent, 0.0, 100.0);
    setValue(int(std::lround(shown * scale / 100.0)));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    applyTint();
}

QSize QuotaBar::sizeHint() const {
    return {120, 6};
}
QSize QuotaBar::minimumSizeHint() const {
    return {24, 6};
}

void QuotaBar::applyTint() {
    QPalette p = palette();
    p.setColor(QPalette::Highlight, low_ ? Style::orange(p) : Style::mint(p));
    setPalette(p);
}

void QuotaBar::changeEvent(QEvent* event) {
    QProgressBar::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange)
        applyTint();
}

void QuotaBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2;
    QColor groove = palette().color(QPalette::WindowText);
    groove.setAlphaF(0.12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(groove);
    painter.drawRoundedRect(track, radius, radius);
    if (value() <= minimum())
        return;
    QRectF filled = track;
    filled.setWidth(track.width() * (value() - minimum()) / std::max(1, maximum() - minimum()));
    QPainterPath clip;
    clip.addRoundedRect(track, radius, radius);
    painter.setClipPath(clip);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(filled, radius, radius);
}

QString QuotaCard::valueText(const QuotaWindow& window) {
    if (window.unlimited.value_or(false))
        return QStringLiteral("无限制");
    const std::optional<double> percent = window.remainingPercent();
    if (!percent)
        return QStringLiteral("未获取");
    return QStringLiteral("剩余 ") + QString::fromStdString(Display::percent(*percent)) + u'%';
}

QuotaCard::QuotaCard(const Quota& quota, bool compact, QWidget* parent)
    : QWidget(parent), quota_(quota), compact_(compact) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(compact ? 5 : 12);

    addHeader();
    if (!compact && quota.plan) {
        auto* plan = label(fromStd(*quota.plan), Style::caption(), Tint::Secondary);
        plan->setObjectName("plan");
        stack->addWidget(plan);
    }
    if (quota.balance) {
        auto* balance = label(fromStd(*quota.balance),
                              compact ? Style::subheadline() : Style::title2(), Tint::Text, 2);
        balance->setObjectName("balance");
        stack->addWidget(balance);
    }
    // Cut before any row exists: a record with thousands of windows costs 20 rows at most.
    const std::size_t available = quota.windows ? quota.windows->size() : 0;
    const std::size_t limit = std::min<std::size_t>(
        available, std::size_t(compact ? compactWindowLimit : fullWindowLimit));
    for (std::size_t i = 0; i < limit; ++i)
        addWindow((*quota.windows)[i], int(i));
    if (!quota.balance && available == 0) {
        auto* state = label(fromStd(quota.measurementState()), Style::caption(), Tint::Secondary);
        state->setObjectName("state");
        stack->addWidget(state);
    }
    if (!compact)
        addSource();
}

void QuotaCard::addHeader() {
    auto* header = new QWidget;
    header->setObjectName("header");
    QHBoxLayout* layout = row(header);
    layout->setSpacing(8);
    const bool balanceKind = quota_.kind && *quota_.kind == "balance";
    auto* symbol = new SymbolView(balanceKind ? "creditcard" : "sparkles", Tint::Mint);
    symbol->setObjectName("kindSymbol");
    symbol->setFont(Style::headline());
    layout->addWidget(symbol);
    auto* title = label(fromStd(quota_.title()), Style::headline(), Tint::Text, 1);
    title->setObjectName("title");
    layout->addWidget(title, 1);
    layout->addSpacerItem(new QSpacerItem(4, 0, QSizePolicy::Minimum, QSizePolicy::Minimum));
    if (quota_.error) {
        auto* warning = new SymbolView("exclamationmark.triangle.fill", Tint::Orange);
        warning->setObjectName("errorSymbol");
        warning->setFont(Style::headline());
        warning->setToolTip(QStringLiteral("提供商暂不可用，可能显示缓存数据"));
        warning->setAccessibleName(warning->toolTip());
        layout->addWidget(warning);
    }
    this->layout()->addWidget(header);
}

void QuotaCard::addWindow(const QuotaWindow& window, int position) {
    auto* box = new QWidget;
    box->setObjectName("window");
    box->setProperty("position", position);
    auto* stack = new QVBoxLayout(box);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);

    auto* line = new QWidget;
    QHBoxLayout* layout = row(line);
    auto* name = label(fromStd(window.name), Style::caption(), Tint::Text, 1);
    name->setObjectName("windowName");
    auto* value = label(valueText(window), Style::caption(), Tint::Text, 1);
    value->setObjectName("windowValue");
    // The value keeps its place against a long name; only an absurd figure gets elided.
    value->setMinimumChars(10);
    value->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    layout->addWidget(name, 1);
    layout->addSpacerItem(new QSpacerItem(2, 0, QSizePolicy::Minimum, QSizePolicy::Minimum));
    layout->addWidget(value);
    stack->addWidget(line);

    if (const std::optional<double> percent = window.remainingPercent()) {
        auto* bar = new QuotaBar(*percent);
        bar->setObjectName("windowBar");
        // A screen reader names the bar by its window rather than by the raw bar value.
        bar->setAccessibleName(fromStd(window.name) + QStringLiteral("，") + valueText(window));
        stack->addWidget(bar);
    }
    if (!compact_ && window.display) {
        auto* display = label(fromStd(*window.display), Style::caption(), Tint::Secondary);
        display->setObjectName("windowDisplay");
        stack->addWidget(display);
    }
    if (window.resetsAt) {
        auto* reset = label(QStringLiteral("重置于 ") + LocalTime::dateTime(*window.resetsAt),
                            Style::caption2(), Tint::Secondary, 2);
        reset->setObjectName("windowReset");
        stack->addWidget(reset);
    }
    this->layout()->addWidget(box);
}

void QuotaCard::addSource() {
    const std::optional<Instant> at = quota_.asOf ? quota_.asOf : quota_.readAt;
    if (!at)
        return;
    auto* source = new QWidget;
    source->setObjectName("source");
    QHBoxLayout* layout = row(source);
    auto* when = label(QStringLiteral("源数据 ") + LocalTime::dateTime(*at), Style::caption2(),
                       Tint::Secondary, 1);
    when->setObjectName("sourceTime");
    layout->addWidget(when);
    if (quota_.readDeferred.value_or(false)) {
        auto* deferred = label(QStringLiteral("· 延后读取"), Style::caption2(), Tint::Secondary, 1);
        deferred->setObjectName("deferred");
        layout->addWidget(deferred);
    }
    layout->addStretch(1);
    this->layout()->addWidget(source);
}

} // namespace tessel
