// Widget reload requests of this process, as the bus delivers them. Apart from support/*.h: the
// support library has no Qt, so each test program that includes this mocs it itself
// (#include "support/qt/moc_reload_listener.cpp").
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include "session/reload_signal.h"
#include "support/event_loop.h"
#include "widget_api/desktop_widget.h"

namespace tessel::test {

class ReloadListener : public QObject {
    Q_OBJECT
public:
    ReloadListener() {
        // Only this process's signals: other test programs share the bus.
        QDBusConnection bus = QDBusConnection::sessionBus();
        connected =
            bus.connect(bus.baseService(), DesktopWidget::objectPath, DesktopWidget::interfaceName,
                        DesktopWidget::reloadSignal, this, SLOT(received(QString)));
    }
    // The kinds reloaded since the last call, once everything sent before this call arrived.
    QStringList flush() {
        ReloadSignal::send("marker");
        spin([this] { return kinds.contains("marker"); });
        QStringList seen = kinds;
        seen.removeAll("marker");
        kinds.clear();
        return seen;
    }
    // Reloads of the desktop widget since the last call, once `expected` of them arrived.
    int take(int expected) {
        const QString widget = QString::fromUtf8(DesktopWidget::kind);
        spin([&] { return kinds.count(widget) >= expected; });
        return int(flush().count(widget));
    }
    qsizetype pending() const { return kinds.size(); }
    bool connected = false;
public slots:
    void received(const QString& kind) { kinds << kind; }

private:
    QStringList kinds;
};

} // namespace tessel::test
