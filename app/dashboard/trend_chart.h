// The report's token trend, seen from the application. The chart itself lives in a module of
// its own (libtessel_chart.so, on Qt Charts), loaded when the first trend is drawn, so the tray
// start never maps Qt Charts and its OpenGL libraries.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPalette>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "model/records.h"

namespace tessel {

struct TrendPoint {
    qint64 msecs; // since the epoch
    double tokens;
};

// What the chart takes from the application's look and locale.
struct ChartLook {
    std::function<QColor(const QPalette&)> line;   // mint
    std::function<QColor(const QPalette&)> labels; // secondary
    std::function<QFont()> labelFont;
    // The hover text of a point.
    std::function<QString(qint64 msecs, double tokens)> toolTip;
};

class TrendChart {
public:
    static constexpr int reportHeight = 180;

    virtual ~TrendChart() = default;
    virtual QWidget* widget() = 0;
    virtual void setPoints(std::vector<TrendPoint> points) = 0;
    virtual int pointCount() const = 0;
    // What is drawn: x in milliseconds since the epoch, y in tokens, in the series' order; a
    // series wider than the plot keeps the lowest and highest point of each pixel column.
    virtual QList<QPointF> drawnPoints() const = 0;
    // The hover text of the point nearest in time; empty without points.
    virtual QString toolTipAt(qint64 msecs) const = 0;

    // "Token 用量趋势，N 个时间段".
    static QString accessibleLabel(qsizetype points) {
        return QStringLiteral("Token 用量趋势，%1 个时间段").arg(points);
    }
    // The points of a usage series, in its order: time against input plus output.
    static std::vector<TrendPoint> points(const std::vector<UsagePoint>& series);
    // The application's mint line, secondary labels, caption font and local date texts.
    static ChartLook look();
    // A new chart from the module; null when the module cannot be loaded.
    static TrendChart* make(const ChartLook& style = look());
};

} // namespace tessel

extern "C" {
// The module's one entry point.
using TesselMakeTrendChart = tessel::TrendChart* (*)(const tessel::ChartLook* look);
}
