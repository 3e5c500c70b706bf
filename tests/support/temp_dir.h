// A fresh directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tessel::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `content` to path()/relative, creating the directories on the way.
    std::filesystem::path write(const std::filesystem::path& relative,
                                const std::string& content) const;

private:
    std::filesystem::path path_;
};

// The permission bits of a file or directory, e.g. 0600.
unsigned modeOf(const std::filesystem::path& path);

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace tessel::test
