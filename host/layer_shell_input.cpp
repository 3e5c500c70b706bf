// Pointer input on the layer surfaces: a placed widget's events become Qt mouse events for its
// children, and the right-click menu is an xdg_popup that is hovered and clicked by hand.
#include "host/layer_shell_wayland.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <linux/input-event-codes.h>

namespace tessel::host::LayerShell {

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

// ---- WidgetSurface

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

} // namespace tessel::host::LayerShell
