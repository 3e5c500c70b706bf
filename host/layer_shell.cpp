// The host's own Wayland connection: the registry's globals, the outputs with their logical
// places (xdg-output), and the seat's pointer, whose events go to the surface under it.
#include "host/layer_shell.h"
#include "host/layer_shell_wayland.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <algorithm>
#include <cstring>

namespace tessel::host::LayerShell {

Connection::Connection() {
    display_ = wl_display_connect(nullptr);
    if (!display_)
        return;
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    // Globals first, then what the outputs and the seat say about themselves.
    wl_display_roundtrip(display_);
    wl_display_roundtrip(display_);
    notifier_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        if (wl_display_dispatch(display_) < 0)
            broken();
    });
    // Requests made while handling Qt events leave before the loop sleeps.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] {
                if (display_ && wl_display_dispatch_pending(display_) >= 0)
                    wl_display_flush(display_);
            });
}

Connection::~Connection() {
    if (!display_)
        return;
    if (pointer_)
        wl_pointer_destroy(pointer_);
    if (seat_)
        wl_seat_destroy(seat_);
    for (const auto& o : outputs_) {
        if (o->xdg)
            zxdg_output_v1_destroy(o->xdg);
        wl_output_destroy(o->output);
    }
    if (outputManager_)
        zxdg_output_manager_v1_destroy(outputManager_);
    if (wmBase_)
        xdg_wm_base_destroy(wmBase_);
    if (layerShell_)
        zwlr_layer_shell_v1_destroy(layerShell_);
    if (shm_)
        wl_shm_destroy(shm_);
    if (compositor_)
        wl_compositor_destroy(compositor_);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

Connection* Connection::instance() {
    static QPointer<Connection> connection;
    if (!connection && qApp) {
        connection = new Connection;
        connection->setParent(qApp);
    }
    return connection;
}

void Connection::broken() {
    qWarning("tessel-widget-host: the Wayland compositor closed the connection (%s)",
             std::strerror(wl_display_get_error(display_)));
    notifier_->setEnabled(false);
    // Nothing can be shown any more; Qt's own connection ends the program the same way.
    QCoreApplication::exit(1);
}

const wl_registry_listener Connection::registryListener = {
    [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
        static_cast<Connection*>(data)->global(name, interface, version);
    },
    [](void* data, wl_registry*, std::uint32_t name) {
        static_cast<Connection*>(data)->globalRemoved(name);
    },
};

void Connection::global(std::uint32_t name, const char* interface, std::uint32_t version) {
    auto bind = [&](const wl_interface* type, std::uint32_t highest) {
        return wl_registry_bind(registry_, name, type, std::min(version, highest));
    };
    if (!std::strcmp(interface, wl_compositor_interface.name)) {
        compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (!std::strcmp(interface, wl_shm_interface.name)) {
        shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (!std::strcmp(interface, zwlr_layer_shell_v1_interface.name)) {
        layerShell_ = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 3));
    } else if (!std::strcmp(interface, xdg_wm_base_interface.name)) {
        wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 2));
        xdg_wm_base_add_listener(wmBase_, &wmBaseListener, this);
    } else if (!std::strcmp(interface, zxdg_output_manager_v1_interface.name)) {
        outputManager_ =
            static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
        for (const auto& o : outputs_)
            watchOutput(o.get());
    } else if (!std::strcmp(interface, wl_output_interface.name)) {
        auto output = std::make_unique<Output>();
        output->id = name;
        output->output = static_cast<wl_output*>(bind(&wl_output_interface, 2));
        wl_output_add_listener(output->output, &outputListener, output.get());
        watchOutput(output.get());
        outputs_.push_back(std::move(output));
    } else if (!std::strcmp(interface, wl_seat_interface.name) && !seat_) {
        seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(seat_, &seatListener, this);
    }
}

void Connection::globalRemoved(std::uint32_t name) {
    auto it = std::find_if(outputs_.begin(), outputs_.end(),
                           [&](const auto& o) { return o->id == name; });
    if (it == outputs_.end())
        return;
    std::unique_ptr<Output> gone = std::move(*it);
    outputs_.erase(it);
    for (Surface* s : std::vector<Surface*>(surfaces_))
        if (auto* w = dynamic_cast<WidgetSurface*>(s))
            w->outputGone(gone.get());
    if (gone->xdg)
        zxdg_output_v1_destroy(gone->xdg);
    wl_output_destroy(gone->output);
}

void Connection::watchOutput(Output* output) {
    if (!outputManager_ || output->xdg)
        return;
    output->xdg = zxdg_output_manager_v1_get_xdg_output(outputManager_, output->output);
    zxdg_output_v1_add_listener(output->xdg, &xdgOutputListener, output);
}

const wl_output_listener Connection::outputListener = {
    [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
       const char*, const char*, std::int32_t) {},
    [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    [](void*, wl_output*) {},
    [](void* data, wl_output*, std::int32_t factor) { static_cast<Output*>(data)->scale = factor; },
    [](void*, wl_output*, const char*) {},
    [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener Connection::xdgOutputListener = {
    [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
        static_cast<Output*>(data)->logical.moveTopLeft({x, y});
    },
    [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
        static_cast<Output*>(data)->logical.setSize({width, height});
    },
    [](void*, zxdg_output_v1*) {},
    [](void* data, zxdg_output_v1*, const char* name) {
        static_cast<Output*>(data)->name = QString::fromUtf8(name);
    },
    [](void*, zxdg_output_v1*, const char*) {},
};

const xdg_wm_base_listener Connection::wmBaseListener = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const wl_seat_listener Connection::seatListener = {
    [](void* data, wl_seat* seat, std::uint32_t capabilities) {
        auto* c = static_cast<Connection*>(data);
        const bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
        if (pointer && !c->pointer_) {
            c->pointer_ = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(c->pointer_, &pointerListener, c);
        } else if (!pointer && c->pointer_) {
            wl_pointer_release(c->pointer_);
            c->pointer_ = nullptr;
            c->focus_ = nullptr;
        }
    },
    [](void*, wl_seat*, const char*) {},
};

const wl_pointer_listener Connection::pointerListener = {
    // enter
    [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
        auto* c = static_cast<Connection*>(data);
        c->focus_ = c->find(surface);
        if (c->focus_)
            c->focus_->pointerMotion({wl_fixed_to_double(x), wl_fixed_to_double(y)});
    },
    // leave
    [](void* data, wl_pointer*, std::uint32_t, wl_surface*) {
        auto* c = static_cast<Connection*>(data);
        if (c->focus_)
            c->focus_->pointerLeave();
        c->focus_ = nullptr;
    },
    // motion
    [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
        auto* c = static_cast<Connection*>(data);
        if (c->focus_)
            c->focus_->pointerMotion({wl_fixed_to_double(x), wl_fixed_to_double(y)});
    },
    // button
    [](void* data, wl_pointer*, std::uint32_t serial, std::uint32_t, std::uint32_t button,
       std::uint32_t state) {
        auto* c = static_cast<Connection*>(data);
        const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
        if (pressed)
            c->pressSerial_ = serial;
        if (c->focus_)
            c->focus_->pointerButton(serial, button, pressed);
    },
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}, // axis
    [](void*, wl_pointer*) {},                                           // frame
    [](void*, wl_pointer*, std::uint32_t) {},                            // axis_source
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},             // axis_stop
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},              // axis_discrete
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},              // axis_value120
};

Surface* Connection::find(wl_surface* surface) const {
    for (Surface* s : surfaces_)
        if (s->surface() == surface)
            return s;
    return nullptr;
}

void Connection::remove(Surface* surface) {
    surfaces_.erase(std::remove(surfaces_.begin(), surfaces_.end(), surface), surfaces_.end());
    if (focus_ == surface)
        focus_ = nullptr;
}

WidgetSurface* Connection::widgetSurface(QWidget* window) const {
    for (Surface* s : surfaces_)
        if (auto* w = dynamic_cast<WidgetSurface*>(s); w && w->content() == window)
            return w;
    return nullptr;
}

void Connection::setMenu(MenuSurface* menu) {
    if (menu_)
        menu_->close();
    menu_ = menu;
}

void Connection::menuClosed(MenuSurface* menu) {
    if (menu_ == menu)
        menu_ = nullptr;
}

void Connection::dropMenuOf(const WidgetSurface* parent) {
    if (menu_ && menu_->parentSurface() == parent)
        delete menu_.data();
}

const Output* Connection::outputFor(const QRect& rect) const {
    const Output* best = nullptr;
    qint64 bestArea = -1;
    for (const auto& o : outputs_) {
        const QRect shown = o->logical.intersected(rect);
        const qint64 area = qint64(shown.width()) * shown.height();
        if (area > bestArea) {
            bestArea = area;
            best = o.get();
        }
    }
    return best;
}

bool offered() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool found = false;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
            if (!std::strcmp(interface, zwlr_layer_shell_v1_interface.name))
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, std::uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &found);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

bool attach(QWidget* window) {
    Connection* connection = Connection::instance();
    if (!connection || !connection->ready())
        return false;
    // Qt keeps the window a visible widget (events, layouts, painting) without a window of its
    // own on the screen; the layer surface shows it.
    window->setAttribute(Qt::WA_DontShowOnScreen);
    new WidgetSurface(connection, window);
    return true;
}

bool popUp(QMenu* menu, QWidget* window, QPoint globalPos) {
    Connection* connection = Connection::instance();
    WidgetSurface* parent = connection ? connection->widgetSurface(window) : nullptr;
    if (!parent || !parent->layer() || !connection->wmBase())
        return false;
    connection->setMenu(new MenuSurface(connection, menu, parent, globalPos - window->pos(),
                                        connection->pressSerial()));
    return true;
}

} // namespace tessel::host::LayerShell
