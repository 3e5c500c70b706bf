#include "ui/symbol_engine.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>

#include <algorithm>

#include "ui/symbols.h"

namespace tessel {

namespace {

QIcon themeIcon(const QString& symbol) {
    for (const QString& name : Symbols::themeNames(symbol))
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    return {};
}

} // namespace

void SymbolEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                         QIcon::State state) {
    const QPalette palette = QGuiApplication::palette();
    QColor colour = tint_.isValid() ? tint_ : palette.color(QPalette::WindowText);
    if (mode == QIcon::Disabled)
        colour.setAlphaF(colour.alphaF() * 0.4);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    if (QIcon theme = themeIcon(name_); !theme.isNull()) {
        QPixmap pixmap = theme.pixmap(rect.size(), ratio, mode, state);
        if (tint_.isValid()) {
            QPainter tinter(&pixmap);
            tinter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tinter.fillRect(QRect(QPoint(), pixmap.size()), colour);
        }
        painter->drawPixmap(rect, pixmap);
        return;
    }
    // Our own drawings go straight to the painter, so they are vectors at any scale. They
    // draw on a layer of their own because holes are punched with DestinationOut.
    const int side = std::min(rect.width(), rect.height());
    const QSize pixels = QSize(side, side) * ratio;
    if (pixels.isEmpty())
        return;
    QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(pixels.width() / 24.0, pixels.height() / 24.0);
        Symbols::draw(name_, p, colour);
    }
    layer.setDevicePixelRatio(ratio);
    const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2,
                       side, side);
    painter->drawImage(square, layer);
}

QPixmap SymbolEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(), size), mode, state);
    return pixmap;
}

} // namespace tessel
