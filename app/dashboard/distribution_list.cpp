#include "app/dashboard/distribution_list.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <unordered_map>

#include "ui/style.h"

namespace tessel {

namespace {

constexpr qsizetype shownCharacters = 1024;

// One line whatever the gateway sent: breaks become spaces, and only what can ever be seen is
// laid out.
QString oneLine(const QString& text) {
    QString line = text.left(shownCharacters);
    for (QChar& c : line)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    return line;
}

// Draws left to right within its box whatever direction the text itself has.
void drawLine(QPainter& painter, const QRect& box, const QString& text, Qt::Alignment align) {
    const QString shown =
        painter.fontMetrics().elidedText(oneLine(text), Qt::ElideRight, box.width());
    painter.drawText(box, int(align | Qt::AlignVCenter | Qt::TextSingleLine), shown);
}

class RowInterface : public QAccessibleInterface {
public:
    RowInterface(DistributionList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return list_ ? QAccessible::queryAccessibleInterface(list_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        return isValid() && t == QAccessible::Name ? list_->rowText(row_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect r = list_->rowRect(row_);
        return QRect(list_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.readOnly = true;
        s.invisible = !list_ || !list_->isVisible();
        return s;
    }

private:
    QPointer<DistributionList> list_;
    int row_;
};

class ListInterface : public QAccessibleWidget {
public:
    explicit ListInterface(DistributionList* list)
        : QAccessibleWidget(list, QAccessible::List, QStringLiteral("用量分布")) {}
    ~ListInterface() override { forget(); }

    int childCount() const override { return list()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= list()->count())
            return nullptr;
        auto& ids = const_cast<std::unordered_map<int, QAccessible::Id>&>(ids_);
        if (const auto found = ids.find(index); found != ids.end())
            return QAccessible::accessibleInterface(found->second);
        auto* row = new RowInterface(list(), index);
        ids[index] = QAccessible::registerAccessibleInterface(row);
        return row;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [index, id] : ids_)
            if (QAccessible::accessibleInterface(id) == child)
                return index;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const int row = list()->rowAt(list()->mapFromGlobal(QPoint(x, y)).y());
        return row < 0 ? nullptr : child(row);
    }
    // Rows of an earlier list are gone; their interfaces with them.
    void forget() {
        for (const auto& [index, id] : ids_)
            QAccessible::deleteAccessibleInterface(id);
        ids_.clear();
    }

private:
    DistributionList* list() const { return static_cast<DistributionList*>(widget()); }
    std::unordered_map<int, QAccessible::Id> ids_;
};

QAccessibleInterface* listFactory(const QString& className, QObject* object) {
    if (className == u"tessel::DistributionList" && object && object->isWidgetType())
        return new ListInterface(static_cast<DistributionList*>(object));
    return nullptr;
}

} // namespace

DistributionList::DistributionList(QWidget* parent) : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(listFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setObjectName(QStringLiteral("rows"));
    setAccessibleName(QStringLiteral("用量分布"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    measure();
}

QFont DistributionList::nameFont() const {
    QFont f = font();
    f.setWeight(QFont::Medium);
    return f;
}

void DistributionList::setRows(std::vector<Report::Row> rows) {
    if (auto* iface = QAccessible::queryAccessibleInterface(this))
        static_cast<ListInterface*>(iface)->forget();
    rows_ = std::move(rows);
    measure();
    if (QAccessible::isActive()) {
        QAccessibleEvent reset(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reset);
    }
}

void DistributionList::measure() {
    const int name = QFontMetrics(nameFont()).height();
    const int sub = QFontMetrics(Style::caption()).height();
    tops_.assign(rows_.size() + 1, 0);
    int y = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        tops_[i] = y;
        y += inset + name + (rows_[i].hasSub ? sub : 0) + inset + 1;
    }
    tops_.back() = y;
    updateGeometry();
    update();
}

QRect DistributionList::rowRect(int row) const {
    if (row < 0 || row >= count())
        return {};
    return QRect(0, tops_[row], width(), tops_[row + 1] - tops_[row]);
}

int DistributionList::rowAt(int y) const {
    if (rows_.empty() || y < 0 || y >= tops_.back())
        return -1;
    return int(std::upper_bound(tops_.begin(), tops_.end(), y) - tops_.begin()) - 1;
}

QString DistributionList::rowText(int row) const {
    if (row < 0 || row >= count())
        return {};
    const Report::Row& r = rows_[std::size_t(row)];
    QStringList parts{r.name.left(shownCharacters)};
    if (r.hasSub)
        parts << r.sub.left(shownCharacters);
    parts << r.calls << r.cost;
    return parts.join(QStringLiteral("，"));
}

QSize DistributionList::sizeHint() const {
    return {2 * figureWidth + 160, tops_.back()};
}

QSize DistributionList::minimumSizeHint() const {
    return {2 * figureWidth + 60, tops_.back()};
}

void DistributionList::paintEvent(QPaintEvent* event) {
    if (rows_.empty())
        return;
    QPainter painter(this);
    const QPalette p = palette();
    const QColor text = p.color(QPalette::WindowText);
    const QColor secondary = Style::secondary(p);
    QColor divider = text;
    divider.setAlphaF(0.12);
    const QFont name = nameFont();
    const QFont caption = Style::caption();
    const int nameHeight = QFontMetrics(name).height();
    const int subHeight = QFontMetrics(caption).height();
    const int figures = 2 * figureWidth;
    const int nameWidth = std::max(0, width() - figures - 12);

    const QRect exposed = event->rect();
    const int first = std::max(0, rowAt(exposed.top()));
    for (int i = first; i < count() && tops_[std::size_t(i)] <= exposed.bottom(); ++i) {
        const Report::Row& r = rows_[std::size_t(i)];
        const QRect box = rowRect(i);
        const int contentTop = box.top() + inset;
        const int contentHeight = box.height() - 2 * inset - 1;
        painter.setFont(name);
        painter.setPen(text);
        drawLine(painter, QRect(0, contentTop, nameWidth, nameHeight), r.name, Qt::AlignLeft);
        if (r.hasSub) {
            painter.setFont(caption);
            painter.setPen(secondary);
            drawLine(painter, QRect(0, contentTop + nameHeight, nameWidth, subHeight), r.sub,
                     Qt::AlignLeft);
        }
        painter.setFont(font());
        painter.setPen(secondary);
        const int right = width();
        drawLine(painter, QRect(right - figures, contentTop, figureWidth, contentHeight), r.calls,
                 Qt::AlignRight);
        painter.setPen(text);
        drawLine(painter, QRect(right - figureWidth, contentTop, figureWidth, contentHeight),
                 r.cost, Qt::AlignRight);
        painter.fillRect(QRect(0, box.bottom(), width(), 1), divider);
    }
}

bool DistributionList::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos().y());
        if (row >= 0)
            QToolTip::showText(help->globalPos(), rowText(row).left(2000), this, rowRect(row));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void DistributionList::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        measure();
}

} // namespace tessel
