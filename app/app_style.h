// The desktop's widget style, with check box frames that read on dark palettes.
#pragma once

#include <QProxyStyle>

namespace tessel {

class AppStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Over a fresh instance of the style the application uses now (the desktop's, or -style).
    AppStyle();

    // Puts an AppStyle over the application's style, once per process.
    static void install();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace tessel
