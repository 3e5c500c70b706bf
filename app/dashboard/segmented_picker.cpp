#include "app/dashboard/segmented_picker.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

#include "app/dashboard/surface.h"
#include "ui/style.h"

namespace tessel {

namespace {

class Segment : public QAbstractButton {
public:
    explicit Segment(const QString& text, QWidget* parent = nullptr) : QAbstractButton(parent) {
        setText(text);
        setCheckable(true);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        const QFontMetrics m(font());
        return {m.horizontalAdvance(text()) + 24, m.height() + 10};
    }

protected:
    // The picker moves the choice; a button of a group would only move the focus.
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            event->ignore();
            return;
        default:
            QAbstractButton::keyPressEvent(event);
        }
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette p = palette();
        const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
        if (isChecked()) {
            QPainterPath path;
            path.addRoundedRect(box, 6, 6);
            painter.fillPath(path, p.color(Style::isDark(p) ? QPalette::Button : QPalette::Base));
            QColor edge = p.color(QPalette::WindowText);
            edge.setAlphaF(0.15);
            painter.setPen(QPen(edge, 1));
            painter.drawPath(path);
        }
        if (hasFocus()) {
            QPen ring(p.color(QPalette::Highlight), 2);
            painter.setPen(ring);
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), 5, 5);
        }
        QFont f = font();
        if (isChecked())
            f.setWeight(QFont::Medium);
        painter.setFont(f);
        painter.setPen(p.color(isEnabled() ? QPalette::WindowText : QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }
};

} // namespace

SegmentedPicker::SegmentedPicker(const QString& title, const std::array<Report::Choice, 3>& choices,
                                 QWidget* parent)
    : QWidget(parent) {
    setAccessibleName(title);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(0);
    group_.setExclusive(true);
    for (std::size_t i = 0; i < choices.size(); ++i) {
        auto* segment = new Segment(choices[i].label);
        segment->setObjectName(choices[i].value);
        segment->setAccessibleDescription(title);
        values_[i] = choices[i].value;
        group_.addButton(segment, int(i));
        row->addWidget(segment);
    }
    // A segment chosen by a click, the keyboard or a screen reader's "Toggle" action (which
    // checks it without a click) is a choice; setValue() blocks the group's signals.
    connect(&group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit activated(values_[std::size_t(id)]);
    });
}

QString SegmentedPicker::value() const {
    const int id = group_.checkedId();
    return id < 0 ? QString() : values_[std::size_t(id)];
}

void SegmentedPicker::setValue(const QString& value) {
    const QSignalBlocker quiet(&group_);
    const auto found = std::find(values_.begin(), values_.end(), value);
    if (found == values_.end()) {
        group_.setExclusive(false);
        for (QAbstractButton* b : group_.buttons())
            b->setChecked(false);
        group_.setExclusive(true);
        return;
    }
    group_.button(int(found - values_.begin()))->setChecked(true);
}

QAbstractButton* SegmentedPicker::segment(int index) const {
    return group_.button(index);
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(path, Surface::color(Surface::Fill::Quaternary, 1.0, palette()));
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
    int step = 0;
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Up)
        step = -1;
    else if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Down)
        step = 1;
    if (!step) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (layoutDirection() == Qt::RightToLeft &&
        (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right))
        step = -step;
    const int current = std::max(0, group_.checkedId());
    const int next = std::clamp(current + step, 0, count() - 1);
    if (next != current || group_.checkedId() < 0) {
        group_.button(next)->setFocus(Qt::TabFocusReason);
        group_.button(next)->click();
    }
}

} // namespace tessel
