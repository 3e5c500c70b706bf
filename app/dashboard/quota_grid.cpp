#include "app/dashboard/quota_grid.h"

#include <QFontMetrics>
#include <QVBoxLayout>

#include <algorithm>

#include "app/dashboard/surface.h"
#include "ui/quota_card.h"
#include "ui/style.h"

namespace tessel {

namespace {

constexpr int cardInset = 18;

// The height a full card will take, from its record alone; close enough to stand in for a row
// that has not been made yet.
int estimate(const Quota& quota) {
    const int caption = QFontMetrics(Style::caption()).height();
    const int caption2 = QFontMetrics(Style::caption2()).height();
    int h = QFontMetrics(Style::headline()).height();
    int rows = 1;
    auto add = [&](int height) {
        h += height;
        ++rows;
    };
    if (quota.plan)
        add(caption);
    if (quota.balance)
        add(QFontMetrics(Style::title2()).height());
    const std::size_t windows = std::min<std::size_t>(quota.windows ? quota.windows->size() : 0,
                                                      QuotaCard::fullWindowLimit);
    for (std::size_t i = 0; i < windows; ++i) {
        const QuotaWindow& w = (*quota.windows)[i];
        int window = caption;
        if (w.remainingPercent())
            window += 4 + 6;
        if (w.display)
            window += 4 + caption;
        if (w.resetsAt)
            window += 4 + caption2;
        add(window);
    }
    if (!quota.balance && windows == 0)
        add(caption);
    if (quota.asOf || quota.readAt)
        add(caption2);
    return h + (rows - 1) * 12 + 2 * cardInset;
}

} // namespace

QuotaGrid::QuotaGrid(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("quotaGrid"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void QuotaGrid::setQuotas(const std::vector<Quota>& quotas) {
    if (quotas == quotas_)
        return;
    for (QWidget* cell : cells_)
        delete cell;
    quotas_ = quotas;
    cells_.assign(quotas_.size(), nullptr);
    estimates_.assign(quotas_.size(), -1);
    updateGeometry();
    place();
}

int QuotaGrid::columnsFor(int width) {
    return std::max(1, (width + spacing) / (minimumColumn + spacing));
}

int QuotaGrid::cellWidth(int width) const {
    const int columns = columnsFor(width);
    return std::max(1, (width - (columns - 1) * spacing) / columns);
}

int QuotaGrid::cellHeight(std::size_t index, int cellWidth) const {
    if (QWidget* cell = cells_[index]) {
        // -1 when nothing in the card wraps.
        const int height = cell->heightForWidth(cellWidth);
        return height >= 0 ? height : cell->sizeHint().height();
    }
    if (estimates_[index] < 0)
        estimates_[index] = estimate(quotas_[index]);
    return estimates_[index];
}

std::vector<int> QuotaGrid::rowHeights(int width) const {
    const std::size_t columns = std::size_t(columnsFor(width));
    const int cell = cellWidth(width);
    std::vector<int> heights((quotas_.size() + columns - 1) / columns, 0);
    for (std::size_t i = 0; i < quotas_.size(); ++i)
        heights[i / columns] = std::max(heights[i / columns], cellHeight(i, cell));
    return heights;
}

int QuotaGrid::heightForWidth(int width) const {
    const std::vector<int> heights = rowHeights(width);
    int total = 0;
    for (const int h : heights)
        total += h;
    return total + std::max(0, int(heights.size()) - 1) * spacing;
}

QSize QuotaGrid::sizeHint() const {
    const int w = std::max(width(), minimumColumn);
    return {w, heightForWidth(w)};
}

QSize QuotaGrid::minimumSizeHint() const {
    return {minimumColumn, 0};
}

int QuotaGrid::builtCount() const {
    return int(std::count_if(cells_.begin(), cells_.end(), [](QWidget* c) { return c; }));
}

QWidget* QuotaGrid::cell(int index) const {
    return index >= 0 && std::size_t(index) < cells_.size() ? cells_[std::size_t(index)] : nullptr;
}

void QuotaGrid::reveal(const QRect& area) {
    if (quotas_.empty() || width() <= 0)
        return;
    const std::size_t perRow = std::size_t(columns());
    const std::vector<int> heights = rowHeights(width());
    bool made = false;
    int top = 0;
    for (std::size_t row = 0; row < heights.size() && top <= area.bottom(); ++row) {
        const int bottom = top + heights[row];
        if (bottom >= area.top()) {
            for (std::size_t i = row * perRow; i < std::min(quotas_.size(), (row + 1) * perRow);
                 ++i) {
                if (cells_[i])
                    continue;
                auto* frame = new Surface(Surface::Fill::Quaternary, 0.45, 18, this);
                frame->setObjectName(QStringLiteral("quotaCell"));
                auto* layout = new QVBoxLayout(frame);
                layout->setContentsMargins(cardInset, cardInset, cardInset, cardInset);
                layout->addWidget(new QuotaCard(quotas_[i], false));
                layout->addStretch(1);
                cells_[i] = frame;
                made = true;
            }
        }
        top = bottom + spacing;
    }
    if (made) {
        place();
        updateGeometry();
    }
}

void QuotaGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void QuotaGrid::place() {
    const std::size_t perRow = std::size_t(columns());
    const int cell = cellWidth(width());
    const std::vector<int> heights = rowHeights(width());
    int top = 0;
    for (std::size_t row = 0; row < heights.size(); ++row) {
        for (std::size_t i = row * perRow; i < std::min(quotas_.size(), (row + 1) * perRow); ++i) {
            if (QWidget* frame = cells_[i]) {
                // Each card as tall as its own content, at the top of its row.
                frame->setGeometry(int(i - row * perRow) * (cell + spacing), top, cell,
                                   cellHeight(i, cell));
                frame->show();
            }
        }
        top += heights[row] + spacing;
    }
}

} // namespace tessel
