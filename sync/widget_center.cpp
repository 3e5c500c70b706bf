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
    QDBusMessage message = QDBusMessage::createSignal(QString::fromLatin1(objectPath),
                                                      QString::fromLatin1(interfaceName),
                                                      QString::fromLatin1(reloadSignal));
    message << QString::fromUtf8(kind.data(), static_cast<qsizetype>(kind.size()));
    bus.send(message);
}

} // namespace tessel::WidgetCenter
