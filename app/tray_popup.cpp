#include "app/tray_popup.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
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
    auto* panel = new MenuPanel(sync, this);
    panel_ = panel;
    layout->addWidget(panel);
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

QPoint TrayPopup::placement(QRect anchor, QSize size, QRect screen) {
    constexpr int gap = 4;
    int x = anchor.center().x() - size.width() / 2;
    // A panel at the bottom edge gets the popup above the icon, one at the top below it; never
    // over the icon, so a second click on it still reaches it.
    int y = anchor.center().y() > screen.center().y() ? anchor.top() - size.height() - gap
                                                      : anchor.bottom() + 1 + gap;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return {x, y};
}

void TrayPopup::popUp(QRect anchor) {
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        move(placement(anchor, sizeHint().expandedTo(size()), screen->availableGeometry()));
    show();
    raise();
    activateWindow();
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
