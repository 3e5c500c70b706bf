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

// The first theme name the icon theme has, or none.
QString themeName(const QString& symbol) {
    for (const QString& name : Symbols::themeNames(symbol))
        if (QIcon::hasThemeIcon(name))
            return name;
    return {};
}

} // namespace

QColor SymbolEngine::colour(const QPainter* painter, QIcon::Mode mode) const {
    if (tint_.isValid()) {
        QColor colour = tint_;
        if (mode == QIcon::Disabled)
            colour.setAlphaF(colour.alphaF() * 0.4);
        return colour;
    }
    const QPaintDevice* device = painter ? painter->device() : nullptr;
    const QWidget* widget = device && device->devType() == QInternal::Widget
                                ? static_cast<const QWidget*>(device)
                                : on_.data();
    if (!widget)
        return QGuiApplication::palette().color(
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::WindowText);
    const QPalette palette = widget->palette();
    const QPalette::ColorGroup group =
        widget->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    switch (mode) {
    case QIcon::Disabled:
        return palette.color(QPalette::Disabled, widget->foregroundRole());
    case QIcon::Selected:
        return palette.color(group, QPalette::HighlightedText);
    default:
        return palette.color(group, widget->foregroundRole());
    }
}

void SymbolEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                         QIcon::State state) {
    const QColor colour = this->colour(painter, mode);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    if (const QString name = themeName(name_); !name.isEmpty()) {
        // Symbolic icons are drawn in one colour meant to be replaced, as GTK does, by the text
        // colour they stand beside; a theme's dark grey would vanish on a dark palette.
        const bool symbolic = name.endsWith(QLatin1StringView("-symbolic"));
        QPixmap pixmap = QIcon::fromTheme(name).pixmap(rect.size(), ratio,
                                                       symbolic ? QIcon::Normal : mode, state);
        if (symbolic || tint_.isValid()) {
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

QString SymbolEngine::iconName() {
    // A tinted icon loaded by name would lose its tint; it goes as a picture instead.
    return tint_.isValid() ? QString() : themeName(name_);
}

} // namespace tessel
