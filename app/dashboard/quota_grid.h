// The overview's subscription cards: adaptive columns of at least 240, 14 apart. Cards are made
// only for the rows that come into view; rows not yet made stand in with an estimated height.
// The list is shared with the snapshot it came from, never copied, and the estimates are made
// on a worker: a new list costs the GUI thread the cards in view, not a pass over every record.
#pragma once

#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "model/records.h"

namespace tessel {

class QuotaGrid : public QWidget {
    Q_OBJECT
public:
    using Quotas = std::shared_ptr<const std::vector<Quota>>;

    static constexpr int minimumColumn = 240;
    static constexpr int spacing = 14;

    explicit QuotaGrid(QWidget* parent = nullptr);

    // Shows `quotas` once their rows' heights are estimated; until then the former list stays.
    // Cards already made stay where the subscription at their place is the same.
    void setQuotas(Quotas quotas);
    const std::vector<Quota>& quotas() const { return *quotas_; }

    // Makes the cards of every row that meets `area` (in this widget's coordinates).
    void reveal(const QRect& area);
    int columns() const { return columnsFor(width()); }
    int builtCount() const { return int(cells_.size()); }
    // The card frame of a quota, or null while it has not been made.
    QWidget* cell(int index) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A new list is shown; cards in view may be missing.
    void quotasShown();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Rows at `width`: each row's top, and the bottom of the last row at the end.
    struct Rows {
        int width = -1;
        std::vector<int> tops;
    };

    static int columnsFor(int width);
    int cellWidth(int width) const;
    int cellHeight(std::size_t index, int cellWidth) const;
    const Rows& rows(int width) const;
    void estimate();
    void show(Quotas quotas, std::vector<int> estimates);
    QWidget* makeCell(std::size_t index);
    void place();

    Quotas quotas_;
    std::vector<int> estimates_;
    std::map<std::size_t, QWidget*> cells_;
    Quotas next_; // the newest list while estimates are made
    bool estimating_ = false;
    mutable Rows rows_;
};

} // namespace tessel
