#include "widgets/cycle.h"

#include <limits>

#include "session/reload_signal.h"
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
    ReloadSignal::send(DesktopWidget::kind);
}

} // namespace tessel
