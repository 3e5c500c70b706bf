// The rounded backgrounds of the report: tiles, cards and the trend block on the quaternary
// fill, the gateway banner on orange. Resolved against the palette at paint time, so a change
// between light and dark needs no rebuild.
#pragma once

#include <QWidget>

namespace tessel {

class Surface : public QWidget {
    Q_OBJECT
public:
    enum class Fill { Quaternary, Orange };

    Surface(Fill fill, qreal opacity, qreal radius, QWidget* parent = nullptr);

    static QColor color(Fill fill, qreal opacity, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Fill fill_;
    qreal opacity_;
    qreal radius_;
};

} // namespace tessel
