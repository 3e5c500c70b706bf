#include "session/reload_signal.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include "widget_api/desktop_widget.h"

namespace tessel::ReloadSignal {

void send(std::string_view kind) {
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

} // namespace tessel::ReloadSignal
