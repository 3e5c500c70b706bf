#include "app/dashboard/surface.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/style.h"

namespace tessel {

Surface::Surface(Fill fill, qreal opacity, qreal radius, QWidget* parent)
    : QWidget(parent), fill_(fill), opacity_(opacity), radius_(radius) {}

QColor Surface::color(Fill fill, qreal opacity, const QPalette& palette) {
    QColor base;
    if (fill == Fill::Orange) {
        base = Style::orange(palette);
    } else {
        // The faintest system fill: the text colour at a tenth, so it reads on light and dark.
        base = palette.color(QPalette::WindowText);
        base.setAlphaF(0.10);
    }
    base.setAlphaF(base.alphaF() * opacity);
    return base;
}

void Surface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), radius_, radius_);
    painter.fillPath(path, color(fill_, opacity_, palette()));
}

} // namespace tessel
