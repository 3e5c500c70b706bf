#include "host/layer_shell.h"

#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <wayland-client.h>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace tessel::host::LayerShell {

namespace {

constexpr char layerNamespace[] = "tessel-widget";

struct Output {
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    std::uint32_t id = 0; // registry name
    QString name;
    QRect logical;
    int scale = 1;
};

// A surface whose content is a Qt widget painted into shared memory.
class Surface : public QObject {
public:
    Surface(class Connection* connection, QWidget* content);
    ~Surface() override;

    QWidget* content() const { return content_; }
    wl_surface* surface() const { return surface_; }
    virtual int scale() const { return 1; }
    // Paints on the next event-loop pass; repeated calls paint once.
    void schedule();
    virtual void pointerMotion(QPointF at) = 0;
    virtual void pointerButton(std::uint32_t serial, std::uint32_t button, bool pressed) = 0;
    virtual void pointerLeave() {}

protected:
    struct Buffer {
        wl_buffer* buffer = nullptr;
        void* data = nullptr;
        std::size_t size = 0;
        QSize pixels;
        bool busy = false;
    };
    void createSurface();
    void destroySurface();
    void paint();
    Buffer* freeBuffer(QSize pixels);
    void dropBuffers();

    Connection* connection_;
    QPointer<QWidget> content_;
    wl_surface* surface_ = nullptr;
    bool configured_ = false;
    bool scheduled_ = false;
    std::vector<std::unique_ptr<Buffer>> buffers_;
};

// A placed widget: a layer surface that follows its window's visibility, position and size.
class WidgetSurface : public Surface {
public:
    WidgetSurface(Connection* connection, QWidget* window);
    ~WidgetSurface() override;

    zwlr_layer_surface_v1* layer() const { return layer_; }
    int scale() const override { return output_ ? std::max(output_->scale, 1) : 1; }
    void pointerMotion(QPointF at) override;
    void pointerButton(std::uint32_t serial, std::uint32_t button, bool pressed) override;
    void pointerLeave() override;
    void outputGone(const Output* output);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static const zwlr_layer_surface_v1_listener listener;
    void map();
    void unmap();
    void place();
    void send(QEvent::Type type, Qt::MouseButton button);

    zwlr_layer_surface_v1* layer_ = nullptr;
    const Output* output_ = nullptr;
    QPointF pointer_;
    Qt::MouseButtons buttons_;
    QPointer<QWidget> grab_; // the child that took the press gets the moves and the release
};

// The right-click menu: an xdg_popup of the widget's layer surface, grabbing the pointer so that
// a click elsewhere closes it.
class MenuSurface : public Surface {
public:
    MenuSurface(Connection* connection, QMenu* menu, WidgetSurface* parent, QPoint at,
                std::uint32_t serial);
    ~MenuSurface() override;

    int scale() const override { return scale_; }
    const WidgetSurface* parentSurface() const { return parent_; }
    void pointerMotion(QPointF at) override;
    void pointerButton(std::uint32_t serial, std::uint32_t button, bool pressed) override;
    void close();

private:
    void release();

    static const xdg_surface_listener surfaceListener;
    static const xdg_popup_listener popupListener;

    QPointer<QMenu> menu_;
    QPointer<WidgetSurface> parent_;
    xdg_surface* xdg_ = nullptr;
    xdg_popup* popup_ = nullptr;
    int scale_ = 1;
    QPointF enteredAt_{-1, -1};
    bool moved_ = false;
    bool pressed_ = false;
};

class Connection : public QObject {
public:
    static Connection* instance();
    ~Connection() override;

    bool ready() const { return compositor_ && shm_ && layerShell_; }
    wl_display* display() const { return display_; }
    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    xdg_wm_base* wmBase() const { return wmBase_; }
    wl_seat* seat() const { return seat_; }
    std::uint32_t pressSerial() const { return pressSerial_; }

    // The output that shows most of `rect`, else the first one; null when none is known.
    const Output* outputFor(const QRect& rect) const;
    void add(Surface* surface) { surfaces_.push_back(surface); }
    void remove(Surface* surface);
    WidgetSurface* widgetSurface(QWidget* window) const;
    void setMenu(MenuSurface* menu);
    void menuClosed(MenuSurface* menu);
    // A popup must go before the surface it belongs to.
    void dropMenuOf(const WidgetSurface* parent);
    void flush() { wl_display_flush(display_); }

private:
    Connection();
    Surface* find(wl_surface* surface) const;

    static const wl_registry_listener registryListener;
    static const wl_output_listener outputListener;
    static const zxdg_output_v1_listener xdgOutputListener;
    static const wl_seat_listener seatListener;
    static const wl_pointer_listener pointerListener;
    static const xdg_wm_base_listener wmBaseListener;

    void global(std::uint32_t name, const char* interface, std::uint32_t version);
    void globalRemoved(std::uint32_t name);
    void watchOutput(Output* output);
    void broken();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::vector<Surface*> surfaces_;
    QPointer<MenuSurface> menu_;
    Surface* focus_ = nullptr;
    std::uint32_t pressSerial_ = 0;
    QSocketNotifier* notifier_ = nullptr;
};

Qt::MouseButton qtButton(std::uint32_t button) {
    switch (button) {
    case BTN_LEFT:
        return Qt::LeftButton;
    case BTN_RIGHT:
        return Qt::RightButton;
    case BTN_MIDDLE:
        return Qt::MiddleButton;
    default:
        return Qt::NoButton;
    }
}

// ---- Connection

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

// ---- Surface

Surface::Surface(Connection* connection, QWidget* content)
    : connection_(connection), content_(content) {
    connection_->add(this);
}

Surface::~Surface() {
    connection_->remove(this);
    dropBuffers();
    if (surface_)
        wl_surface_destroy(surface_);
}

void Surface::createSurface() {
    surface_ = wl_compositor_create_surface(connection_->compositor());
    configured_ = false;
}

void Surface::destroySurface() {
    dropBuffers();
    if (surface_)
        wl_surface_destroy(surface_);
    surface_ = nullptr;
    configured_ = false;
}

void Surface::schedule() {
    if (scheduled_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        paint();
    });
}

void Surface::paint() {
    if (!surface_ || !configured_ || !content_)
        return;
    const int scale = this->scale();
    const QSize pixels = content_->size() * scale;
    if (pixels.isEmpty())
        return;
    Buffer* buffer = freeBuffer(pixels);
    if (!buffer)
        return;
    QImage image(static_cast<uchar*>(buffer->data), pixels.width(), pixels.height(),
                 pixels.width() * 4, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    content_->render(&image, QPoint(), QRegion(),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
    wl_surface_set_buffer_scale(surface_, scale);
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, content_->width(), content_->height());
    wl_surface_commit(surface_);
    buffer->busy = true;
    connection_->flush();
}

Surface::Buffer* Surface::freeBuffer(QSize pixels) {
    // Buffers of another size are dropped; two of the right size are enough, since the
    // compositor holds at most the one on screen.
    buffers_.erase(std::remove_if(buffers_.begin(), buffers_.end(),
                                  [&](const auto& b) {
                                      if (b->pixels == pixels)
                                          return false;
                                      wl_buffer_destroy(b->buffer);
                                      munmap(b->data, b->size);
                                      return true;
                                  }),
                   buffers_.end());
    for (const auto& b : buffers_)
        if (!b->busy)
            return b.get();
    if (buffers_.size() >= 2)
        return buffers_.front().get(); // never released: the compositor copied it
    const int stride = pixels.width() * 4;
    const std::size_t size = std::size_t(stride) * pixels.height();
    const int fd = memfd_create("tessel-widget", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (ftruncate(fd, off_t(size)) != 0) {
        close(fd);
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(connection_->shm(), fd, int(size));
    auto buffer = std::make_unique<Buffer>();
    buffer->buffer = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride,
                                               WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    buffer->data = data;
    buffer->size = size;
    buffer->pixels = pixels;
    static const wl_buffer_listener released = {
        [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }};
    wl_buffer_add_listener(buffer->buffer, &released, buffer.get());
    buffers_.push_back(std::move(buffer));
    return buffers_.back().get();
}

void Surface::dropBuffers() {
    for (const auto& b : buffers_) {
        wl_buffer_destroy(b->buffer);
        munmap(b->data, b->size);
    }
    buffers_.clear();
}

// ---- WidgetSurface

WidgetSurface::WidgetSurface(Connection* connection, QWidget* window)
    : Surface(connection, window) {
    setParent(window);
    window->installEventFilter(this);
}

WidgetSurface::~WidgetSurface() {
    unmap();
}

const zwlr_layer_surface_v1_listener WidgetSurface::listener = {
    [](void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t,
       std::uint32_t) {
        auto* s = static_cast<WidgetSurface*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        s->configured_ = true;
        s->paint();
    },
    [](void* data, zwlr_layer_surface_v1*) {
        // The compositor will not show it any more (its output went): on another one.
        auto* s = static_cast<WidgetSurface*>(data);
        QTimer::singleShot(0, s, [s] {
            s->unmap();
            if (s->content_ && s->content_->isVisible())
                s->map();
        });
    },
};

bool WidgetSurface::eventFilter(QObject* watched, QEvent* event) {
    if (watched != content_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        map();
        break;
    case QEvent::Hide:
        unmap();
        break;
    case QEvent::Move:
        place();
        break;
    case QEvent::Resize:
        if (layer_) {
            zwlr_layer_surface_v1_set_size(layer_, std::uint32_t(content_->width()),
                                           std::uint32_t(content_->height()));
            schedule();
        }
        break;
    case QEvent::UpdateRequest:
    case QEvent::LayoutRequest:
        schedule();
        break;
    default:
        break;
    }
    return false;
}

void WidgetSurface::map() {
    if (layer_ || !content_)
        return;
    createSurface();
    output_ = connection_->outputFor(content_->geometry());
    layer_ = zwlr_layer_shell_v1_get_layer_surface(
        connection_->layerShell(), surface_, output_ ? output_->output : nullptr,
        ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM, layerNamespace);
    zwlr_layer_surface_v1_add_listener(layer_, &listener, this);
    zwlr_layer_surface_v1_set_size(layer_, std::uint32_t(content_->width()),
                                   std::uint32_t(content_->height()));
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                 ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    // Measured from the output's edge, not from a panel's: the position is the saved one.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    place();
    wl_surface_commit(surface_);
    connection_->flush();
}

void WidgetSurface::unmap() {
    connection_->dropMenuOf(this);
    if (layer_)
        zwlr_layer_surface_v1_destroy(layer_);
    layer_ = nullptr;
    output_ = nullptr;
    grab_ = nullptr;
    destroySurface();
    connection_->flush();
}

void WidgetSurface::outputGone(const Output* output) {
    if (output_ != output)
        return;
    unmap();
    if (content_ && content_->isVisible())
        map();
}

// The window's position becomes the margins from its output's top-left corner.
void WidgetSurface::place() {
    if (!layer_ || !content_)
        return;
    const Output* wanted = connection_->outputFor(content_->geometry());
    if (wanted != output_) {
        // A layer surface keeps its output: moved onto another one, it is made anew there.
        unmap();
        map();
        return;
    }
    const QPoint origin = output_ ? output_->logical.topLeft() : QPoint();
    const QPoint margin = content_->pos() - origin;
    zwlr_layer_surface_v1_set_margin(layer_, margin.y(), 0, 0, margin.x());
    if (configured_)
        wl_surface_commit(surface_);
    connection_->flush();
}

// Mouse events go to the child under the pointer, as Qt would deliver them, with global
// positions from the window's place, which is where the layer surface is.
void WidgetSurface::send(QEvent::Type type, Qt::MouseButton button) {
    if (!content_)
        return;
    QWidget* target = grab_;
    if (!target)
        target = content_->childAt(pointer_.toPoint());
    if (!target)
        target = content_;
    const QPointF local = target->mapFrom(content_, pointer_);
    const QPointF global = pointer_ + content_->pos();
    QMouseEvent mouse(type, local, pointer_, global, button, buttons_, Qt::NoModifier);
    QPointer<QWidget> guard = target;
    QApplication::sendEvent(target, &mouse);
    if (type == QEvent::MouseButtonPress)
        grab_ = guard;
    if (type == QEvent::MouseButtonPress && button == Qt::RightButton && guard) {
        QContextMenuEvent menu(QContextMenuEvent::Mouse, local.toPoint(), global.toPoint());
        QApplication::sendEvent(guard, &menu);
    }
    if (type == QEvent::MouseButtonRelease && buttons_ == Qt::NoButton)
        grab_ = nullptr;
    schedule();
}

void WidgetSurface::pointerMotion(QPointF at) {
    pointer_ = at;
    send(QEvent::MouseMove, Qt::NoButton);
}

void WidgetSurface::pointerButton(std::uint32_t, std::uint32_t button, bool pressed) {
    const Qt::MouseButton b = qtButton(button);
    if (b == Qt::NoButton)
        return;
    buttons_.setFlag(b, pressed);
    send(pressed ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, b);
}

void WidgetSurface::pointerLeave() {
    // Buttons held when the pointer leaves (a drag ending outside) are let go.
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        if (buttons_.testFlag(b)) {
            buttons_.setFlag(b, false);
            send(QEvent::MouseButtonRelease, b);
        }
    grab_ = nullptr;
}

// ---- MenuSurface

MenuSurface::MenuSurface(Connection* connection, QMenu* menu, WidgetSurface* parent, QPoint at,
                         std::uint32_t serial)
    : Surface(connection, menu), menu_(menu), parent_(parent), scale_(parent->scale()) {
    setParent(connection);
    menu->ensurePolished();
    menu->resize(menu->sizeHint());
    createSurface();
    xdg_ = xdg_wm_base_get_xdg_surface(connection_->wmBase(), surface_);
    xdg_surface_add_listener(xdg_, &surfaceListener, this);
    xdg_positioner* positioner = xdg_wm_base_create_positioner(connection_->wmBase());
    xdg_positioner_set_size(positioner, menu->width(), menu->height());
    xdg_positioner_set_anchor_rect(positioner, at.x(), at.y(), 1, 1);
    xdg_positioner_set_anchor(positioner, XDG_POSITIONER_ANCHOR_BOTTOM_RIGHT);
    xdg_positioner_set_gravity(positioner, XDG_POSITIONER_GRAVITY_BOTTOM_RIGHT);
    xdg_positioner_set_constraint_adjustment(positioner,
                                             XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_SLIDE_X |
                                                 XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_SLIDE_Y |
                                                 XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_FLIP_X |
                                                 XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_FLIP_Y);
    popup_ = xdg_surface_get_popup(xdg_, nullptr, positioner);
    xdg_positioner_destroy(positioner);
    xdg_popup_add_listener(popup_, &popupListener, this);
    zwlr_layer_surface_v1_get_popup(parent->layer(), popup_);
    if (connection_->seat())
        xdg_popup_grab(popup_, connection_->seat(), serial);
    wl_surface_commit(surface_);
    connection_->flush();
    connect(menu, &QObject::destroyed, this, &MenuSurface::close);
}

MenuSurface::~MenuSurface() {
    release();
    if (menu_)
        menu_->deleteLater();
}

// The popup leaves the screen at once; the objects go on the next event-loop pass.
void MenuSurface::release() {
    connection_->menuClosed(this);
    if (popup_)
        xdg_popup_destroy(popup_);
    if (xdg_)
        xdg_surface_destroy(xdg_);
    popup_ = nullptr;
    xdg_ = nullptr;
    destroySurface();
    connection_->flush();
}

const xdg_surface_listener MenuSurface::surfaceListener = {
    [](void* data, xdg_surface* xdg, std::uint32_t serial) {
        auto* s = static_cast<MenuSurface*>(data);
        xdg_surface_ack_configure(xdg, serial);
        s->configured_ = true;
        s->paint();
    },
};

const xdg_popup_listener MenuSurface::popupListener = {
    [](void*, xdg_popup*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
    [](void* data, xdg_popup*) {
        // A click elsewhere: the compositor took the popup down.
        auto* s = static_cast<MenuSurface*>(data);
        QTimer::singleShot(0, s, &MenuSurface::close);
    },
    [](void*, xdg_popup*, std::uint32_t) {},
};

void MenuSurface::close() {
    release();
    if (menu_)
        menu_->deleteLater();
    menu_ = nullptr;
    deleteLater();
}

void MenuSurface::pointerMotion(QPointF at) {
    if (enteredAt_.x() < 0)
        enteredAt_ = at;
    else if ((at - enteredAt_).manhattanLength() >= QApplication::startDragDistance())
        moved_ = true;
    if (!menu_)
        return;
    QAction* action = menu_->actionAt(at.toPoint());
    if (action != menu_->activeAction()) {
        menu_->setActiveAction(action);
        schedule();
    }
}

// A click on an item, or the right button let go on one after moving there, chooses it; the
// release of the click that opened the menu does not.
void MenuSurface::pointerButton(std::uint32_t, std::uint32_t button, bool pressed) {
    if (pressed) {
        pressed_ = true;
        return;
    }
    if (!menu_ || (!pressed_ && !moved_) || qtButton(button) == Qt::NoButton)
        return;
    QPointer<QAction> action = menu_->activeAction();
    if (!action || !action->isEnabled() || action->isSeparator() || action->menu())
        return;
    close();
    action->trigger();
}

} // namespace

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
