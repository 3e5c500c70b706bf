// What makes a top-level window a desktop widget rather than an application window.
#pragma once

class QWidget;

namespace tessel::host {

// Call before the window is first shown. On X11: kept below other windows, on every workspace,
// absent from task bar and pager (EWMH states set on the unmapped window, which Qt then keeps).
// Elsewhere (Wayland) only the frameless, stay-on-bottom flags, which is all it allows.
void keepOnDesktop(QWidget* window);

} // namespace tessel::host

namespace tessel::host {

// Whether windows can be translucent (a compositing manager runs, or the platform composites).
bool compositing();

} // namespace tessel::host
