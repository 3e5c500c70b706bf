// The overview's subscription cards: adaptive columns of at least 240, 14 apart. Cards are made
// only for the rows that come into view; rows not yet made stand in with an estimated height.
#pragma once

#include <QWidget>

#include <vector>

#include "model/records.h"

namespace tessel {

class QuotaGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumColumn = 240;
    static constexpr int spacing = 14;

    explicit QuotaGrid(QWidget* parent = nullptr);

    // Keeps the cards already made when the list is the same.
    void setQuotas(const std::vector<Quota>& quotas);
    const std::vector<Quota>& quotas() const { return quotas_; }

    // Makes the cards of every row that meets `area` (in this widget's coordinates).
    void reveal(const QRect& area);
    int columns() const { return columnsFor(width()); }
    int builtCount() const;
    // The card frame of a quota, or null while it has not been made.
    QWidget* cell(int index) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static int columnsFor(int width);
    int cellWidth(int width) const;
    int cellHeight(std::size_t index, int cellWidth) const;
    std::vector<int> rowHeights(int width) const;
    void place();

    std::vector<Quota> quotas_;
    std::vector<QWidget*> cells_;
    mutable std::vector<int> estimates_;
};

} // namespace tessel
