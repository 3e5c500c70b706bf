// Placed widgets on a Wayland compositor that offers zwlr_layer_shell_v1: each widget window is
// a surface on the compositor's bottom layer (below every window, on every workspace, in no task
// bar), anchored to its output's top-left corner with margins that hold the saved position.
//
// Qt 6.4 has no public way to give its own windows that role, so the host talks to the
// compositor on a connection of its own: the widget window stays a Qt widget that is never
// shown on screen, painted into shared-memory buffers whenever Qt would repaint it, and the
// pointer events of its surface are handed to its child widgets as Qt mouse events. The right-
// click menu opens as an xdg_popup of the layer surface.
#pragma once

#include <QPoint>

class QMenu;
class QWidget;

namespace tessel::host::LayerShell {

// Whether the session's compositor offers zwlr_layer_shell_v1. Needs no application object.
bool offered();

// Makes `window`, before it is first shown, a layer surface from then on. False when the
// compositor cannot be reached; the window then stays an ordinary one.
bool attach(QWidget* window);

// Opens `menu` as a popup of `window`'s layer surface at `globalPos` and deletes it once it
// closes. False when `window` is no layer surface.
bool popUp(QMenu* menu, QWidget* window, QPoint globalPos);

} // namespace tessel::host::LayerShell
