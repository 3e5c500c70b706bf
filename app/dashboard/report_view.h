// The report of the overview and usage sections: headline and period picker, the gateway and
// storage problems, three tiles, the subscription cards (overview only), the token trend, the
// distribution by agent, model or provider, and the footnotes. The period and the dimension
// are this view's own state; changing either redraws from the snapshot, without a request.
#pragma once

#include <QScrollArea>
#include <QTimer>

#include <array>

class QComboBox;
class QLabel;
class QVBoxLayout;

namespace tessel {

class DataSyncService;
class DistributionList;
class MetricTile;
class QuotaGrid;
class SegmentedPicker;
class TextLabel;
class TrendChart;

class ReportView : public QScrollArea {
    Q_OBJECT
public:
    explicit ReportView(DataSyncService* sync, QWidget* parent = nullptr);

    QString period() const { return period_; }
    QString dimension() const { return dimension_; }
    void setPeriod(const QString& period);
    void setDimension(const QString& dimension);

    QString navigationTitle() const;
    // The parts of the page in the order shown, by object name, only those not hidden.
    QStringList visibleParts() const;

    QComboBox* periodPicker() const { return periodPicker_; }
    SegmentedPicker* dimensionPicker() const { return dimensionPicker_; }
    const std::array<MetricTile*, 3>& tiles() const { return tiles_; }
    QuotaGrid* quotaGrid() const { return grid_; }
    // Null until a period with a trend was shown (or when the chart module is missing).
    TrendChart* chart() const { return chart_; }
    DistributionList* rows() const { return rows_; }

signals:
    void periodChanged(const QString& period);
    void dimensionChanged(const QString& dimension);
    void navigationTitleChanged(const QString& title);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Parts of the page, top to bottom; each sets the members it holds.
    QWidget* headlineRow();
    QWidget* issueBanner();
    QWidget* tileRow();
    QWidget* trendBox();
    QWidget* distributionHeading();
    QWidget* footnotes();

    void updateScreen();
    void updateSnapshot();
    void updateStorage();
    void updateUsage();
    void updateRows();
    void revealCards();

    DataSyncService* sync_;
    QString period_;
    QString dimension_;
    QWidget* page_ = nullptr;
    QVBoxLayout* stack_ = nullptr;
    QLabel* headline_ = nullptr;
    QComboBox* periodPicker_ = nullptr;
    QWidget* issue_ = nullptr;
    TextLabel* issueText_ = nullptr;
    TextLabel* storage_ = nullptr;
    std::array<MetricTile*, 3> tiles_{};
    QLabel* subscriptionsHeading_ = nullptr;
    QWidget* emptyQuotas_ = nullptr;
    QuotaGrid* grid_ = nullptr;
    QVBoxLayout* trend_ = nullptr;
    TrendChart* chart_ = nullptr;
    TextLabel* chartMissing_ = nullptr;
    QWidget* emptyTrend_ = nullptr;
    SegmentedPicker* dimensionPicker_ = nullptr;
    DistributionList* rows_ = nullptr;
    TextLabel* pricingNote_ = nullptr;
    TextLabel* syncNote_ = nullptr;
    QTimer reveal_;
};

} // namespace tessel
