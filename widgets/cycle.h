// The small widget's button: advance the group's selected subscription, then reload.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tessel {

struct CycleSubscriptionIntent {
    static constexpr const char* title = "切换订阅";

    std::string selectionKey; // "选择组"
    std::int64_t count = 0;   // "订阅数"

    // (p + 1) mod max(count, 1), remainder with the dividend's sign, as the readers expect.
    static std::int64_t next(std::int64_t position, std::int64_t count);

    // Stores the next position in the container's suite (when it can be opened) and asks the
    // host to reload every widget of our kind, in either case.
    void perform() const;
    void perform(const std::optional<std::filesystem::path>& directory) const;
};

// The session-bus reload request for the widget kind; a no-op without an application object
// or a bus.
void requestReload();

} // namespace tessel
