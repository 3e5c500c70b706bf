#include "widgets/widget_content.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>

#include "model/display.h"
#include "ui/symbol_view.h"
#include "widgets/cycle.h"
#include "widgets/quota_row.h"
#include "widgets/widget_parts.h"
#include "widgets/widget_text.h"

namespace tessel {

namespace {

using Role = widget::ViewItem::Role;
using Style::Tint;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The desktop's stand-ins for the standard text styles, in pixels of a fixed-size widget.
QFont headline() {
    return widgetFont(17, QFont::DemiBold);
}
QFont caption() {
    return widgetFont(12);
}
QFont caption2() {
    return widgetFont(11);
}
QFont title3() {
    return widgetFont(20, QFont::Bold);
}

} // namespace

WidgetContent::WidgetContent(Family family, Entry entry, widget::ViewActions actions,
                             QWidget* parent)
    : QWidget(parent), family_(family), entry_(std::move(entry)), actions_(std::move(actions)) {
    setFixedSize(widget::familySize(family_));
    setCursor(Qt::PointingHandCursor);
    // The tap target is reachable without a pointer, too.
    setFocusPolicy(Qt::TabFocus);
    installAccessibility();
    auto* frame = new QVBoxLayout(this);
    const int margin = family_ == Family::Large ? 14 : 12;
    frame->setContentsMargins(margin, margin, margin, margin);
    rebuild();
}

void WidgetContent::setEntry(Entry entry) {
    entry_ = std::move(entry);
    rebuild();
}

QSize WidgetContent::sizeHint() const {
    return widget::familySize(family_);
}

QWidget* WidgetContent::text(QBoxLayout* into, const QString& shown, const QFont& font, Tint tint,
                             qreal minimumScale, int maxLines) {
    auto* label = new FitLabel(shown, font, tint, minimumScale, maxLines);
    into->addWidget(label);
    tracked_.push_back({label, Role::Text, shown, {}, {}});
    return label;
}

void WidgetContent::rebuild() {
    tracked_.clear();
    if (body_) {
        // A host may set the next entry from inside the click of a button of this one.
        body_->hide();
        layout()->removeWidget(body_);
        body_->deleteLater();
    }
    body_ = new QWidget(this);
    layout()->addWidget(body_);
    auto* stack = vbox(family_ == Family::Large ? 10 : 6);
    body_->setLayout(stack);

    header(stack);
    if (family_ == Family::Small) {
        small(stack);
        smallFooter(stack);
    } else {
        quotaList(stack);
        if (family_ == Family::Large)
            analytics(stack);
        stack->addStretch(1);
        if (entry_.effectivePreferences().showSync) {
            auto* row = hbox(4);
            footer(row);
            row->addStretch(1);
            stack->addLayout(row);
        }
    }
    setAccessibleName(QStringLiteral("Tessel Widget"));
    // Children added to a shown widget would only appear on a later event-loop turn.
    if (isVisible()) {
        layout()->activate();
        body_->show();
    }
    update();
}

void WidgetContent::header(QVBoxLayout* stack) {
    auto* row = hbox(4);
    const QFont font = widgetFont(10, QFont::DemiBold);
    auto* bird = new SymbolView(QStringLiteral("bird.fill"), Tint::Secondary);
    bird->setFont(font);
    // Unnamed: the text beside it says "TESSEL" once to a screen reader.
    row->addWidget(bird);
    text(row, QStringLiteral("TESSEL"), font, Tint::Secondary);
    row->addStretch(1);
    auto* refresh = new LinkButton(QStringLiteral("arrow.clockwise"), 11);
    refresh->setAccessibleName(QStringLiteral("打开应用并刷新"));
    refresh->setToolTip(QStringLiteral("打开应用并刷新"));
    const QUrl url(QStringLiteral("tesselwidget://refresh"));
    connect(refresh, &QToolButton::clicked, this, [this, url] { openUrl(url); });
    row->addWidget(refresh);
    tracked_.push_back({refresh, Role::Link, {}, url, {}});
    stack->addLayout(row);
}

void WidgetContent::small(QVBoxLayout* stack) {
    const WidgetMetric metric = entry_.metric();
    const Quota* selected = entry_.selectedQuota();

    if (metric == WidgetMetric::cost || metric == WidgetMetric::tokens) {
        const Usage* usage = entry_.usage();
        text(stack, qs(Period::label(entry_.period())), caption(), Tint::Secondary);
        const std::string value = metric == WidgetMetric::cost
                                      ? Display::money(usage ? usage->cost : std::nullopt)
                                      : Display::number(usage ? usage->tokens() : std::nullopt);
        text(stack, qs(value), widgetFont(30, QFont::DemiBold), Tint::Text, 0.5);
        text(stack,
             metric == WidgetMetric::cost ? QStringLiteral("估算费用 · USD")
                                          : QStringLiteral("Token · 输入 + 输出"),
             caption2(), Tint::Secondary);
    } else if (selected) {
        const Quota& q = *selected;
        const bool cycles = entry_.shownCount() >= 2;
        const QString title = qs(q.title());
        auto* button = new CycleButton(title, cycles);
        button->setEnabled(cycles);
        button->setAccessibleName(title + QStringLiteral("，切换到下一个订阅"));
        const std::string key = entry_.configuration.selectionKey();
        const auto count = std::int64_t(entry_.shownCount());
        widget::Intent intent{QString::fromUtf8(CycleSubscriptionIntent::title),
                              {{QStringLiteral("selectionKey"), qs(key)},
                               {QStringLiteral("count"), qlonglong(count)}},
                              [key, count] {
                                  CycleSubscriptionIntent{key, count}.perform();
                              }};
        connect(button, &QAbstractButton::clicked, this, [this, intent] { run(intent); });
        stack->addWidget(button);
        tracked_.push_back({button, Role::Button, title, {}, intent});

        if (const QuotaWindow* w = firstWindow(q)) {
            const QFont big = widgetFont(36, QFont::DemiBold);
            switch (metric) {
            case WidgetMetric::reset:
                text(stack,
                     w->resetsAt ? qs(WidgetText::reset(*w->resetsAt))
                                 : QStringLiteral("未提供时间"),
                     title3(), Tint::Text, 0.7, 2);
                break;
            case WidgetMetric::used:
                text(stack, w->used ? qs(WidgetText::percent(*w->used)) : qs(Display::placeholder),
                     big, Tint::Text, 0.6);
                break;
            default:
                text(stack, qs(WidgetText::remaining(w)), big, Tint::Text, 0.6);
                break;
            }
        } else {
            text(stack, qs(q.balance.value_or(q.measurementState())), headline(), Tint::Text, 0.7,
                 2);
        }
        if (q.error)
            text(stack, QStringLiteral("提供商暂不可用"), widgetFont(9), Tint::Orange);
    } else {
        text(stack, QStringLiteral("等待 Tessel"), headline(), Tint::Text);
        text(stack, QStringLiteral("打开应用连接网关"), caption(), Tint::Secondary);
    }
    stack->addStretch(1);
}

void WidgetContent::smallFooter(QVBoxLayout* stack) {
    const WidgetPreferences preferences = entry_.effectivePreferences();
    const WidgetMetric metric = entry_.metric();
    const Quota* selected = entry_.selectedQuota();
    auto* row = hbox(4);
    if (preferences.showWindowName && selected && firstWindow(*selected) &&
        (metric == WidgetMetric::remaining || metric == WidgetMetric::used ||
         metric == WidgetMetric::reset)) {
        const QString what = metric == WidgetMetric::remaining ? QStringLiteral("剩余")
                             : metric == WidgetMetric::used    ? QStringLiteral("已用")
                                                               : QStringLiteral("重置");
        QWidget* caption =
            text(row, qs(firstWindow(*selected)->name) + QStringLiteral(" · ") + what,
                 widgetFont(9), Tint::Secondary, 0.75);
        caption->setMinimumWidth(0);
        caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        row->setStretchFactor(caption, 1);
    } else {
        row->addStretch(1);
    }
    if (preferences.showSync)
        footer(row);
    stack->addLayout(row);
}

void WidgetContent::footer(QHBoxLayout* row) {
    const Snapshot& s = entry_.status();
    const bool stale = s.stale(entry_.date);
    auto* dot = new Dot(s.issue || stale ? Tint::Orange : Tint::Mint, 4);
    row->addWidget(dot, 0, Qt::AlignVCenter);
    const QFont font = widgetFont(9);
    auto add = [&](const QString& shown) {
        keepWidth(text(row, shown, font, Tint::Secondary, 0.8), 0.8);
    };
    if (!s.updatedAt) {
        add(s.issue ? QStringLiteral("连接异常") : QStringLiteral("等待同步"));
        return;
    }
    add(QStringLiteral("同步于 ") + qs(WidgetText::clock(*s.updatedAt)));
    if (s.issue)
        add(QStringLiteral("· 离线"));
    else if (stale)
        add(QStringLiteral("· 已过期"));
}

void WidgetContent::quotaList(QVBoxLayout* stack) {
    const WidgetPreferences preferences = entry_.effectivePreferences();
    if (!preferences.showQuotas)
        return;
    const std::vector<Quota>& quotas = entry_.quotas();
    if (quotas.empty()) {
        text(stack, QStringLiteral("暂无订阅额度"), headline(), Tint::Text);
        text(stack, QStringLiteral("在应用中选择订阅"), caption(), Tint::Secondary);
        return;
    }
    const bool spacious = family_ == Family::Large;
    auto* rows = vbox(spacious ? 10 : 6);
    const auto count = std::size_t(std::clamp<std::int64_t>(preferences.quotaCount, 1, 3));
    for (std::size_t i = 0; i < std::min(count, quotas.size()); ++i)
        quotaRow(rows, quotas[i], spacious);
    stack->addLayout(rows);
}

void WidgetContent::quotaRow(QVBoxLayout* stack, const Quota& quota, bool spacious) {
    // A long balance text may take most of the title line, never all of it.
    auto* row =
        new QuotaRowView(quota, entry_.effectivePreferences(), spacious, int(width() * 0.6));
    stack->addWidget(row);
    tracked_.push_back({row, Role::Text, row->texts().join(u'\n'), {}, {}});
}

void WidgetContent::analytics(QVBoxLayout* stack) {
    const WidgetPreferences e = entry_.effectivePreferences();
    const Usage* usage = entry_.usage();
    if (e.showQuotas &&
        (e.showCost || e.showTokens || e.showChart || e.showRequests || e.showAgents))
        stack->addWidget(new Divider);

    if (e.showCost || e.showTokens) {
        auto* figures = hbox(8);
        const QFont big = widgetFont(24, QFont::DemiBold);
        const QFont under = widgetFont(9);
        if (e.showCost) {
            auto* column = vbox(3);
            text(column, qs(Display::money(usage ? usage->cost : std::nullopt)), big, Tint::Text,
                 0.5);
            text(column, qs(Period::label(entry_.period())) + QStringLiteral("估算费用"), under,
                 Tint::Secondary);
            figures->addLayout(column, 1);
        }
        figures->addStretch(0);
        if (e.showTokens) {
            auto* column = vbox(3);
            auto* value = static_cast<QLabel*>(
                text(column, qs(Display::number(usage ? usage->tokens() : std::nullopt)), big,
                     Tint::Text, 0.5));
            value->setAlignment(Qt::AlignRight);
            auto* caption = static_cast<QLabel*>(
                text(column, QStringLiteral("输入 + 输出 Token"), under, Tint::Secondary));
            caption->setAlignment(Qt::AlignRight);
            figures->addLayout(column, 1);
        }
        stack->addLayout(figures);
    }

    if (e.showChart && !entry_.trend().points.empty()) {
        const bool cost = e.chartMetric == "cost";
        auto* chart = new TrendChart(entry_.trend());
        chart->setAccessibleName(cost ? QStringLiteral("费用趋势")
                                      : QStringLiteral("Token 用量趋势"));
        stack->addWidget(chart);
        tracked_.push_back({chart, Role::Chart, {}, {}, {}});
    }

    if (e.showRequests || e.showAgents) {
        auto* counts = hbox(8);
        const QFont font = widgetFont(10);
        if (e.showRequests)
            keepWidth(text(counts,
                           qs(Display::number(usage ? usage->calls : std::nullopt)) +
                               QStringLiteral(" 次请求"),
                           font, Tint::Secondary),
                      1.0);
        counts->addStretch(1);
        if (e.showAgents && usage && usage->agents && !usage->agents->empty()) {
            const UsageGroup& agent = usage->agents->front();
            QWidget* label = text(counts,
                                  qs(agent.name.value_or(agent.id)) + QStringLiteral(" · ") +
                                      qs(Display::number(agent.calls)) + QStringLiteral(" 次"),
                                  font, Tint::Secondary);
            static_cast<QLabel*>(label)->setAlignment(Qt::AlignRight);
            label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
            label->setMinimumWidth(0);
        }
        stack->addLayout(counts);
    }
}

QList<widget::ViewItem> WidgetContent::items() {
    ensureLaidOut();
    QList<widget::ViewItem> out;
    for (const Tracked& t : tracked_) {
        if (!t.widget || !t.widget->isVisibleTo(this) || t.widget->size().isEmpty())
            continue;
        widget::ViewItem item;
        item.role = t.role;
        item.text = t.text;
        item.accessibleName =
            t.widget->accessibleName().isEmpty() ? t.text : t.widget->accessibleName();
        item.enabled = t.widget->isEnabled();
        item.url = t.url;
        item.intent = t.intent;
        item.rect = QRect(t.widget->mapTo(this, QPoint(0, 0)), t.widget->size());
        out << item;
    }
    return out;
}

QUrl WidgetContent::tapUrl() const {
    const WidgetMetric metric = entry_.metric();
    return QUrl(metric == WidgetMetric::cost || metric == WidgetMetric::tokens
                    ? QStringLiteral("tesselwidget://usage")
                    : QStringLiteral("tesselwidget://overview"));
}

// A widget that was never shown has laid out nothing yet; its layouts run here, parents first,
// so a hidden view renders and lists its items as a shown one does.
void WidgetContent::ensureLaidOut() {
    if (isVisible())
        return;
    ensurePolished();
    const std::function<void(QWidget*)> activate = [&activate](QWidget* widget) {
        if (widget->layout())
            widget->layout()->activate();
        for (QObject* child : widget->children())
            if (child->isWidgetType())
                activate(static_cast<QWidget*>(child));
    };
    activate(this);
}

QImage WidgetContent::render(qreal devicePixelRatio) {
    ensureLaidOut();
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1;
    const QSize size = widget::familySize(family_);
    QImage image(QSize(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    rounded_ = true;
    QWidget::render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    rounded_ = false;
    return image;
}

void WidgetContent::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (rounded_ || window()->testAttribute(Qt::WA_TranslucentBackground)) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), widget::cornerRadius, widget::cornerRadius);
        painter.fillPath(shape, background);
    } else {
        painter.fillRect(rect(), background);
    }
}

void WidgetContent::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void WidgetContent::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_ && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        openUrl(tapUrl());
    pressed_ = false;
}

void WidgetContent::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space)
        openUrl(tapUrl());
    else
        QWidget::keyPressEvent(event);
}

void WidgetContent::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

void WidgetContent::openUrl(const QUrl& url) const {
    if (actions_.openUrl)
        actions_.openUrl(url);
}

void WidgetContent::run(const widget::Intent& intent) const {
    if (actions_.runIntent)
        actions_.runIntent(intent);
    else if (intent.perform)
        intent.perform();
}

} // namespace tessel
