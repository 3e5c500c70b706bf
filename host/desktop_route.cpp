#include "host/desktop_route.h"

#include "host/desktop_hints.h"

#ifdef TESSEL_HAVE_LAYER_SHELL
#include "host/layer_shell.h"
#endif

#include <QByteArray>

namespace tessel::host::Desktop {

namespace {

DesktopRoute chosen = DesktopRoute::X11;

bool layerShellOffered() {
#ifdef TESSEL_HAVE_LAYER_SHELL
    return LayerShell::offered();
#else
    return false;
#endif
}

} // namespace

DesktopRoute choose() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool wayland =
        !qgetenv("WAYLAND_DISPLAY").isEmpty() || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (!wayland || (!platform.isEmpty() && !platform.startsWith("wayland")))
        return chosen = DesktopRoute::X11;
    const QByteArray forced = qgetenv("TESSEL_DESKTOP_ROUTE");
    if (forced != "xwayland" && forced != "none" && layerShellOffered()) {
        // The gallery and the sheets are ordinary windows; without Qt's Wayland plug-in they
        // still open through XWayland.
        if (platform.isEmpty())
            qputenv("QT_QPA_PLATFORM", "wayland;xcb");
        return chosen = DesktopRoute::LayerShell;
    }
    if (forced != "none" && !qgetenv("DISPLAY").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return chosen = DesktopRoute::XWayland;
    }
    return chosen = DesktopRoute::None;
}

DesktopRoute route() {
    return chosen;
}

QString limitation() {
    if (chosen == DesktopRoute::None)
        return QStringLiteral("这个桌面无法把小组件固定在桌面上：请安装 XWayland（软件包 "
                              "xwayland）或改用 X11 会话登录，然后重新启动 Tessel 桌面小组件。");
    // Through XWayland it is the compositor's own X11 window manager that must keep them below.
    if (chosen == DesktopRoute::XWayland && !windowManagerKeepsBelow())
        return QStringLiteral("这个桌面无法把小组件固定在桌面上：请改用 X11 会话登录，或使用 "
                              "KDE Plasma、GNOME、sway 等能把小组件留在窗口下面的桌面。");
    return {};
}

} // namespace tessel::host::Desktop
