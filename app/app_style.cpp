#include "app/app_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include "ui/style.h"

namespace tessel {

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

void AppStyle::install() {
    if (!qobject_cast<AppStyle*>(QApplication::style()))
        QApplication::setStyle(new AppStyle);
}

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                             QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    // Fusion outlines a check box a shade darker than the window, which on a dark palette (the
    // dashboard's "深色", a dark desktop) is black on black. The frame is drawn again in the
    // text colour at half strength; the keyboard focus frame stays as the style drew it.
    // Item views draw their check boxes through this element too.
    if (element != PE_IndicatorCheckBox || !Style::isDark(option->palette) ||
        baseStyle()->name().compare(QLatin1StringView("fusion"), Qt::CaseInsensitive) != 0 ||
        ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)))
        return;
    QColor edge = option->palette.color(QPalette::WindowText);
    edge.setAlphaF(option->state & State_Enabled ? 0.55 : 0.3);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(edge);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

} // namespace tessel
