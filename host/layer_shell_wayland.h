// The pieces of the layer-shell route: the host's own Wayland connection (registry, outputs,
// seat), and the surfaces that show a Qt widget painted into shared memory. Only the
// layer_shell*.cpp files include this; the rest of the host knows layer_shell.h.
#pragma once

#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QString>

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <vector>

class QMenu;
class QSocketNotifier;
class QWidget;

namespace tessel::host::LayerShell {

class Connection;

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
    Surface(Connection* connection, QWidget* content);
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

// The Qt button of a Linux input button code; NoButton for the others.
Qt::MouseButton qtButton(std::uint32_t button);

} // namespace tessel::host::LayerShell
