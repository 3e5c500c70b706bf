#include "app/dashboard/quota_grid.h"

#include <QFontMetrics>
#include <QVBoxLayout>

#include <algorithm>

#include "app/dashboard/surface.h"
#include "session/off_thread.h"
#include "sync/workers.h"
#include "ui/quota_card.h"
#include "ui/style.h"

namespace tessel {

namespace {

constexpr int cardInset = 18;

// Line heights of the card's text styles, taken on the GUI thread for the worker.
struct Lines {
    int headline = QFontMetrics(Style::headline()).height();
    int caption = QFontMetrics(Style::caption()).height();
    int caption2 = QFontMetrics(Style::caption2()).height();
    int title2 = QFontMetrics(Style::title2()).height();
};

// The height a full card will take, from its record alone; close enough to stand in for a row
// that has not been made yet.
int estimate(const Quota& quota, const Lines& lines) {
    int h = lines.headline;
    int rows = 1;
    auto add = [&](int height) {
        h += height;
        ++rows;
    };
    if (quota.plan)
        add(lines.caption);
    if (quota.balance)
        add(lines.title2);
    const std::size_t windows = std::min<std::size_t>(quota.windows ? quota.windows->size() : 0,
                                                      QuotaCard::fullWindowLimit);
    for (std::size_t i = 0; i < windows; ++i) {
        const QuotaWindow& w = (*quota.windows)[i];
        int window = lines.caption;
        if (w.remainingPercent())
            window += 4 + 6;
        if (w.display)
            window += 4 + lines.caption;
        if (w.resetsAt)
            window += 4 + lines.caption2;
        add(window);
    }
    if (!quota.balance && windows == 0)
        add(lines.caption);
    if (quota.asOf || quota.readAt)
        add(lines.caption2);
    return h + (rows - 1) * 12 + 2 * cardInset;
}

} // namespace

QuotaGrid::QuotaGrid(QWidget* parent)
    : QWidget(parent), quotas_(std::make_shared<const std::vector<Quota>>()) {
    setObjectName(QStringLiteral("quotaGrid"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void QuotaGrid::setQuotas(Quotas quotas) {
    next_ = quotas ? std::move(quotas) : std::make_shared<const std::vector<Quota>>();
    if (!estimating_)
        estimate();
}

void QuotaGrid::estimate() {
    Quotas quotas = std::exchange(next_, nullptr);
    if (!quotas || quotas == quotas_)
        return;
    estimating_ = true;
    auto heightsOf = [quotas, lines = Lines()] {
        std::vector<int> heights;
        heights.reserve(quotas->size());
        for (const Quota& quota : *quotas)
            heights.push_back(tessel::estimate(quota, lines));
        return heights;
    };
    offThread(
        this, std::move(heightsOf),
        [this, quotas](std::vector<int> heights) {
            estimating_ = false;
            show(quotas, std::move(heights));
            estimate(); // a list that came meanwhile
        },
        Workers::pool());
}

void QuotaGrid::show(Quotas quotas, std::vector<int> estimates) {
    const Quotas before = std::exchange(quotas_, std::move(quotas));
    estimates_ = std::move(estimates);
    for (auto it = cells_.begin(); it != cells_.end();) {
        const std::size_t i = it->first;
        if (i >= quotas_->size()) {
            delete it->second;
            it = cells_.erase(it);
            continue;
        }
        if (!((*quotas_)[i] == (*before)[i])) {
            delete it->second;
            makeCell(i);
        }
        ++it;
    }
    rows_.width = -1;
    updateGeometry();
    place();
    emit quotasShown();
}

int QuotaGrid::columnsFor(int width) {
    return std::max(1, (width + spacing) / (minimumColumn + spacing));
}

int QuotaGrid::cellWidth(int width) const {
    const int columns = columnsFor(width);
    return std::max(1, (width - (columns - 1) * spacing) / columns);
}

int QuotaGrid::cellHeight(std::size_t index, int cellWidth) const {
    if (const auto made = cells_.find(index); made != cells_.end()) {
        // -1 when nothing in the card wraps.
        const int height = made->second->heightForWidth(cellWidth);
        return height >= 0 ? height : made->second->sizeHint().height();
    }
    return estimates_[index];
}

const QuotaGrid::Rows& QuotaGrid::rows(int width) const {
    if (rows_.width == width)
        return rows_;
    // Whole numbers only: the records were read on the worker.
    const std::size_t perRow = std::size_t(columnsFor(width));
    const int cell = cellWidth(width);
    const std::size_t count = (estimates_.size() + perRow - 1) / perRow;
    std::vector<int> heights(count, 0);
    for (std::size_t i = 0; i < estimates_.size(); ++i)
        heights[i / perRow] = std::max(heights[i / perRow], estimates_[i]);
    for (const auto& [index, frame] : cells_) {
        const std::size_t row = index / perRow;
        int height = 0;
        for (std::size_t i = row * perRow; i < std::min(estimates_.size(), (row + 1) * perRow); ++i)
            height = std::max(height, cellHeight(i, cell));
        heights[row] = height;
    }
    rows_.width = width;
    rows_.tops.assign(count + 1, 0);
    int top = 0;
    for (std::size_t row = 0; row < count; ++row) {
        rows_.tops[row] = top;
        top += heights[row] + (row + 1 < count ? spacing : 0);
    }
    rows_.tops[count] = top;
    return rows_;
}

int QuotaGrid::heightForWidth(int width) const {
    return rows(width).tops.back();
}

QSize QuotaGrid::sizeHint() const {
    const int w = std::max(width(), minimumColumn);
    return {w, heightForWidth(w)};
}

QSize QuotaGrid::minimumSizeHint() const {
    return {minimumColumn, 0};
}

QWidget* QuotaGrid::cell(int index) const {
    if (index < 0)
        return nullptr;
    const auto made = cells_.find(std::size_t(index));
    return made != cells_.end() ? made->second : nullptr;
}

QWidget* QuotaGrid::makeCell(std::size_t index) {
    auto* frame = new Surface(Surface::Fill::Quaternary, 0.45, 18, this);
    frame->setObjectName(QStringLiteral("quotaCell"));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(cardInset, cardInset, cardInset, cardInset);
    layout->addWidget(new QuotaCard((*quotas_)[index], false));
    layout->addStretch(1);
    cells_[index] = frame;
    return frame;
}

void QuotaGrid::reveal(const QRect& area) {
    if (quotas_->empty() || width() <= 0)
        return;
    const std::size_t perRow = std::size_t(columns());
    const std::vector<int>& tops = rows(width()).tops;
    const std::size_t count = tops.size() - 1;
    // The last row that starts above the area, then every row that starts within it.
    std::size_t row =
        std::size_t(std::upper_bound(tops.begin(), tops.end() - 1, area.top()) - tops.begin());
    row = row > 0 ? row - 1 : 0;
    bool made = false;
    for (; row < count && tops[row] <= area.bottom(); ++row) {
        for (std::size_t i = row * perRow; i < std::min(quotas_->size(), (row + 1) * perRow); ++i) {
            if (!cells_.count(i)) {
                makeCell(i);
                made = true;
            }
        }
    }
    if (made) {
        rows_.width = -1;
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
    const std::vector<int>& tops = rows(width()).tops;
    for (const auto& [index, frame] : cells_) {
        // Each card as tall as its own content, at the top of its row.
        frame->setGeometry(int(index % perRow) * (cell + spacing), tops[index / perRow], cell,
                           cellHeight(index, cell));
        frame->show();
    }
}

} // namespace tessel
