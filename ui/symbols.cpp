#include "ui/symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>
#include <functional>
#include <map>

#include "ui/symbol_engine.h"

namespace tessel {

namespace {

// Drawn on a 24 x 24 grid, in the tint colour.
using Drawing = std::function<void(QPainter&, const QColor&)>;

struct Entry {
    QStringList theme;
    Drawing draw;
};

QPen strokePen(const QColor& colour, qreal width = 2.0) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void stroke(QPainter& p, const QColor& c, const QPainterPath& path, qreal width = 2.0) {
    p.setPen(strokePen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void fill(QPainter& p, const QColor& c, const QPainterPath& path) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

QPainterPath arrowHead(QPointF tip, qreal angleDegrees, qreal size = 5.0) {
    QPainterPath head;
    const qreal a = qDegreesToRadians(angleDegrees);
    const QPointF back(std::cos(a) * size, std::sin(a) * size);
    const QPointF side(-back.y() * 0.8, back.x() * 0.8);
    head.moveTo(tip - back + side);
    head.lineTo(tip);
    head.lineTo(tip - back - side);
    return head;
}

QPainterPath star(QPointF centre, qreal radius, qreal waist) {
    QPainterPath path;
    for (int i = 0; i < 4; ++i) {
        const qreal a = qDegreesToRadians(-90.0 + 90.0 * i);
        const QPointF tip = centre + QPointF(std::cos(a), std::sin(a)) * radius;
        const qreal b = a + qDegreesToRadians(45.0);
        const QPointF inner = centre + QPointF(std::cos(b), std::sin(b)) * waist;
        if (i == 0)
            path.moveTo(tip);
        else
            path.lineTo(tip);
        path.lineTo(inner);
    }
    path.closeSubpath();
    return path;
}

QPainterPath triangle() {
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.lineTo(22.5, 20.5);
    path.lineTo(1.5, 20.5);
    path.closeSubpath();
    return path;
}

void exclamation(QPainter& p, const QColor& c) {
    p.setPen(strokePen(c, 2.2));
    p.drawLine(QPointF(12, 8.5), QPointF(12, 13.5));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 17.3), 1.3, 1.3);
}

const std::map<QString, Entry>& table() {
    static const std::map<QString, Entry> entries = {
        {"bird.fill",
         {{"net.quorvane.TesselWidget-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath body;
              body.moveTo(3, 9.5);
              body.cubicTo(5, 7, 8, 6.5, 10, 8.5);
              body.cubicTo(12, 4.5, 16, 3.5, 19.5, 5.5);
              body.lineTo(22.5, 5);
              body.lineTo(20.5, 7.5);
              body.cubicTo(21, 13, 17, 18, 10.5, 18.5);
              body.lineTo(6, 21.5);
              body.lineTo(7, 17.5);
              body.cubicTo(4, 15.5, 3, 12.5, 3, 9.5);
              body.closeSubpath();
              fill(p, c, body);
              // Eye as a hole.
              QPainterPath eye;
              eye.addEllipse(QPointF(17.2, 7.3), 0.9, 0.9);
              p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
              fill(p, Qt::black, eye);
              p.setCompositionMode(QPainter::CompositionMode_SourceOver);
          }}},
        {"arrow.clockwise",
         {{"view-refresh-symbolic", "view-refresh"},
          [](QPainter& p, const QColor& c) {
              QPainterPath arc;
              arc.arcMoveTo(QRectF(4, 4, 16, 16), 60);
              arc.arcTo(QRectF(4, 4, 16, 16), 60, 300);
              stroke(p, c, arc);
              stroke(p, c, arrowHead(QPointF(16, 5.2), 25));
          }}},
        {"creditcard",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath card;
              card.addRoundedRect(QRectF(2.5, 5, 19, 14), 2.5, 2.5);
              stroke(p, c, card, 1.8);
              fill(p, c, [] {
                  QPainterPath band;
                  band.addRect(QRectF(2.5, 8.5, 19, 3));
                  return band;
              }());
              p.setPen(strokePen(c, 1.8));
              p.drawLine(QPointF(6, 15.5), QPointF(10, 15.5));
          }}},
        {"sparkles",
         {{},
          [](QPainter& p, const QColor& c) {
              fill(p, c, star(QPointF(10, 13), 8.5, 2.4));
              fill(p, c, star(QPointF(19, 5.5), 3.8, 1.1));
              fill(p, c, star(QPointF(19.5, 19), 2.8, 0.9));
          }}},
        {"exclamationmark.triangle.fill",
         {{"dialog-warning-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath t = triangle();
              p.setPen(strokePen(c, 2.0));
              p.setBrush(c);
              p.drawPath(t);
              p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
              exclamation(p, Qt::black);
              p.setCompositionMode(QPainter::CompositionMode_SourceOver);
          }}},
        {"exclamationmark.triangle",
         {{"dialog-warning-symbolic"},
          [](QPainter& p, const QColor& c) {
              stroke(p, c, triangle(), 1.8);
              exclamation(p, c);
          }}},
        {"chevron.right",
         {{"go-next-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath path;
              path.moveTo(9, 5);
              path.lineTo(16, 12);
              path.lineTo(9, 19);
              stroke(p, c, path, 2.2);
          }}},
        {"wifi.slash",
         {{"network-wireless-offline-symbolic", "network-offline-symbolic"},
          [](QPainter& p, const QColor& c) {
              for (qreal r : {9.0, 6.0, 3.0}) {
                  QPainterPath arc;
                  const QRectF box(12 - r, 18 - r, 2 * r, 2 * r);
                  arc.arcMoveTo(box, 45);
                  arc.arcTo(box, 45, 90);
                  stroke(p, c, arc, 1.8);
              }
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(12, 18.5), 1.4, 1.4);
              p.setPen(strokePen(c, 1.8));
              p.drawLine(QPointF(4, 3.5), QPointF(20, 21));
          }}},
        {"circle.fill",
         {{},
          [](QPainter& p, const QColor& c) {
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(12, 12), 6.5, 6.5);
          }}},
        {"square.grid.2x2",
         {{"view-grid-symbolic", "view-app-grid-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath grid;
              for (qreal x : {3.5, 13.5})
                  for (qreal y : {3.5, 13.5})
                      grid.addRoundedRect(QRectF(x, y, 7, 7), 1.8, 1.8);
              stroke(p, c, grid, 1.7);
          }}},
        {"chart.xyaxis.line",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath axes;
              axes.moveTo(3.5, 3.5);
              axes.lineTo(3.5, 20.5);
              axes.lineTo(20.5, 20.5);
              stroke(p, c, axes, 1.7);
              QPainterPath line;
              line.moveTo(6.5, 16);
              line.lineTo(10.5, 10.5);
              line.lineTo(14, 13.5);
              line.lineTo(20, 6);
              stroke(p, c, line, 2.0);
          }}},
        {"rectangle.3.group",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath group;
              group.addRoundedRect(QRectF(3, 3.5, 18, 8), 2, 2);
              group.addRoundedRect(QRectF(3, 14, 7.5, 6.5), 2, 2);
              group.addRoundedRect(QRectF(13.5, 14, 7.5, 6.5), 2, 2);
              stroke(p, c, group, 1.7);
          }}},
        {"gearshape",
         {{"emblem-system-symbolic", "preferences-system-symbolic"},
          [](QPainter& p, const QColor& c) {
              QPainterPath gear;
              const int teeth = 8;
              for (int i = 0; i < teeth * 4; ++i) {
                  const qreal a = qDegreesToRadians(360.0 * i / (teeth * 4) - 90.0);
                  const qreal r = (i % 4 == 1 || i % 4 == 2) ? 10.0 : 7.6;
                  const QPointF pt(12 + std::cos(a) * r, 12 + std::sin(a) * r);
                  if (i == 0)
                      gear.moveTo(pt);
                  else
                      gear.lineTo(pt);
              }
              gear.closeSubpath();
              gear.addEllipse(QPointF(12, 12), 3.2, 3.2);
              gear.setFillRule(Qt::OddEvenFill);
              fill(p, c, gear);
          }}},
        {"dollarsign.circle",
         {{},
          [](QPainter& p, const QColor& c) {
              QPainterPath ring;
              ring.addEllipse(QPointF(12, 12), 9.5, 9.5);
              stroke(p, c, ring, 1.7);
              QPainterPath s;
              s.moveTo(15, 8.8);
              s.cubicTo(13.5, 7.2, 8.5, 7.5, 9, 10.2);
              s.cubicTo(9.5, 12.5, 15.5, 11.5, 15.2, 14.2);
              s.cubicTo(14.8, 16.8, 10, 16.8, 8.7, 15.2);
              stroke(p, c, s, 1.7);
              p.drawLine(QPointF(12, 5.8), QPointF(12, 7.5));
              p.drawLine(QPointF(12, 16.5), QPointF(12, 18.2));
          }}},
        {"square.stack.3d.up",
         {{},
          [](QPainter& p, const QColor& c) {
              auto layer = [](qreal y) {
                  QPainterPath d;
                  d.moveTo(12, y);
                  d.lineTo(21, y + 4.5);
                  d.lineTo(12, y + 9);
                  d.lineTo(3, y + 4.5);
                  d.closeSubpath();
                  return d;
              };
              QPainterPath under;
              under.moveTo(3, 14);
              under.lineTo(12, 18.5);
              under.lineTo(21, 14);
              under.moveTo(3, 17.5);
              under.lineTo(12, 22);
              under.lineTo(21, 17.5);
              stroke(p, c, under, 1.7);
              stroke(p, c, layer(2.5), 1.7);
          }}},
        {"arrow.up.arrow.down",
         {{},
          [](QPainter& p, const QColor& c) {
              p.setPen(strokePen(c, 1.9));
              p.drawLine(QPointF(8, 4), QPointF(8, 19));
              p.drawLine(QPointF(16, 5), QPointF(16, 20));
              stroke(p, c, arrowHead(QPointF(8, 4), -90), 1.9);
              stroke(p, c, arrowHead(QPointF(16, 20), 90), 1.9);
          }}},
    };
    return entries;
}

} // namespace

namespace Symbols {

QStringList names() {
    QStringList all;
    for (const auto& [name, entry] : table())
        all << name;
    return all;
}

bool known(const QString& name) {
    return table().count(name) > 0;
}

QStringList themeNames(const QString& name) {
    const auto found = table().find(name);
    return found == table().end() ? QStringList() : found->second.theme;
}

bool draw(const QString& name, QPainter& painter, const QColor& colour) {
    const auto found = table().find(name);
    if (found == table().end())
        return false;
    found->second.draw(painter, colour);
    return true;
}

QIcon icon(const QString& name, const QColor& tint) {
    if (!known(name))
        return {};
    return QIcon(new SymbolEngine(name, tint));
}

QIcon icon(const QString& name, QWidget* on) {
    if (!known(name))
        return {};
    return QIcon(new SymbolEngine(name, {}, on));
}

} // namespace Symbols

} // namespace tessel
