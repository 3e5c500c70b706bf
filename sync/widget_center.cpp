#include "sync/widget_center.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

namespace tessel::WidgetCenter {

void reloadTimelines(std::string_view kind) {
    // Qt's bus connections need an application object; without one there is nobody to tell.
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message =
        QDBusMessage::createSignal(QString::fromLatin1(DesktopWidget::objectPath),
                                   QString::fromLatin1(DesktopWidget::interfaceName),
                                   QString::fromLatin1(DesktopWidget::reloadSignal));
    message << QString::fromUtf8(kind.data(), static_cast<qsizetype>(kind.size()));
    bus.send(message);
}

void flush() {
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Messages leave a connection in order, so the answer to a ping comes after them.
    bus.call(QDBusMessage::createMethodCall(
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
             QDBus::Block, 2000);
}

} // namespace tessel::WidgetCenter
