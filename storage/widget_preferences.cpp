#include "storage/widget_preferences.h"

#include <cerrno>
#include <system_error>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/file_io.h"

namespace tessel {

namespace {
constexpr const char* fileName = "widget-preferences.json";
} // namespace

WidgetPreferencesStore::WidgetPreferencesStore() : directory_(SharedContainer::directory()) {}

WidgetPreferencesStore::WidgetPreferencesStore(std::optional<std::filesystem::path> directory)
    : directory_(std::move(directory)) {}

WidgetPreferences WidgetPreferencesStore::load() const {
    if (!directory_)
        return {};
    // Every key present with its own JSON type, else the whole file reads as the defaults.
    try {
        return Wire::decode<WidgetPreferences>(FileIO::read(*directory_ / fileName));
    } catch (const std::system_error&) {
    } catch (const DecodingError&) {
    }
    return {};
}

void WidgetPreferencesStore::save(const WidgetPreferences& preferences) const {
    if (!directory_)
        throw std::system_error(ENOENT, std::generic_category());
    FileIO::makeDirectory(*directory_);
    // Texts that are not UTF-8 fail (EILSEQ) instead of writing a file every reader rejects.
    const std::string bytes = Wire::encode(preferences);
    FileIO::writeAtomically(*directory_ / fileName, bytes);
}

} // namespace tessel
