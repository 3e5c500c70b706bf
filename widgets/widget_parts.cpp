#include "widgets/widget_parts.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QBoxLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/symbols.h"

namespace tessel {

namespace {

// Nothing past this many characters per line can show in a widget.
constexpr qsizetype charactersPerLine = 512;

QString bounded(const QString& text, int maxLines) {
    QString shown = text.left(charactersPerLine * maxLines);
    if (!shown.isEmpty() && shown.back().isHighSurrogate())
        shown.chop(1);
    for (QChar& c : shown)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator || c == u'\t')
            c = u' ';
    return shown;
}

QTextOption leftToRight() {
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Lines of `text` in `font` at `width`; at most `maxLines + 1` are laid out. `starts` gets
// where each line begins in `text`.
QStringList wrap(const QString& text, const QFont& font, qreal width, int maxLines,
                 QList<int>& starts) {
    QTextLayout layout(text, font);
    layout.setTextOption(leftToRight());
    QStringList lines;
    layout.beginLayout();
    while (lines.size() <= maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength());
        starts << line.textStart();
    }
    layout.endLayout();
    return lines;
}

qreal lineHeight(const QFont& font) {
    return std::ceil(QFontMetricsF(font).height());
}

} // namespace

QFont widgetFont(qreal pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    font.setWeight(weight);
    return font;
}

QHBoxLayout* hbox(int spacing) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

QVBoxLayout* vbox(int spacing) {
    auto* stack = new QVBoxLayout;
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    return stack;
}

void keepWidth(QWidget* label, qreal scale) {
    label->setMinimumWidth(int(std::ceil(label->sizeHint().width() * scale)));
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

// ---- FitLabel ----

FitLabel::FitLabel(const QString& text, const QFont& font, Style::Tint tint, qreal minimumScale,
                   int maxLines, QWidget* parent)
    : QLabel(parent), shown_(bounded(text, std::max(1, maxLines))), tint_(tint),
      minimumScale_(std::clamp(minimumScale, 0.1, 1.0)), maxLines_(std::max(1, maxLines)) {
    setTextFormat(Qt::PlainText);
    setText(text.left(charactersPerLine * maxLines_ * 2));
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void FitLabel::setTint(Style::Tint tint) {
    tint_ = tint;
    update();
}

QSize FitLabel::sizeHint() const {
    const QFontMetricsF metrics(font());
    const qreal natural = metrics.horizontalAdvance(shown_.left(charactersPerLine));
    return {int(std::ceil(natural)) + 1, int(lineHeight(font()) * maxLines_)};
}

QSize FitLabel::minimumSizeHint() const {
    return {0, int(lineHeight(font()) * maxLines_)};
}

const FitLabel::Fit& FitLabel::fitFor(int width) const {
    if (fit_.width == width && fit_.font.pixelSize() > 0)
        return fit_;
    fit_ = Fit{};
    fit_.width = width;
    const QFont base = font();
    const int basePixels =
        std::max(1, base.pixelSize() > 0 ? base.pixelSize() : QFontMetrics(base).height());
    // Whole pixel steps down to the smallest allowed size: the first that fits wins.
    const int smallest = std::max(1, int(std::ceil(basePixels * minimumScale_)));
    int lastStart = 0;
    for (int pixels = basePixels; pixels >= smallest; --pixels) {
        QFont font = base;
        font.setPixelSize(pixels);
        QStringList lines;
        QList<int> starts{0};
        bool fits;
        if (maxLines_ == 1) {
            fits = QFontMetricsF(font).horizontalAdvance(shown_) <= width;
            lines = {shown_};
        } else {
            starts.clear();
            lines = wrap(shown_, font, width, maxLines_, starts);
            fits = lines.size() <= maxLines_;
        }
        fit_.font = font;
        fit_.scale = qreal(pixels) / basePixels;
        fit_.lines = lines;
        lastStart = maxLines_ <= starts.size() ? starts[maxLines_ - 1] : 0;
        if (fits)
            return fit_;
    }
    // Still too long at the smallest size: elide the last line.
    while (fit_.lines.size() > maxLines_)
        fit_.lines.removeLast();
    if (fit_.lines.isEmpty())
        fit_.lines << QString();
    QString& last = fit_.lines.last();
    const QString rest = shown_.mid(lastStart);
    last = QFontMetricsF(fit_.font).elidedText(rest, Qt::ElideRight, width);
    fit_.elided = true;
    return fit_;
}

QStringList FitLabel::visibleLines() const {
    return fitFor(contentsRect().width()).lines;
}

qreal FitLabel::scale() const {
    return fitFor(contentsRect().width()).scale;
}

bool FitLabel::isElided() const {
    return fitFor(contentsRect().width()).elided;
}

void FitLabel::paintEvent(QPaintEvent*) {
    const QRect area = contentsRect();
    const Fit& fit = fitFor(area.width());
    QPainter painter(this);
    painter.setFont(fit.font);
    // A widget's texts never grey out: the name of the only subscription is a disabled button
    // (nothing to switch to), yet it is the widget's title.
    QPalette colours = palette();
    if (!isEnabled())
        colours.setCurrentColorGroup(!isVisible() || isActiveWindow() ? QPalette::Active
                                                                      : QPalette::Inactive);
    painter.setPen(Style::color(tint_, colours));
    const qreal step = lineHeight(fit.font);
    // Shrunk text keeps the baseline of the full-size line, as a shrinking label does.
    const qreal top =
        maxLines_ == 1 ? area.top() + (area.height() - step) / 2 + (lineHeight(font()) - step) / 2
                       : area.top();
    for (int i = 0; i < fit.lines.size(); ++i) {
        QTextLayout layout(fit.lines[i], fit.font);
        QTextOption option = leftToRight();
        option.setWrapMode(QTextOption::NoWrap);
        option.setAlignment(alignment() & Qt::AlignRight ? Qt::AlignRight : Qt::AlignLeft);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(area.width());
        layout.endLayout();
        // The line's own ascent grows with CJK fallback glyphs; one baseline for every label of
        // a font keeps mixed and Latin-only texts in a row level.
        const qreal baseline = top + i * step + QFontMetricsF(fit.font).ascent();
        layout.draw(&painter, QPointF(area.left(), baseline - line.ascent()));
    }
}

// ---- CycleButton ----

CycleButton::CycleButton(const QString& title, bool chevron, QWidget* parent)
    : QAbstractButton(parent),
      title_(new FitLabel(title, widgetFont(13, QFont::DemiBold), Style::Tint::Text, 0.8, 1, this)),
      chevron_(chevron) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize CycleButton::sizeHint() const {
    return {title_->sizeHint().width() + 16, title_->sizeHint().height()};
}

QSize CycleButton::minimumSizeHint() const {
    return {16, title_->sizeHint().height()};
}

void CycleButton::paintEvent(QPaintEvent*) {
    const int chevronSide = chevron_ ? 10 : 0;
    title_->setGeometry(0, 0, width() - (chevron_ ? chevronSide + 3 : 0), height());
    if (!chevron_)
        return;
    QPainter painter(this);
    const QRect box(width() - chevronSide, (height() - chevronSide) / 2, chevronSide, chevronSide);
    Symbols::icon("chevron.right", Style::secondary(palette())).paint(&painter, box);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

// ---- LinkButton ----

LinkButton::LinkButton(const QString& symbol, int pixels, QWidget* parent)
    : QToolButton(parent), symbol_(symbol), pixels_(pixels) {
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(pixels + 4, pixels + 4);
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect box((width() - pixels_) / 2, (height() - pixels_) / 2, pixels_, pixels_);
    const QColor tint = underMouse() ? Style::mint(palette()) : Style::secondary(palette());
    Symbols::icon(symbol_, tint).paint(&painter, box);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

// ---- Accessibility ----

namespace {

// A row reads as one text; its labels are not offered separately.
class CombinedAccessible : public QAccessibleWidget {
public:
    explicit CombinedAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::StaticText) {}
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

QAccessibleInterface* accessibleFor(const QString& key, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (key == QLatin1String("tessel::QuotaRowView"))
        return new CombinedAccessible(widget);
    if (key == QLatin1String("tessel::TrendChart"))
        return new QAccessibleWidget(widget, QAccessible::Chart);
    return nullptr;
}

} // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
}

// ---- Dot, ShareBar, Divider ----

Dot::Dot(Style::Tint tint, int side, QWidget* parent) : QWidget(parent), tint_(tint) {
    setFixedSize(side, side);
}

void Dot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::color(tint_, palette()));
    painter.drawEllipse(QRectF(rect()));
}

ShareBar::ShareBar(double percent, QWidget* parent)
    : QWidget(parent), percent_(std::isnan(percent) ? 0 : std::clamp(percent, 0.0, 100.0)) {
    setFixedHeight(2);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ShareBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal radius = height() / 2.0;
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.07);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    const qreal filled = width() * percent_ / 100.0;
    if (filled <= 0)
        return;
    painter.setBrush(percent_ >= 15 ? Style::mint(palette()) : Style::orange(palette()));
    painter.drawRoundedRect(QRectF(0, 0, filled, height()), radius, radius);
}

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15);
    painter.fillRect(rect(), line);
}

// ---- TrendChart ----

TrendChart::TrendChart(const Trend& trend, QWidget* parent) : QWidget(parent) {
    setFixedHeight(42);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    const double first = double(trend.first);
    const double span = double(trend.last) - first;
    points_.reserve(trend.points.size());
    for (const Trend::Point& p : trend.points)
        points_.emplace_back(span > 0 ? (double(p.time) - first) / span : 0.5, p.value);
    low_ = 0;
    high_ = 0;
    for (const QPointF& p : points_) {
        low_ = std::min(low_, p.y());
        high_ = std::max(high_, p.y());
    }
    if (high_ <= low_)
        high_ = low_ + 1;
}

void TrendChart::paintEvent(QPaintEvent*) {
    if (points_.empty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = 1; // half the line width, so the line is never cut at the edges
    const QRectF plot = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    auto at = [&](const QPointF& p) {
        return QPointF(plot.left() + p.x() * plot.width(),
                       plot.bottom() - (p.y() - low_) / (high_ - low_) * plot.height());
    };
    QPainterPath line;
    line.moveTo(at(points_.front()));
    for (std::size_t i = 1; i < points_.size(); ++i)
        line.lineTo(at(points_[i]));
    const qreal base = plot.bottom() - (0 - low_) / (high_ - low_) * plot.height();
    QPainterPath area = line;
    area.lineTo(at(points_.back()).x(), base);
    area.lineTo(at(points_.front()).x(), base);
    area.closeSubpath();
    QColor fill = Style::mint(palette());
    fill.setAlphaF(0.1);
    painter.fillPath(area, fill);
    painter.setPen(QPen(Style::mint(palette()), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    painter.drawPath(line);
}

} // namespace tessel
