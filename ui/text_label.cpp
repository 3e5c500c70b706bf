#include "ui/text_label.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace tessel {

namespace {

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
