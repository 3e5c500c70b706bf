#include "app/tray_popup.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
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
// of its own on X11, had no way in from the application.
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
