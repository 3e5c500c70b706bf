#include "ui/symbols.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace tessel {

namespace {

// Drawn on a 24 x 24 grid, in the tint colour.
using Drawing = std::function<void(QPainter&, const QColor&)>;

struct Entry {
    QStringList theme;
    Drawing draw;
};

QPen strokePen(const QColor& colour, qreal width = 2.0) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void stroke(QPainter& p, const QColor& c, const QPainterPath& path, qreal width = 2.0) {
    p.setPen(strokePen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void fill(QPainter& p, const QColor& c, const QPainterPath& path) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

QPainterPath arrowHead(QPointF tip, qreal angleDegrees, qreal size = 5.0) {
    QPainterPath head;
    const qreal a = qDegreesToRadians(angleDegrees);
    const QPointF back(std::cos(a) * size, std::sin(a) * size);
    const QPointF side(-back.y() * 0.8, back.x() * 0.8);
    head.moveTo(tip - back + side);
    head.lineTo(tip);
    head.lineTo(tip - back - side);
    return head;
}

QPainterPath star(QPointF centre, qreal radius, qreal waist) {
    QPainterPath path;
    for (int i = 0; i < 4; ++i) {
        const qreal a = qDegreesToRadians(-90.0 + 90.0 * i);
        const QPointF tip = centre + QPointF(std::cos(a), std::sin(a)) * radius;
        const qreal b = a + qDegreesToRadians(45.0);
        const QPointF inner = centre + QPointF(std::cos(b), std::sin(b)) * waist;
        if (i == 0)
            path.moveTo(tip);
        else
            path.lineTo(tip);
        path.lineTo(inner);
    }
    path.closeSubpath();
    return path;
}

QPainterPath triangle() {
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.lineTo(22.5, 20.5);
    path.lineTo(1.5, 20.5);
    path.closeSubpath();
    return path;
}

void exclamation(QPainter& p, const QColor& c) {
    p.setPen(strokePen(c, 2.2));
    p.drawLine(QPointF(12, 8.5), QPointF(12, 13.5));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 17.3), 1.3, 1.3);
}

const std::map<QString, Entry>& table() {
    static const std::map<QString, Entry> entries = {
        {"bird.fill",
         {{"net.quorvane.TesselWidget-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath body;
              body.moveTo(3, 9.5);
              body.cubicTo(5, 7, 8, 6.5, 10, 8.5);
              body.cubicTo(12, 4.5, 16, 3.5, 19.5, 5.5);
              body.lineTo(22.5, 5);
              body.lineTo(20.5, 7.5);
              body.cubicTo(21, 13, 17, 18, 10.5, 18.5);
              body.lineTo(6, 21.5);
              body.lineTo(7, 17.5);
              body.cubicTo(4, 15.5, 3, 12.5, 3, 9.5);
              body.closeSubpath();
              fill(p, c, body);
              // Eye as a hole.
              QPainterPath eye;
              eye.addEllipse(QPointF(17.2, 7.3), 0.9, 0.9);
              p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
              fill(p, Qt::black, eye);
              p.setCompositionMode(QPainter::CompositionMode_SourceOver);
          }}},
        {"arrow.clockwise",
         {{"view-refresh-symbolic", "view-refresh"},
          [](QPainter& p, const QColor& c) {
              QPainterPath arc;
              arc.arcMoveTo(QRectF(4, 4, 16, 16), 60);
              arc.arcTo(QRectF(4, 4, 16, 16), 60, 300);
              stroke(p, c, arc);
              stroke(p, c, arrowHead(QPointF(16, 5.2), 25));
          }}},
        {"creditcard",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath card;
              card.addRoundedRect(QRectF(2.5, 5, 19, 14), 2.5, 2.5);
              stroke(p, c, card, 1.8);
              fill(p, c, [] {
                  QPainterPath band;
                  band.addRect(QRectF(2.5, 8.5, 19, 3));
                  return band;
              }());
              p.setPen(strokePen(c, 1.8));
              p.drawLine(QPointF(6, 15.5), QPointF(10, 15.5));
          }}},
        {"sparkles",
         {{},
          [](QPainter& p, const QColor& c) {
              fill(p, c, star(QPointF(10, 13), 8.5, 2.4));
              fill(p, c, star(QPointF(19, 5.5), 3.8, 1.1));
              fill(p, c, star(QPointF(19.5, 19), 2.8, 0.9));
          }}},
        {"exclamationmark.triangle.fill",
         {{"dialog-warning-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath t = triangle();
              p.setPen(strokePen(c, 2.0));
              p.setBrush(c);
              p.drawPath(t);
              p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
              exclamation(p, Qt::black);
              p.setCompositionMode(QPainter::CompositionMode_SourceOver);
          }}},
        {"exclamationmark.triangle",
         {{"dialog-warning-symbolic"},
          [](QPainter& p, const QColor& c) {
              stroke(p, c, triangle(), 1.8);
              exclamation(p, c);
          }}},
        {"chevron.right",
         {{"go-next-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath path;
              path.moveTo(9, 5);
              path.lineTo(16, 12);
              path.lineTo(9, 19);
              stroke(p, c, path, 2.2);
          }}},
        {"wifi.slash",
         {{"network-wireless-offline-symbolic", "network-offline-symbolic"},
          [](QPainter& p, const QColor& c) {
              for (qreal r : {9.0, 6.0, 3.0}) {
                  QPainterPath arc;
                  const QRectF box(12 - r, 18 - r, 2 * r, 2 * r);
                  arc.arcMoveTo(box, 45);
                  arc.arcTo(box, 45, 90);
                  stroke(p, c, arc, 1.8);
              }
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(12, 18.5), 1.4, 1.4);
              p.setPen(strokePen(c, 1.8));
              p.drawLine(QPointF(4, 3.5), QPointF(20, 21));
          }}},
        {"circle.fill",
         {{},
          [](QPainter& p, const QColor& c) {
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(12, 12), 6.5, 6.5);
          }}},
        {"square.grid.2x2",
         {{"view-grid-symbolic", "view-app-grid-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath grid;
              for (qreal x : {3.5, 13.5})
                  for (qreal y : {3.5, 13.5})
                      grid.addRoundedRect(QRectF(x, y, 7, 7), 1.8, 1.8);
              stroke(p, c, grid, 1.7);
          }}},
        {"chart.xyaxis.line",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath axes;
              axes.moveTo(3.5, 3.5);
              axes.lineTo(3.5, 20.5);
              axes.lineTo(20.5, 20.5);
              stroke(p, c, axes, 1.7);
              QPainterPath line;
              line.moveTo(6.5, 16);
              line.lineTo(10.5, 10.5);
              line.lineTo(14, 13.5);
              line.lineTo(20, 6);
              stroke(p, c, line, 2.0);
          }}},
        {"rectangle.3.group",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath group;
              group.addRoundedRect(QRectF(3, 3.5, 18, 8), 2, 2);
              group.addRoundedRect(QRectF(3, 14, 7.5, 6.5), 2, 2);
              group.addRoundedRect(QRectF(13.5, 14, 7.5, 6.5), 2, 2);
              stroke(p, c, group, 1.7);
          }}},
        {"gearshape",
         {{"emblem-system-symbolic", "preferences-system-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath gear;
              const int teeth = 8;
              for (int i = 0; i < teeth * 4; ++i) {
                  const qreal a = qDegreesToRadians(360.0 * i / (teeth * 4) - 90.0);
                  const qreal r = (i % 4 == 1 || i % 4 == 2) ? 10.0 : 7.6;
                  const QPointF pt(12 + std::cos(a) * r, 12 + std::sin(a) * r);
                  if (i == 0)
                      gear.moveTo(pt);
                  else
                      gear.lineTo(pt);
              }
              gear.closeSubpath();
              gear.addEllipse(QPointF(12, 12), 3.2, 3.2);
              gear.setFillRule(Qt::OddEvenFill);
              fill(p, c, gear);
          }}},
        {"dollarsign.circle",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath ring;
              ring.addEllipse(QPointF(12, 12), 9.5, 9.5);
              stroke(p, c, ring, 1.7);
              QPainterPath s;
              s.moveTo(15, 8.8);
              s.cubicTo(13.5, 7.2, 8.5, 7.5, 9, 10.2);
              s.cubicTo(9.5, 12.5, 15.5, 11.5, 15.2, 14.2);
              s.cubicTo(14.8, 16.8, 10, 16.8, 8.7, 15.2);
              stroke(p, c, s, 1.7);
              p.drawLine(QPointF(12, 5.8), QPointF(12, 7.5));
              p.drawLine(QPointF(12, 16.5), QPointF(12, 18.2));
          }}},
        {"square.stack.3d.up",
         {{},
          [](QPainter& p, const QColor& c) {
              auto layer = [](qreal y) {
                  QPainterPath d;
                  d.moveTo(12, y);
                  d.lineTo(21, y + 4.5);
                  d.lineTo(12, y + 9);
                  d.lineTo(3, y + 4.5);
                  d.closeSubpath();
                  return d;
              };
              QPainterPath under;
              under.moveTo(3, 14);
              under.lineTo(12, 18.5);
              under.lineTo(21, 14);
              under.moveTo(3, 17.5);
              under.lineTo(12, 22);
              under.lineTo(21, 17.5);
              stroke(p, c, under, 1.7);
              stroke(p, c, layer(2.5), 1.7);
          }}},
        {"arrow.up.arrow.down",
         {{},
          [](QPainter& p, const QColor& c) {
              p.setPen(strokePen(c, 1.9));
              p.drawLine(QPointF(8, 4), QPointF(8, 19));
              p.drawLine(QPointF(16, 5), QPointF(16, 20));
              stroke(p, c, arrowHead(QPointF(8, 4), -90), 1.9);
              stroke(p, c, arrowHead(QPointF(16, 20), 90), 1.9);
          }}},
    };
    return entries;
}

QIcon themeIcon(const Entry& entry) {
    for (const QString& name : entry.theme)
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    return {};
}

class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString name, QColor tint) : name_(std::move(name)), tint_(std::move(tint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const Entry& entry = table().at(name_);
        const QPalette palette = QGuiApplication::palette();
        QColor colour = tint_.isValid() ? tint_ : palette.color(QPalette::WindowText);
        if (mode == QIcon::Disabled)
            colour.setAlphaF(colour.alphaF() * 0.4);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

        if (QIcon theme = themeIcon(entry); !theme.isNull()) {
            QPixmap pixmap = theme.pixmap(rect.size(), ratio, mode, state);
            if (tint_.isValid()) {
                QPainter tinter(&pixmap);
                tinter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                tinter.fillRect(QRect(QPoint(), pixmap.size()), colour);
            }
            painter->drawPixmap(rect, pixmap);
            return;
        }
        // Our own drawings go straight to the painter, so they are vectors at any scale. They
        // draw on a layer of their own because holes are punched with DestinationOut.
        const int side = std::min(rect.width(), rect.height());
        const QSize pixels = QSize(side, side) * ratio;
        if (pixels.isEmpty())
            return;
        QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter p(&layer);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(pixels.width() / 24.0, pixels.height() / 24.0);
            entry.draw(p, colour);
        }
        layer.setDevicePixelRatio(ratio);
        const QRect square(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawImage(square, layer);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new SymbolEngine(name_, tint_); }
    QString key() const override { return QStringLiteral("tessel-symbol"); }
    QString iconName() override { return name_; }
    bool isNull() override { return false; }

private:
    QString name_;
    QColor tint_;
};

QFont scaled(qreal factor, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(7.0, font.pointSizeF() * factor));
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(9, int(std::lround(font.pixelSize() * factor))));
    font.setWeight(weight);
    return font;
}

// Lines beyond this many characters per allowed line can never be seen in a desktop window.
constexpr qsizetype charactersPerLine = 1024;
constexpr qsizetype toolTipLimit = 2000;

QString cut(const QString& text, qsizetype limit) {
    if (text.size() <= limit)
        return text;
    qsizetype end = limit;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

} // namespace

namespace Symbols {

QStringList names() {
    QStringList all;
    for (const auto& [name, entry] : table())
        all << name;
    return all;
}

bool known(const QString& name) {
    return table().count(name) > 0;
}

QStringList themeNames(const QString& name) {
    const auto found = table().find(name);
    return found == table().end() ? QStringList() : found->second.theme;
}

QIcon icon(const QString& name, const QColor& tint) {
    if (!known(name))
        return {};
    return QIcon(new SymbolEngine(name, tint));
}

} // namespace Symbols

namespace Style {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor mint(const QPalette& palette) {
    return isDark(palette) ? QColor(0x63, 0xe6, 0xe2) : QColor(0x00, 0xa8, 0xa0);
}

QColor orange(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0x9f, 0x0a) : QColor(0xf0, 0x8a, 0x00);
}

QColor secondary(const QPalette& palette) {
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.62);
    return text;
}

QColor color(Tint tint, const QPalette& palette) {
    switch (tint) {
    case Tint::Secondary:
        return secondary(palette);
    case Tint::Mint:
        return mint(palette);
    case Tint::Orange:
        return orange(palette);
    case Tint::Text:
        break;
    }
    return palette.color(QPalette::WindowText);
}

QFont headline() {
    return scaled(1.0, QFont::DemiBold);
}
QFont title2() {
    return scaled(1.35);
}
QFont subheadline() {
    return scaled(0.92);
}
QFont caption() {
    return scaled(0.9);
}
QFont caption2() {
    return scaled(0.84);
}

} // namespace Style

SymbolView::SymbolView(const QString& symbol, Style::Tint tint, QWidget* parent)
    : QWidget(parent), symbol_(symbol), tint_(tint) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolView::sizeHint() const {
    const int side = QFontMetrics(font()).height();
    return {side, side};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Always tinted from this widget's palette: a window with its own (dark) palette would
    // otherwise get glyphs in the application's text colour.
    Symbols::icon(symbol_, Style::color(tint_, palette()))
        .paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

TextLabel::TextLabel(const QString& text, int maxLines, QWidget* parent)
    : QLabel(parent), maxLines_(std::max(1, maxLines)) {
    setTextFormat(Qt::PlainText);
    setText(text);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void TextLabel::setTint(Style::Tint tint) {
    tint_ = tint;
    update();
}

void TextLabel::setMinimumChars(int chars) {
    minimumChars_ = std::max(0, chars);
    updateGeometry();
}

QString TextLabel::shownText() const {
    QString shown = cut(text(), charactersPerLine * maxLines_);
    if (maxLines_ == 1) {
        for (QChar& c : shown)
            if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator || c == u'\t')
                c = u' ';
    } else {
        shown.replace(u'\n', QChar::LineSeparator);
    }
    return shown;
}

const TextLabel::Lines& TextLabel::linesFor(int width) const {
    width = std::max(1, width);
    if (cache_.width == width && cache_.font == font() && cache_.text == text())
        return cache_;
    cache_ = Lines{text(), font(), width, {}, text().size() > charactersPerLine * maxLines_};
    const QString shown = shownText();
    const QFontMetrics metrics(font());
    if (maxLines_ == 1) {
        const QString line = metrics.elidedText(shown, Qt::ElideRight, width);
        cache_.elided = cache_.elided || line != shown;
        cache_.lines << line;
        return cache_;
    }
    QTextLayout layout(shown, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qsizetype start = 0;
    for (int i = 0; i < maxLines_; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        start = line.textStart();
        cache_.lines << shown.mid(start, line.textLength()).trimmed();
    }
    const bool more = layout.createLine().isValid();
    layout.endLayout();
    if (more || cache_.elided) {
        QString rest = shown.mid(start);
        rest.replace(QChar::LineSeparator, u' ');
        // The ellipsis shows even when the rest happens to fit: more text follows it.
        const QString ellipsis(QChar(0x2026));
        QString last = metrics.elidedText(rest, Qt::ElideRight,
                                          std::max(0, width - metrics.horizontalAdvance(ellipsis)));
        if (!last.endsWith(ellipsis))
            last += ellipsis;
        if (!cache_.lines.isEmpty())
            cache_.lines.back() = last;
        cache_.elided = true;
    }
    return cache_;
}

int TextLabel::naturalWidth() const {
    const QFontMetrics metrics(font());
    // No layout needs to know that a name is ten thousand pixels long.
    if (maxLines_ == 1)
        return std::min(metrics.horizontalAdvance(shownText()) + 1,
                        metrics.averageCharWidth() * 80);
    // A wrapped label prefers a comfortable paragraph width, not one endless line.
    return std::min(metrics.horizontalAdvance(shownText()) + 1, metrics.averageCharWidth() * 40);
}

bool TextLabel::isElided() const {
    return linesFor(contentsRect().width()).elided;
}

QStringList TextLabel::visibleLines() const {
    return linesFor(contentsRect().width()).lines;
}

QSize TextLabel::sizeHint() const {
    const int width = naturalWidth();
    const QMargins m = contentsMargins();
    const int lines = std::max<qsizetype>(1, linesFor(width).lines.size());
    return {width + m.left() + m.right(),
            QFontMetrics(font()).lineSpacing() * int(lines) + m.top() + m.bottom()};
}

QSize TextLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    const int width = std::min(naturalWidth(), metrics.averageCharWidth() * minimumChars_);
    // Wrapped labels get their real height from heightForWidth; asking for the height at the
    // narrowest width here would make every layout reserve the worst case.
    return {width + m.left() + m.right(), metrics.lineSpacing() + m.top() + m.bottom()};
}

int TextLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    const auto& lines = linesFor(width - m.left() - m.right()).lines;
    return QFontMetrics(font()).lineSpacing() * int(std::max<qsizetype>(1, lines.size())) +
           m.top() + m.bottom();
}

void TextLabel::paintEvent(QPaintEvent*) {
    updateToolTip();
    QPainter painter(this);
    painter.setPen(tint_ == Style::Tint::Text ? palette().color(foregroundRole())
                                              : Style::color(tint_, palette()));
    painter.setFont(font());
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    int y = area.top();
    if (maxLines_ == 1 || !(alignment() & Qt::AlignTop))
        y += std::max(
            0,
            (area.height() - metrics.lineSpacing() * int(linesFor(area.width()).lines.size())) / 2);
    for (const QString& line : linesFor(area.width()).lines) {
        painter.drawText(QRect(area.left(), y, area.width(), metrics.lineSpacing()),
                         int(Qt::AlignLeading | Qt::AlignVCenter) | Qt::TextSingleLine, line);
        y += metrics.lineSpacing();
    }
}

void TextLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        cache_.width = -1;
        updateGeometry();
    }
}

void TextLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void TextLabel::updateToolTip() {
    const bool elided = isElided();
    if (elided && (toolTip().isEmpty() || ownToolTip_)) {
        setToolTip(cut(text(), toolTipLimit));
        ownToolTip_ = true;
    } else if (!elided && ownToolTip_) {
        setToolTip({});
        ownToolTip_ = false;
    }
}

} // namespace tessel
