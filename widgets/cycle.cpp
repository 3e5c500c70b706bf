#include "widgets/cycle.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <limits>

#include "storage/container.h"
#include "widget_api/desktop_widget.h"
#include "widgets/selection_suite.h"

namespace tessel {

std::int64_t CycleSubscriptionIntent::next(std::int64_t position, std::int64_t count) {
    const std::int64_t m = count > 1 ? count : 1;
    // p + 1 would overflow at the top of the range; p mod m + 1 is the same there (p > 0).
    if (position == std::numeric_limits<std::int64_t>::max())
        return (position % m + 1) % m;
    return (position + 1) % m;
}

void CycleSubscriptionIntent::perform() const {
    perform(SharedContainer::directory());
}

void CycleSubscriptionIntent::perform(const std::optional<std::filesystem::path>& directory) const {
    const std::int64_t m = count;
    SelectionSuite(directory).update(selectionKey,
                                     [m](std::int64_t position) { return next(position, m); });
    requestReload();
}

void requestReload() {
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message =
        QDBusMessage::createSignal(QString::fromLatin1(DesktopWidget::objectPath),
                                   QString::fromLatin1(DesktopWidget::interfaceName),
                                   QString::fromLatin1(DesktopWidget::reloadSignal));
    message << QString::fromUtf8(DesktopWidget::kind.data(), qsizetype(DesktopWidget::kind.size()));
    bus.send(message);
}

} // namespace tessel
