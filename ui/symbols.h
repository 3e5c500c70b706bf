// The visual vocabulary the views share: symbol names ("bird.fill", "arrow.clockwise", ...)
// mapped to icons, the mint and orange tints, the text styles and a label that never lets a long
// gateway text blow up a layout.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace tessel {

namespace Symbols {
// Every name the views use.
QStringList names();
bool known(const QString& name);
// Freedesktop icon names tried in order before our own drawing; empty when only ours fits.
QStringList themeNames(const QString& name);
// Vector icon, sharp at any size and device pixel ratio. A valid tint paints the whole glyph in
// that colour (theme icons included); otherwise our drawing takes the palette's text colour.
// An unknown name gives a null icon.
QIcon icon(const QString& name, const QColor& tint = {});
} // namespace Symbols

namespace Style {
enum class Tint { Text, Secondary, Mint, Orange };

// Darker variants on light palettes, lighter on dark ones, so both keep their contrast.
QColor mint(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor color(Tint tint, const QPalette& palette);
bool isDark(const QPalette& palette);

// The desktop's nearest equivalents of the standard text styles, relative to the application
// font so that the user's font size setting scales all of them.
QFont headline();
QFont title2();
QFont subheadline();
QFont caption();
QFont caption2();
} // namespace Style

// One symbol, one text line high, tint resolved against the current palette at paint time.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    explicit SymbolView(const QString& symbol, Style::Tint tint = Style::Tint::Text,
                        QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    Style::Tint tint() const { return tint_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    Style::Tint tint_;
};

// Plain text shown as is, limited to `maxLines` lines (the last one elided). Wrapping breaks at
// word boundaries, and anywhere inside a word longer than the line. Only a bounded prefix of a
// huge text is ever laid out, so a megabyte-long name costs no more than a short one; an elided
// text carries the whole (bounded) text in its tooltip.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString& text, int maxLines = 1, QWidget* parent = nullptr);

    int maxLines() const { return maxLines_; }
    void setTint(Style::Tint tint);
    Style::Tint tint() const { return tint_; }
    // Width below which the label is not squeezed, in average characters (capped by the text).
    void setMinimumChars(int chars);
    // Whether the text does not fit at the current width.
    bool isElided() const;
    // The lines drawn at the current width.
    QStringList visibleLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return maxLines_ > 1; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Lines {
        QString text;
        QFont font;
        int width = -1;
        QStringList lines;
        bool elided = false;
    };
    const Lines& linesFor(int width) const;
    QString shownText() const;
    int naturalWidth() const;
    void updateToolTip();

    int maxLines_;
    int minimumChars_ = 3;
    Style::Tint tint_ = Style::Tint::Text;
    mutable Lines cache_;
    bool ownToolTip_ = false;
};

} // namespace tessel
