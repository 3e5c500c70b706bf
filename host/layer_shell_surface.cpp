// A surface's shared-memory buffers and its painting, and the placed widget's layer surface:
// shown and hidden with its window, kept on the output that shows most of it.
#include "host/layer_shell_wayland.h"

#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace tessel::host::LayerShell {

namespace {

constexpr char layerNamespace[] = "tessel-widget";

} // namespace

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

} // namespace tessel::host::LayerShell
