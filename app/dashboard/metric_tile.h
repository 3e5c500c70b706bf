// One headline figure of the report: a caption with its symbol over a large value, on a rounded
// card. Tiles in a row share its width equally.
#pragma once

#include <QLabel>

#include "app/dashboard/surface.h"

namespace tessel {

class TextLabel;

// A one-line value that shrinks to half its size before it is cut.
class FittedValue : public QLabel {
    Q_OBJECT
public:
    static constexpr int fullPixelSize = 30;

    explicit FittedValue(const QString& text, QWidget* parent = nullptr);

    // The font the text is drawn in at the current width, and whether it still had to be cut.
    QFont fittedFont() const;
    bool isElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont fontAt(int pixelSize) const;
};

class MetricTile : public Surface {
    Q_OBJECT
public:
    MetricTile(const QString& title, const QString& value, const QString& symbol,
               QWidget* parent = nullptr);

    QString title() const;
    QString value() const { return value_->text(); }
    QString symbol() const { return symbol_; }
    void setValue(const QString& value);
    FittedValue* valueLabel() const { return value_; }

private:
    TextLabel* title_;
    FittedValue* value_;
    QString symbol_;
};

} // namespace tessel
