#include "storage/container.h"

#include <cstdlib>

namespace tessel::SharedContainer {

namespace {
std::optional<std::filesystem::path> absoluteDirectory(const char* variable) {
    const char* value = std::getenv(variable);
    // XDG base directories must be absolute; a relative value is ignored, as if unset.
    if (!value || value[0] != '/')
        return std::nullopt;
    return std::filesystem::path(value);
}
} // namespace

std::string groupID() {
    const std::string configured = TESSEL_SHARED_APP_GROUP;
    return configured.empty() ? defaultGroupID : configured;
}

std::optional<std::filesystem::path> directory() {
    if (auto data = absoluteDirectory("XDG_DATA_HOME"))
        return *data / groupID();
    if (auto home = absoluteDirectory("HOME"))
        return *home / ".local" / "share" / groupID();
    return std::nullopt;
}

} // namespace tessel::SharedContainer
