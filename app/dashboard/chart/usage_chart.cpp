#include "app/dashboard/chart/usage_chart.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QMouseEvent>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" Q_DECL_EXPORT tessel::TrendChart* tesselMakeTrendChart(const tessel::ChartLook* look) {
    return new tessel::UsageChart(*look);
}

namespace tessel {

UsageChart::UsageChart(ChartLook look, QWidget* parent)
    : QChartView(parent), look_(std::move(look)) {
    setObjectName(QStringLiteral("chart"));
    setRenderHint(QPainter::Antialiasing);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setFixedHeight(reportHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    // The trend block's own background shows through.
    setBackgroundBrush(Qt::NoBrush);
    viewport()->setAutoFillBackground(false);

    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setBackgroundVisible(false);
    chart->setPlotAreaBackgroundVisible(false);
    chart->setMargins(QMargins(0, 4, 4, 0));
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);

    upper_ = new QLineSeries(chart);
    area_ = new QAreaSeries(upper_);
    area_->setName(QStringLiteral("Token"));
    line_ = new QLineSeries(chart);
    line_->setName(QStringLiteral("Token"));
    chart->addSeries(area_);
    chart->addSeries(line_);

    timeAxis_ = new QDateTimeAxis(chart);
    timeAxis_->setTitleText(QString());
    timeAxis_->setTickCount(4);
    tokenAxis_ = new QCategoryAxis(chart);
    tokenAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const Qt::Alignment leading =
        layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(tokenAxis_, leading);
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(area_), static_cast<QAbstractSeries*>(line_)}) {
        series->attachAxis(timeAxis_);
        series->attachAxis(tokenAxis_);
    }
    setChart(chart);
    applyColors();
    setPoints({});
}

void UsageChart::setPoints(std::vector<TrendPoint> points) {
    points_ = std::move(points);
    byTime_.clear();
    setAccessibleName(accessibleLabel(qsizetype(points_.size())));
    drawnColumns_ = -1;
    redraw();
}

int UsageChart::plotColumns() const {
    // The plot area lags behind the view until the chart's layout ran.
    const qreal plot = std::min<qreal>(chart()->plotArea().width(), width());
    return std::max(64, int(plot > 0 ? plot : width()));
}

QList<QPointF> UsageChart::drawnPoints() const {
    QList<QPointF> drawn;
    const std::size_t n = points_.size();
    const std::size_t columns = std::size_t(plotColumns());
    auto at = [this](std::size_t i) {
        return QPointF(double(points_[i].msecs), points_[i].tokens);
    };
    if (n <= 2 * columns) {
        drawn.reserve(qsizetype(n));
        for (std::size_t i = 0; i < n; ++i)
            drawn.append(at(i));
        return drawn;
    }
    // Consecutive runs of the series, one per column: its extremes, in their own order.
    const std::size_t run = (n + columns - 1) / columns;
    drawn.reserve(qsizetype(2 * columns));
    for (std::size_t begin = 0; begin < n; begin += run) {
        const std::size_t end = std::min(n, begin + run);
        std::size_t low = begin, high = begin;
        for (std::size_t i = begin + 1; i < end; ++i) {
            if (points_[i].tokens < points_[low].tokens)
                low = i;
            if (points_[i].tokens > points_[high].tokens)
                high = i;
        }
        drawn.append(at(std::min(low, high)));
        if (low != high)
            drawn.append(at(std::max(low, high)));
    }
    return drawn;
}

void UsageChart::redraw() {
    const int columns = points_.size() > 128 ? plotColumns() : 0;
    if (columns == drawnColumns_)
        return;
    drawnColumns_ = columns;

    qint64 first = std::numeric_limits<qint64>::max(), last = std::numeric_limits<qint64>::min();
    double low = 0, high = 0;
    for (const TrendPoint& p : points_) {
        first = std::min(first, p.msecs);
        last = std::max(last, p.msecs);
        low = std::min(low, p.tokens);
        high = std::max(high, p.tokens);
    }
    const double magnitude = std::max(std::abs(low), std::abs(high));
    QString suffix;
    divisor_ = 1;
    if (magnitude >= 1e9) {
        divisor_ = 1e9;
        suffix = QStringLiteral("B");
    } else if (magnitude >= 1e6) {
        divisor_ = 1e6;
        suffix = QStringLiteral("M");
    } else if (magnitude >= 1e4) {
        divisor_ = 1e3;
        suffix = QStringLiteral("K");
    }

    QList<QPointF> drawn = drawnPoints();
    for (QPointF& p : drawn)
        p.setY(p.y() / divisor_);
    upper_->replace(drawn);
    line_->replace(drawn);
    // Without markers a lone point would draw nothing at all.
    line_->setPointsVisible(points_.size() == 1);

    if (points_.empty()) {
        first = last = 0;
    }
    // A single instant still needs a span to stand in.
    if (last - first < 60'000) {
        first -= 1'800'000;
        last += 1'800'000;
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(first),
                        QDateTime::fromMSecsSinceEpoch(last));
    const qint64 span = last - first;
    timeAxis_->setFormat(span <= 2LL * 86'400'000     ? QStringLiteral("HH:mm")
                         : span <= 366LL * 86'400'000 ? QStringLiteral("MM-dd")
                                                      : QStringLiteral("yyyy-MM-dd"));
    placeTokenMarks(low / divisor_, high / divisor_, suffix);
}

void UsageChart::placeTokenMarks(double low, double high, const QString& suffix) {
    // About four steps of 1, 2, 2.5 or 5 times a power of ten, labelled "0", "1.5M", ...
    const double span = high > low ? high - low : 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(span / 4)));
    double step = magnitude;
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = factor * magnitude;
        if (span / step <= 4)
            break;
    }
    const double first = std::floor(low / step) * step;
    const double last = std::max(first + step, std::ceil(high / step) * step);
    for (const QString& label : tokenAxis_->categoriesLabels())
        tokenAxis_->remove(label);
    // The first mark ends a sliver of a category, since a category cannot be empty.
    tokenAxis_->setStartValue(first - step * 1e-6);
    // The range always holds 0, so there are a handful of steps; the count only guards.
    for (int i = 0; i < 16 && first + i * step <= last + step / 2; ++i) {
        const double value = first + i * step;
        const double shown = std::abs(value) < step / 2 ? 0 : value;
        tokenAxis_->append(
            shown == 0 ? QStringLiteral("0") : QString::number(shown, 'g', 4) + suffix, shown);
    }
    tokenAxis_->setRange(first, last);
}

void UsageChart::applyColors() {
    const QPalette p = palette();
    const QColor mint = look_.line(p);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, 1));
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    QColor top = mint, bottom = mint;
    top.setAlphaF(0.35);
    bottom.setAlphaF(0.02);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    area_->setBrush(gradient);
    area_->setPen(Qt::NoPen);
    QPen stroke(mint, 2);
    stroke.setCapStyle(Qt::FlatCap);
    stroke.setJoinStyle(Qt::MiterJoin);
    line_->setPen(stroke);
    line_->setColor(mint);
    line_->setMarkerSize(6);

    const QColor labels = look_.labels(p);
    QColor grid = p.color(QPalette::WindowText);
    grid.setAlphaF(0.12);
    for (QAbstractAxis* axis :
         {static_cast<QAbstractAxis*>(timeAxis_), static_cast<QAbstractAxis*>(tokenAxis_)}) {
        axis->setLabelsBrush(labels);
        axis->setLabelsFont(look_.labelFont());
        axis->setGridLineColor(grid);
        axis->setLinePenColor(grid);
        axis->setShadesVisible(false);
    }
    timeAxis_->setGridLineVisible(false);
}

void UsageChart::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    redraw();
}

void UsageChart::changeEvent(QEvent* event) {
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyColors();
}

QString UsageChart::toolTipAt(qint64 msecs) const {
    if (points_.empty())
        return {};
    auto& order = const_cast<std::vector<std::size_t>&>(byTime_);
    if (order.size() != points_.size()) {
        order.resize(points_.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
            return points_[a].msecs < points_[b].msecs;
        });
    }
    auto it = std::lower_bound(order.begin(), order.end(), msecs,
                               [this](std::size_t i, qint64 t) { return points_[i].msecs < t; });
    if (it == order.end() ||
        (it != order.begin() && msecs - points_[*(it - 1)].msecs < points_[*it].msecs - msecs))
        --it;
    const TrendPoint& p = points_[*it];
    return look_.toolTip(p.msecs, p.tokens);
}

void UsageChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    const QPointF scene = mapToScene(event->position().toPoint());
    const QPointF inChart = chart()->mapFromScene(scene);
    if (points_.empty() || !chart()->plotArea().contains(inChart)) {
        QToolTip::hideText();
        return;
    }
    const QPointF value = chart()->mapToValue(inChart, line_);
    QToolTip::showText(event->globalPosition().toPoint(), toolTipAt(qint64(value.x())), this);
}

} // namespace tessel
