// The small drawn pieces the widget views are made of.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QTextLayout>
#include <QToolButton>
#include <QWidget>

#include <vector>

#include "model/records.h"
#include "ui/style.h"
#include "widgets/trend.h"

class QHBoxLayout;
class QVBoxLayout;

namespace tessel {

// Widget sizes are fixed in logical pixels, so the widgets' fonts are in pixels too.
QFont widgetFont(qreal pixels, QFont::Weight weight = QFont::Normal);

// Rows and columns without margins.
QHBoxLayout* hbox(int spacing);
QVBoxLayout* vbox(int spacing);
// Keeps its natural width, yielding at most down to `scale` of it.
void keepWidth(QWidget* label, qreal scale);

// Text shown as is in at most `maxLines` lines: it first shrinks down to `minimumScale` of its
// size, then the last line is elided. One-line labels show line breaks as blanks; the base
// direction stays left to right whatever marks the text starts with.
class FitLabel : public QLabel {
    Q_OBJECT
public:
    FitLabel(const QString& text, const QFont& font, Style::Tint tint = Style::Tint::Text,
             qreal minimumScale = 1.0, int maxLines = 1, QWidget* parent = nullptr);

    void setTint(Style::Tint tint);
    // The lines drawn at the current width and the scale they were drawn at.
    QStringList visibleLines() const;
    qreal scale() const;
    bool isElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Fit {
        int width = -1;
        qreal scale = 1;
        QFont font;
        QStringList lines;
        bool elided = false;
    };
    const Fit& fitFor(int width) const;

    QString shown_;
    Style::Tint tint_;
    qreal minimumScale_;
    int maxLines_;
    mutable Fit fit_;
};

// The small widget's subscription name: a plain button over the whole row.
class CycleButton : public QAbstractButton {
    Q_OBJECT
public:
    CycleButton(const QString& title, bool chevron, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FitLabel* title_;
    bool chevron_;
};

// A symbol that opens a URL.
class LinkButton : public QToolButton {
    Q_OBJECT
public:
    LinkButton(const QString& symbol, int pixels, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    int pixels_;
};

// Filled circle, mint or orange.
class Dot : public QWidget {
    Q_OBJECT
public:
    Dot(Style::Tint tint, int side, QWidget* parent = nullptr);
    Style::Tint tint() const { return tint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style::Tint tint_;
};

// A thin capsule filled to `percent`: mint from 15 on, orange below.
class ShareBar : public QWidget {
    Q_OBJECT
public:
    explicit ShareBar(double percent, QWidget* parent = nullptr);
    double percent() const { return percent_; }
    QSize sizeHint() const override { return {40, 2}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double percent_;
};

// Gives the rows and the chart their roles for screen readers; once per process.
void installAccessibility();

// Divider line at half opacity.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Area and line over a usage series, axes hidden, from the points `trendOf` kept: never more
// than two for each 1/1024 of the span, however long the series.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(const Trend& trend, QWidget* parent = nullptr);

    // Points after reduction: x in 0...1 along the time span, the plotted value.
    const std::vector<QPointF>& points() const { return points_; }
    QSize sizeHint() const override { return {200, 42}; }
    QSize minimumSizeHint() const override { return {40, 42}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<QPointF> points_;
    double low_ = 0;
    double high_ = 1;
};

} // namespace tessel
