#include "host/desktop_route.h"

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
    if (chosen != DesktopRoute::None)
        return {};
    return QStringLiteral("这个桌面无法把小组件固定在桌面上：请安装 XWayland（软件包 xwayland）"
                          "或改用 X11 会话登录，然后重新启动 Tessel 桌面小组件。");
}

} // namespace tessel::host::Desktop
