// A snapshot as the sync service publishes it: immutable, so the GUI thread and workers read the
// same one without copies, and indexed by subscription id, so that one subscription is found
// without walking them all. Made on a worker; freed on one too, since freeing a hundred thousand
// subscriptions takes longer than a frame.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "model/snapshot.h"

namespace tessel {

class SharedSnapshot {
public:
    using Ptr = std::shared_ptr<const SharedSnapshot>;

    // Indexes `snapshot`; costs a pass over its subscriptions, so workers call it. Whoever
    // lets go of the last owner on the GUI thread leaves the freeing to the global thread pool.
    static Ptr make(Snapshot snapshot);

    const Snapshot& snapshot() const { return snapshot_; }
    // Position of the first subscription whose Quota::id() is `id`.
    std::optional<std::size_t> position(std::string_view id) const;
    const Quota* quota(std::string_view id) const;

private:
    explicit SharedSnapshot(Snapshot snapshot);

    Snapshot snapshot_;
    // Hash of each id with its position, ordered by hash then position.
    std::vector<std::pair<std::size_t, std::uint32_t>> ids_;
};

} // namespace tessel
