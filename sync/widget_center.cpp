#include "sync/widget_center.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include "session/reload_signal.h"

namespace tessel::WidgetCenter {

void reloadTimelines(std::string_view kind) {
    ReloadSignal::send(kind);
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
