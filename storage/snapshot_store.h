// snapshot.json and its backup previous.json in the shared container.
#pragma once

#include <filesystem>
#include <optional>

#include "model/snapshot.h"

namespace tessel {

class SnapshotStore {
public:
    // The store of the shared container.
    SnapshotStore();
    explicit SnapshotStore(std::optional<std::filesystem::path> directory);

    // Never fails: snapshot.json, else previous.json, else the empty snapshot. Failures are
    // logged unless `log` is false (a second read of files summary() has just judged).
    Snapshot load(bool log = true) const;
    // What load() gives with each list cut to its last element: the small fields and the keys
    // of a large snapshot at the memory cost of a small one.
    Snapshot summary() const;
    // Throws std::system_error (or DecodingError-free encoding errors); atomic per file.
    void save(const Snapshot& snapshot) const;

    const std::optional<std::filesystem::path>& directory() const { return directory_; }

private:
    Snapshot read(bool lists, bool log) const;

    std::optional<std::filesystem::path> directory_;
};

} // namespace tessel
