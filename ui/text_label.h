#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

#include "ui/style.h"

namespace tessel {

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
