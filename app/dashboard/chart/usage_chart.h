// Token usage of one period as a filled line over time (Qt Charts): a mint area from 35 % down
// to 2 %, a 2-point mint line on top, straight segments in the series' own order, the token axis
// on the leading side, about four time labels in the machine's time zone.
#pragma once

#include <QChartView>
#include <QList>
#include <QPointF>

#include <vector>

#include "app/dashboard/trend_chart.h"

class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QCategoryAxis;

namespace tessel {

class UsageChart : public QChartView, public TrendChart {
    Q_OBJECT
public:
    explicit UsageChart(ChartLook look, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void setPoints(std::vector<TrendPoint> points) override;
    int pointCount() const override { return int(points_.size()); }

    QList<QPointF> drawnPoints() const override;
    QString toolTipAt(qint64 msecs) const override;

    QAreaSeries* area() const { return area_; }
    QLineSeries* line() const { return line_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void redraw();
    void applyColors();
    void placeTokenMarks(double low, double high, const QString& suffix);
    int plotColumns() const;

    ChartLook look_;
    std::vector<TrendPoint> points_;
    std::vector<std::size_t> byTime_; // indices sorted by time, built at the first hover
    double divisor_ = 1;
    int drawnColumns_ = -1;
    QLineSeries* upper_ = nullptr;
    QLineSeries* line_ = nullptr;
    QAreaSeries* area_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QCategoryAxis* tokenAxis_ = nullptr;
};

} // namespace tessel
