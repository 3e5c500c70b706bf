#include "host/desktop_hints.h"

#include "host/desktop_route.h"
#ifdef TESSEL_HAVE_LAYER_SHELL
#include "host/layer_shell.h"
#endif

#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

namespace tessel::host {

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

} // namespace

void keepOnDesktop(QWidget* window) {
    window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint |
                           Qt::WindowDoesNotAcceptFocus);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
#ifdef TESSEL_HAVE_LAYER_SHELL
    if (Desktop::route() == DesktopRoute::LayerShell && LayerShell::attach(window))
        return;
#endif
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // The offscreen platform answers this interface too, without a connection.
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* c = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t states[] = {atom(c, "_NET_WM_STATE_BELOW"), atom(c, "_NET_WM_STATE_STICKY"),
                                 atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        4, states);
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
                        32, 1, &allDesktops);
    xcb_flush(c);
}

void popUpMenu(QWidget* window, QMenu* menu, QPoint globalPos) {
    menu->setAttribute(Qt::WA_DeleteOnClose);
#ifdef TESSEL_HAVE_LAYER_SHELL
    if (LayerShell::popUp(menu, window, globalPos))
        return;
#else
    Q_UNUSED(window);
#endif
    menu->popup(globalPos);
}

} // namespace tessel::host

namespace tessel::host {

bool compositing() {
    if (QGuiApplication::platformName() == u"wayland" ||
        Desktop::route() == DesktopRoute::LayerShell)
        return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* c = x11->connection();
    // EWMH: a compositing manager owns the selection _NET_WM_CM_S<screen>.
    const xcb_atom_t cm = atom(c, "_NET_WM_CM_S0");
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, cm), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

bool windowManagerKeepsBelow() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return true;
    xcb_connection_t* c = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096),
        nullptr);
    bool below = false;
    if (reply && reply->format == 32) {
        const xcb_atom_t wanted = atom(c, "_NET_WM_STATE_BELOW");
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        below = std::find(atoms, atoms + xcb_get_property_value_length(reply) / 4, wanted) !=
                atoms + xcb_get_property_value_length(reply) / 4;
    }
    std::free(reply);
    return below;
}

} // namespace tessel::host
