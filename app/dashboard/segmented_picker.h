// A row of exclusive segments (the report's distribution picker). Tab reaches the chosen
// segment; the arrow keys move the choice.
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QWidget>

#include <array>

#include "app/dashboard/report_data.h"

namespace tessel {

class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QString& title, const std::array<Report::Choice, 3>& choices,
                    QWidget* parent = nullptr);

    QString value() const;
    // Selects the segment of `value`; an unknown value selects none. Emits nothing.
    void setValue(const QString& value);
    QAbstractButton* segment(int index) const;
    int count() const { return int(values_.size()); }

signals:
    void activated(const QString& value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QButtonGroup group_;
    std::array<QString, 3> values_;
};

} // namespace tessel
