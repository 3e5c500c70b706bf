// The distribution rows of the report: name (and its second line), calls and cost, a divider
// under each. Painted rather than built from widgets, and only where exposed, so two thousand
// models cost what a screenful does; each row is still an item for screen readers.
#pragma once

#include <QWidget>

#include <vector>

#include "app/dashboard/report_data.h"

namespace tessel {

class DistributionList : public QWidget {
    Q_OBJECT
public:
    static constexpr int inset = 6;
    static constexpr int figureWidth = 100;

    explicit DistributionList(QWidget* parent = nullptr);

    void setRows(std::vector<Report::Row> rows);
    const std::vector<Report::Row>& rows() const { return rows_; }
    int count() const { return int(rows_.size()); }
    // Row geometry in this widget; a row's rectangle includes its divider.
    QRect rowRect(int row) const;
    int rowAt(int y) const;
    // What a screen reader says for a row: its texts in reading order.
    QString rowText(int row) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void measure();
    QFont nameFont() const;

    std::vector<Report::Row> rows_;
    std::vector<int> tops_; // tops_[i] is row i's top; one more entry for the end
};

} // namespace tessel
