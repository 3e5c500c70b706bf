// widget-preferences.json in the shared container.
#pragma once

#include <filesystem>
#include <optional>

#include "model/widget_preferences.h"

namespace tessel {

class WidgetPreferencesStore {
public:
    WidgetPreferencesStore();
    explicit WidgetPreferencesStore(std::optional<std::filesystem::path> directory);

    // Never fails; anything unusable reads as the defaults.
    WidgetPreferences load() const;
    // Throws std::system_error; atomic.
    void save(const WidgetPreferences& preferences) const;

    const std::optional<std::filesystem::path>& directory() const { return directory_; }

private:
    std::optional<std::filesystem::path> directory_;
};

} // namespace tessel
