// The directory shared by the application and the widgets.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tessel {

namespace SharedContainer {
inline constexpr const char* defaultGroupID = "group.net.quorvane.TesselWidget";

// The build setting when one was given, else the default.
std::string groupID();
// $XDG_DATA_HOME/<groupID>, else ~/.local/share/<groupID>; absent without either.
// Only locates; the stores create it (0700) when they write.
std::optional<std::filesystem::path> directory();
} // namespace SharedContainer

} // namespace tessel
