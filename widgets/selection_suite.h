// The selection integers of the widgets' groups: selection.ini, an INI file in QSettings'
// format in the shared container, read and written only by the plug-in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tessel {

class SelectionSuite {
public:
    static constexpr const char* fileName = "selection.ini";

    // The suite of the shared container.
    SelectionSuite();
    explicit SelectionSuite(std::optional<std::filesystem::path> directory);

    // 0 for an absent key, a suite that cannot be opened, or a value that is no integer.
    std::int64_t integer(const std::string& key) const;
    // Replaces the value under `key` by next(current) while holding the suite's lock, so two
    // clicks of one group count twice. False when the suite cannot be opened or written.
    bool update(const std::string& key,
                const std::function<std::int64_t(std::int64_t)>& next) const;

    const std::optional<std::filesystem::path>& directory() const { return directory_; }

private:
    std::optional<std::filesystem::path> directory_;
};

} // namespace tessel
