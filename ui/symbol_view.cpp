#include "ui/symbol_view.h"

#include <QFontMetrics>
#include <QPainter>

#include "ui/symbols.h"

namespace tessel {

SymbolView::SymbolView(const QString& symbol, Style::Tint tint, QWidget* parent)
    : QWidget(parent), symbol_(symbol), tint_(tint) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolView::sizeHint() const {
    const int side = QFontMetrics(font()).height();
    return {side, side};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Always tinted from this widget's palette: a window with its own (dark) palette would
    // otherwise get glyphs in the application's text colour.
    Symbols::icon(symbol_, Style::color(tint_, palette()))
        .paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

} // namespace tessel
