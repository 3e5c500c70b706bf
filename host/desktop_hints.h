// What makes a top-level window a desktop widget rather than an application window.
#pragma once

#include <QPoint>

class QMenu;
class QWidget;

namespace tessel::host {

// Call before the window is first shown. On X11: kept below other windows, on every workspace,
// absent from task bar and pager (EWMH states set on the unmapped window, which Qt then keeps).
// On the layer-shell route: a surface on the compositor's bottom layer. Elsewhere only the
// frameless, stay-on-bottom flags, which is all plain Wayland allows.
void keepOnDesktop(QWidget* window);

// Opens a desktop widget's menu at `globalPos` (as a popup of its layer surface where it is one)
// and deletes the menu once it closes.
void popUpMenu(QWidget* window, QMenu* menu, QPoint globalPos);

} // namespace tessel::host

namespace tessel::host {

// Whether windows can be translucent (a compositing manager runs, or the platform composites).
bool compositing();

// On X11, whether the window manager says it keeps windows below others (_NET_WM_STATE_BELOW in
// _NET_SUPPORTED); true where there is nobody to ask.
bool windowManagerKeepsBelow();

} // namespace tessel::host
