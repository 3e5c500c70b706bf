#include "app/tray_popup.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "sync/data_sync_service.h"

#include "app/menu_panel.h"

namespace tessel {

namespace {

Qt::WindowFlags popupFlags() {
    if (QGuiApplication::platformName() == u"xcb")
        return Qt::Popup;
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

} // namespace

TrayPopup::TrayPopup(DataSyncService* sync, QWidget* parent) : QWidget(parent, popupFlags()) {
    setWindowTitle(QStringLiteral("Tessel Widget"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel = new MenuPanel(sync);
    panel_ = panel;
    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(panel);
    layout->addWidget(scroll_);
    // Cards that arrive while it is open make the panel taller.
    panel->installEventFilter(this);
    // Every action leaves the popup; the dashboard then takes the focus.
    connect(panel, &MenuPanel::dashboardRequested, this, [this] {
        hide();
        emit dashboardRequested();
    });
    connect(panel, &MenuPanel::checkForUpdatesRequested, this, [this] {
        hide();
        emit checkForUpdatesRequested();
    });
    connect(panel, &MenuPanel::quitRequested, this, &TrayPopup::quitRequested);
}

QRect TrayPopup::placement(QRect anchor, QSize size, QRect area) {
    constexpr int gap = 4;
    // A panel at the bottom edge gets the popup above the icon, one at the top below it; never
    // over the icon, so a second click on it still reaches it.
    const bool above = anchor.center().y() > area.center().y();
    const int top = above ? area.top() : std::max(area.top(), anchor.bottom() + 1 + gap);
    const int bottom = above ? std::min(area.bottom(), anchor.top() - 1 - gap) : area.bottom();
    size = size.boundedTo(QSize(area.width(), std::max(bottom - top + 1, 0)));
    int x = anchor.center().x() - size.width() / 2;
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    const int y = above ? std::max(top, anchor.top() - gap - size.height()) : top;
    return {QPoint(x, y), size};
}

void TrayPopup::popUp(QRect anchor) {
    anchor_ = anchor;
    fit();
    show();
    raise();
    activateWindow();
}

// The panel's height for its width, plus a scroll bar when that is more than the room there.
void TrayPopup::fit() {
    QScreen* screen = QGuiApplication::screenAt(anchor_.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QSize wanted = panel_->sizeHint();
    if (!screen) {
        setFixedSize(wanted);
        return;
    }
    const QRect area = screen->availableGeometry();
    QRect place = placement(anchor_, wanted, area);
    if (place.height() < wanted.height()) {
        wanted.rwidth() += scroll_->verticalScrollBar()->sizeHint().width();
        place = placement(anchor_, wanted, area);
    }
    setFixedSize(place.size());
    move(place.topLeft());
}

bool TrayPopup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::LayoutRequest && isVisible())
        fit();
    return QWidget::eventFilter(watched, event);
}

bool TrayPopup::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && isVisible() &&
        !windowFlags().testFlag(Qt::Popup))
        hide();
    return QWidget::event(event);
}

void TrayPopup::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tessel
