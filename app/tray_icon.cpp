#include "app/tray_icon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

// Resources of a static library are not registered on their own.
static void registerResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)done;
}

namespace tessel::TrayIcon {

namespace {

QSvgRenderer& birdRenderer() {
    registerResources();
    static QSvgRenderer renderer(QStringLiteral(":/tessel/bird.svg"));
    return renderer;
}

QFont badgeFont(qreal pixelSize) {
    QFont font;
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    font.setWeight(QFont::Bold);
    return font;
}

// Orange with a dark rim: the orange carries on dark panels, the rim on light ones. From 22 px
// on it holds a white sign; at 16 px the disc alone must do.
void drawMark(QPainter& painter, qreal s, State state) {
    const qreal d = std::max(6.0, s * 0.44);
    const QRectF disc(s - d, 0, d, d);
    const qreal rim = std::max(1.0, s / 20);
    painter.setPen(QPen(QColor(0x4a, 0x25, 0x00), rim));
    painter.setBrush(QColor(0xff, 0x95, 0x00));
    painter.drawEllipse(disc.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2));
    if (s < 22)
        return;
    const QPointF c = disc.center();
    const qreal stroke = std::max(1.5, d * 0.16);
    painter.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap));
    if (state == State::Issue) {
        painter.drawLine(QPointF(c.x(), c.y() - d * 0.24), QPointF(c.x(), c.y() + d * 0.06));
        painter.drawPoint(QPointF(c.x(), c.y() + d * 0.24));
    } else {
        painter.drawLine(c, QPointF(c.x(), c.y() - d * 0.26));
        painter.drawLine(c, QPointF(c.x() + d * 0.2, c.y()));
    }
}

} // namespace

QString badgeText(const QString& title) {
    return title.endsWith(u'%') ? title : QString();
}

QImage render(const QString& title, int size, qreal ratio, State state) {
    const int pixels = std::max(1, qRound(size * ratio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const qreal s = size;
    const bool dimmed = state != State::Current;
    QString text = badgeText(title);
    painter.setOpacity(dimmed ? 0.5 : 1.0);
    if (text.isEmpty()) {
        birdRenderer().render(&painter, QRectF(0, 0, s, s));
        painter.setOpacity(1.0);
        if (dimmed)
            drawMark(painter, s, state);
        return image;
    }
    // The bird shrinks to the upper part; the badge takes the lower ~45 %.
    const qreal birdSize = s * 0.72;
    birdRenderer().render(&painter, QRectF((s - birdSize) / 2, 0, birdSize, birdSize));
    painter.setOpacity(1.0);

    // Largest font whose text fits the width; "%" goes first when the digits would get tiny.
    qreal pixel = s * 0.5;
    auto fits = [&](const QString& t, qreal px) {
        return QFontMetricsF(badgeFont(px)).horizontalAdvance(t) <= s - 2;
    };
    while (pixel > s * 0.45 && !fits(text, pixel))
        pixel -= 0.5;
    if (!fits(text, pixel)) {
        text.chop(1);
        pixel = s * 0.5;
        while (pixel > 6 && !fits(text, pixel))
            pixel -= 0.5;
    }
    const QFont font = badgeFont(pixel);
    const QFontMetricsF metrics(font);
    const qreal badgeHeight = std::min(s * 0.5, metrics.capHeight() + s * 0.16);
    const QRectF badge(0.5, s - badgeHeight - 0.5, s - 1, badgeHeight);
    // Dimmed, the badge turns grey but keeps its contrast: the number must stay legible.
    painter.setPen(QPen(QColor(255, 255, 255, dimmed ? 150 : 200), std::max(1.0, s / 24)));
    painter.setBrush(dimmed ? QColor(0x45, 0x45, 0x45, 235) : QColor(0x0b, 0x2f, 0x2a, 235));
    painter.drawRoundedRect(badge, badgeHeight * 0.3, badgeHeight * 0.3);

    painter.setFont(font);
    painter.setPen(dimmed ? QColor(0xdc, 0xdc, 0xdc) : QColor(Qt::white));
    const qreal width = metrics.horizontalAdvance(text);
    const QPointF origin(badge.center().x() - width / 2,
                         badge.center().y() + metrics.capHeight() / 2);
    painter.drawText(origin, text);
    if (dimmed)
        drawMark(painter, s, state);
    return image;
}

QIcon icon(const QString& title, State state) {
    QIcon result;
    for (const int size : {16, 22, 24, 32, 48, 64})
        for (const qreal ratio : {1.0, 2.0})
            result.addPixmap(QPixmap::fromImage(render(title, size, ratio, state)));
    return result;
}

QIcon bird() {
    registerResources();
    return QIcon(QStringLiteral(":/tessel/bird.svg"));
}

} // namespace tessel::TrayIcon
