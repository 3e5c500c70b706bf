#include "ui/style.h"

#include <QApplication>

#include <algorithm>
#include <cmath>

namespace tessel {

namespace {

QFont scaled(qreal factor, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(7.0, font.pointSizeF() * factor));
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(9, int(std::lround(font.pixelSize() * factor))));
    font.setWeight(weight);
    return font;
}

} // namespace

namespace Style {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor mint(const QPalette& palette) {
    return isDark(palette) ? QColor(0x63, 0xe6, 0xe2) : QColor(0x00, 0xa8, 0xa0);
}

QColor orange(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0x9f, 0x0a) : QColor(0xf0, 0x8a, 0x00);
}

QColor secondary(const QPalette& palette) {
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.62);
    return text;
}

QColor color(Tint tint, const QPalette& palette) {
    switch (tint) {
    case Tint::Secondary:
        return secondary(palette);
    case Tint::Mint:
        return mint(palette);
    case Tint::Orange:
        return orange(palette);
    case Tint::Text:
        break;
    }
    return palette.color(QPalette::WindowText);
}

QFont headline() {
    return scaled(1.0, QFont::DemiBold);
}
QFont title2() {
    return scaled(1.35);
}
QFont subheadline() {
    return scaled(0.92);
}
QFont caption() {
    return scaled(0.9);
}
QFont caption2() {
    return scaled(0.84);
}

} // namespace Style

} // namespace tessel
