// Pickers and spin boxes on scrolling pages take the wheel only while they have the keyboard
// focus: a pointer that passes over one while the user scrolls must neither change nor save it,
// and the page goes on scrolling.
#pragma once

class QWidget;

namespace tessel::WheelGuard {

// Keeps the wheel from giving `control` the focus, and hands the wheel to its parents (up to
// the scrolling page) while it has none.
void install(QWidget* control);

} // namespace tessel::WheelGuard
