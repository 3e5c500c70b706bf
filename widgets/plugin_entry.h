// Our entries and views behind the host contract's plain types.
#pragma once

#include <memory>

#include "widget_api/widget_plugin.h"
#include "widgets/provider.h"

namespace tessel::PluginEntry {

QDateTime dateTime(Instant instant);
widget::Entry wrap(Entry entry);
// The entry inside; the placeholder for an entry that is not ours.
Entry unwrap(const widget::Entry& entry);
std::unique_ptr<widget::WidgetView> view(const widget::Entry& entry, widget::Family family,
                                         const widget::ViewActions& actions,
                                         QWidget* parent = nullptr);

} // namespace tessel::PluginEntry
