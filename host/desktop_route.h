// How this session can keep widgets on the desktop. Chosen once, before the application object
// exists, because the choice decides which Qt platform the host runs on.
#pragma once

#include <QString>

namespace tessel::host {

enum class DesktopRoute {
    X11,        // an X session (or a platform without windows): EWMH states on X11 windows
    LayerShell, // Wayland with zwlr_layer_shell_v1: surfaces on the compositor's bottom layer
    XWayland,   // Wayland without it, XWayland present: the host's windows are X11 clients
    None,       // Wayland with neither: plain windows, and the user is told why
};

namespace Desktop {

// Looks at the session and what its compositor offers; for the XWayland route it sets
// QT_QPA_PLATFORM to xcb. An explicit non-Wayland QT_QPA_PLATFORM (xcb, offscreen) is kept.
// TESSEL_DESKTOP_ROUTE=xwayland|none skips the layer shell (for a compositor whose layer
// shell misbehaves, and for tests).
DesktopRoute choose();

// What choose() decided; X11 before it ran.
DesktopRoute route();

// The one sentence the gallery and the host show where widgets cannot stay on the desktop: no
// route at all, or an XWayland whose window manager does not keep windows below. Empty
// otherwise. Needs the application object.
QString limitation();

} // namespace Desktop

} // namespace tessel::host
