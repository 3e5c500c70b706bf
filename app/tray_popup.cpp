#include "app/tray_popup.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <utility>

#include "sync/data_sync_service.h"

#include "app/menu_panel.h"

namespace tessel {

namespace {

Qt::WindowFlags popupFlags() {
    if (QGuiApplication::platformName() == u"xcb")
        return Qt::Popup;
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

QList<TrayPopup*> shownPopups() {
    QList<TrayPopup*> shown;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* popup = qobject_cast<TrayPopup*>(window); popup && popup->isVisible())
            shown << popup;
    return shown;
}

// The application's node for screen readers, with the shown tray popup among its windows. Qt
// leaves popup windows out (a menu's popup is reached through its menu), so the panel, a popup
// of its own on X11, would have no way in from the application.
class ApplicationNode : public QAccessibleApplication {
public:
    int childCount() const override {
        return QAccessibleApplication::childCount() + int(shownPopups().size());
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0 || !child)
            return index;
        const int popup = int(shownPopups().indexOf(qobject_cast<TrayPopup*>(child->object())));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + popup;
    }
    QAccessibleInterface* child(int index) const override {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows)
            return QAccessibleApplication::child(index);
        const QList<TrayPopup*> popups = shownPopups();
        return index - windows < popups.size()
                   ? QAccessible::queryAccessibleInterface(popups[index - windows])
                   : nullptr;
    }
};

QAccessibleInterface* accessibleNode(const QString& className, QObject* object) {
    if (object == qApp && className == u"QApplication")
        return new ApplicationNode;
    // A window of its own, announced as one (a plain widget's node is a "filler").
    if (auto* popup = qobject_cast<TrayPopup*>(object))
        return new QAccessibleWidget(popup, QAccessible::Window);
    return nullptr;
}

// Once per process; a node Qt made for the application before this one counts no popups, so it
// goes (the accessibility bridge asks for the application's node afresh at every request).
void exposeToScreenReaders() {
    static bool installed = false;
    if (std::exchange(installed, true) || !qobject_cast<QApplication*>(qApp))
        return;
    QAccessible::installFactory(accessibleNode);
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(qApp);
    if (node && !dynamic_cast<ApplicationNode*>(node)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(node));
        QAccessible::queryAccessibleInterface(qApp);
    }
}

} // namespace

TrayPopup::TrayPopup(DataSyncService* sync, QWidget* parent) : QWidget(parent, popupFlags()) {
    exposeToScreenReaders();
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
